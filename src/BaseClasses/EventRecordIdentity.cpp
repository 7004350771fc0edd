#include "BaseClasses/EventRecordIdentity.h"

#include <cwchar>

#include "BaseClasses/EventLogRecord.h"
#include "common/Format.h"

namespace {

constexpr uint64_t kFnvOffsetBasis = 0xCBF29CE484222325ull;
constexpr uint64_t kFnvPrime = 0x100000001B3ull;

uint64_t Fnv1a(const uint8_t* bytes, uint32_t length) {
    uint64_t hash = kFnvOffsetBasis;
    for (uint32_t i = 0; i < length; ++i) {
        hash ^= bytes[i];
        hash *= kFnvPrime;
    }
    return hash;
}

// Digits only, the whole text, within the limit.
std::optional<uint64_t> ParseNumber(const std::wstring& text, int base, uint64_t limit) {
    if (text.empty() || text.size() > 20) return std::nullopt;
    uint64_t value = 0;
    for (wchar_t c : text) {
        int digit = -1;
        if (c >= L'0' && c <= L'9') digit = c - L'0';
        if (base == 16 && c >= L'a' && c <= L'f') digit = c - L'a' + 10;
        if (digit < 0 || value > (limit - static_cast<uint64_t>(digit)) / base) return std::nullopt;
        value = value * base + static_cast<uint64_t>(digit);
    }
    return value;
}

}  // namespace

CEventRecordIdentity CEventRecordIdentity::Of(const void* record) {
    const auto* bytes = static_cast<const uint8_t*>(record);
    CEventRecordIdentity identity(
        kx::eventlog::ReadUInt32LE(bytes + kx::eventlog::kOffsetRecordNumber));
    identity.timeGenerated_ =
        kx::eventlog::ReadUInt32LE(bytes + kx::eventlog::kOffsetTimeGenerated);
    identity.hash_ = Fnv1a(bytes, kx::eventlog::ReadUInt32LE(bytes + kx::eventlog::kOffsetLength));
    identity.known_ = true;
    return identity;
}

std::optional<CEventRecordIdentity> CEventRecordIdentity::Parse(const std::wstring& text) {
    const std::size_t first = text.find(L' ');
    const std::size_t second = first == std::wstring::npos ? first : text.find(L' ', first + 1);
    if (second == std::wstring::npos || text.size() - second - 1 != 16) return std::nullopt;
    const auto number = ParseNumber(text.substr(0, first), 10, UINT32_MAX);
    const auto time = ParseNumber(text.substr(first + 1, second - first - 1), 10, UINT32_MAX);
    const auto hash = ParseNumber(text.substr(second + 1), 16, UINT64_MAX);
    if (!number || !time || !hash) return std::nullopt;
    CEventRecordIdentity identity(static_cast<uint32_t>(*number));
    identity.timeGenerated_ = static_cast<uint32_t>(*time);
    identity.hash_ = *hash;
    identity.known_ = true;
    return identity;
}

bool CEventRecordIdentity::SameRecordAs(const CEventRecordIdentity& other) const {
    return known_ && other.known_ && recordNumber_ == other.recordNumber_ &&
           timeGenerated_ == other.timeGenerated_ && hash_ == other.hash_;
}

std::wstring CEventRecordIdentity::ToText() const {
    if (!known_) return std::wstring();
    return kx::Format(L"%u %u %016llx", recordNumber_, timeGenerated_, hash_);
}
