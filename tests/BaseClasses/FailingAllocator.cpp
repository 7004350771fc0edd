#include "FailingAllocator.h"

#include <cstdlib>
#include <new>

namespace {

thread_local int pendingFailures = 0;

}  // namespace

void FailNextAllocations(int count) {
    pendingFailures = count;
}

int PendingAllocationFailures() {
    return pendingFailures;
}

void* operator new(std::size_t size) {
    if (pendingFailures > 0) {
        --pendingFailures;
        throw std::bad_alloc();
    }
    if (void* memory = std::malloc(size ? size : 1)) return memory;
    throw std::bad_alloc();
}

void* operator new[](std::size_t size) {
    return ::operator new(size);
}

void operator delete(void* memory) noexcept {
    std::free(memory);
}

void operator delete[](void* memory) noexcept {
    std::free(memory);
}

void operator delete(void* memory, std::size_t) noexcept {
    std::free(memory);
}

void operator delete[](void* memory, std::size_t) noexcept {
    std::free(memory);
}

// The nothrow forms too: every allocation and release of the executable
// meets the same pair, so that a sanitizer never sees one half of a pair.
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return ::operator new(size);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return ::operator new(size, std::nothrow);
}

void operator delete(void* memory, const std::nothrow_t&) noexcept {
    std::free(memory);
}

void operator delete[](void* memory, const std::nothrow_t&) noexcept {
    std::free(memory);
}
