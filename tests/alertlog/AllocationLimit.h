#pragma once
// Allocations in this test executable can be made to fail above a size, as
// they fail in a 32-bit process (or on a machine short of memory) well before
// they would on the machine that runs the tests. A test so sees what the
// code asks for, and what it does when it does not get it.

#include <cstddef>

class CAllocationLimit {
public:
    // While it lives, an allocation of more than largest bytes throws
    // std::bad_alloc.
    explicit CAllocationLimit(std::size_t largest);
    ~CAllocationLimit();
    CAllocationLimit(const CAllocationLimit&) = delete;
    CAllocationLimit& operator=(const CAllocationLimit&) = delete;
};
