#include "platform/AuditPolicy.h"

#include <memory>
#include <mutex>
#include <new>
#include <set>

#include "platform/Registry.h"

namespace kx::platform {
namespace {

constexpr const wchar_t* kAuditKey = L"SECURITY\\Policy\\Audit";
constexpr const wchar_t* kModeValue = L"AuditingMode";
constexpr uint32_t kSuccessAndFailure = kAuditEventSuccess | kAuditEventFailure;

// A queried policy: the information and its options in one block, as the
// platform hands out one buffer for both.
struct QueriedAuditEvents {
    AuditEventsInfo info{};
    uint32_t options[kAuditCategoryCount]{};
};

uint32_t ReadDword(RegistryKeyHandle key, const wchar_t* name) {
    uint32_t type = 0;
    uint32_t value = 0;
    uint32_t size = sizeof value;
    if (RegistryQueryValue(key, name, &type, &value, &size) != 0 || type != kRegDword ||
        size != sizeof value)
        return 0;
    return value;
}

NtStatus StatusOfRegistryError(uint32_t error) {
    if (error == kRegistryAccessDenied) return kStatusAccessDenied;
    return kStatusUnsuccessful;
}

uint32_t NewOption(uint32_t current, uint32_t requested) {
    if (requested == kAuditEventUnchanged) return current;
    if (requested & kAuditEventNone) return requested & kSuccessAndFailure;
    return (current | requested) & kSuccessAndFailure;
}

class CRegistryAuditPolicy : public IAuditPolicy {
public:
    NtStatus OpenPolicy(uint32_t, PolicyHandle* policy) override {
        auto handle = std::make_unique<char>();
        std::lock_guard<std::mutex> lock(mutex_);
        *policy = handle.get();
        handles_.insert(handle.release());
        return kStatusSuccess;
    }

    NtStatus QueryAuditEvents(PolicyHandle policy, AuditEventsInfo** info) override {
        *info = nullptr;
        if (!IsOpen(policy)) return kStatusInvalidHandle;
        auto* queried = new (std::nothrow) QueriedAuditEvents();
        if (!queried) return kStatusNoMemory;
        RegistryKeyHandle key = 0;
        if (RegistryOpenKey(kHkeyLocalMachine, kAuditKey, kKeyRead, &key) == 0) {
            queried->info.auditingMode = ReadDword(key, kModeValue) != 0 ? 1 : 0;
            for (uint32_t i = 0; i < kAuditCategoryCount; ++i)
                queried->options[i] = ReadDword(key, kAuditCategoryNames[i]) & kSuccessAndFailure;
            RegistryCloseKey(key);
        }
        queried->info.eventAuditingOptions = queried->options;
        queried->info.maximumAuditEventCount = kAuditCategoryCount;
        *info = &queried->info;
        return kStatusSuccess;
    }

    NtStatus SetAuditEvents(PolicyHandle policy, const AuditEventsInfo& info) override {
        if (!IsOpen(policy)) return kStatusInvalidHandle;
        if (info.maximumAuditEventCount > kAuditCategoryCount ||
            (info.maximumAuditEventCount > 0 && !info.eventAuditingOptions))
            return kStatusInvalidParameter;
        RegistryKeyHandle key = 0;
        uint32_t error = RegistryCreateKey(kHkeyLocalMachine, kAuditKey, kKeyAllAccess, &key);
        if (error != 0) return StatusOfRegistryError(error);
        error = WriteDword(key, kModeValue, info.auditingMode ? 1 : 0);
        for (uint32_t i = 0; i < info.maximumAuditEventCount && error == 0; ++i) {
            uint32_t current = ReadDword(key, kAuditCategoryNames[i]) & kSuccessAndFailure;
            uint32_t wanted = NewOption(current, info.eventAuditingOptions[i]);
            if (wanted != current) error = WriteDword(key, kAuditCategoryNames[i], wanted);
        }
        RegistryCloseKey(key);
        return error == 0 ? kStatusSuccess : StatusOfRegistryError(error);
    }

    NtStatus Close(PolicyHandle policy) override {
        std::lock_guard<std::mutex> lock(mutex_);
        auto found = handles_.find(policy);
        if (found == handles_.end()) return kStatusInvalidHandle;
        delete static_cast<char*>(*found);
        handles_.erase(found);
        return kStatusSuccess;
    }

    NtStatus FreeMemory(void* buffer) override {
        // The information is the first member of the block it was handed out in.
        delete reinterpret_cast<QueriedAuditEvents*>(buffer);
        return kStatusSuccess;
    }

private:
    static uint32_t WriteDword(RegistryKeyHandle key, const wchar_t* name, uint32_t value) {
        return RegistrySetValue(key, name, kRegDword, &value, sizeof value);
    }

    bool IsOpen(PolicyHandle policy) {
        std::lock_guard<std::mutex> lock(mutex_);
        return handles_.count(policy) != 0;
    }

    std::mutex mutex_;
    std::set<PolicyHandle> handles_;
};

}  // namespace

IAuditPolicy& GetAuditPolicy() {
    static auto* policy = new CRegistryAuditPolicy();
    return *policy;
}

}  // namespace kx::platform
