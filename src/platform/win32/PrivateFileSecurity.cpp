#include "platform/win32/PrivateFileSecurity.h"

#include <aclapi.h>
#include <sddl.h>

namespace kx::platform {
namespace {

// Full control for SYSTEM and the Administrators, nothing for anyone else,
// no entries inherited.
constexpr const wchar_t* kPrivateDacl = L"D:P(A;;FA;;;SY)(A;;FA;;;BA)";

// Made once and kept for the life of the process.
PSECURITY_DESCRIPTOR PrivateDescriptor() {
    static const PSECURITY_DESCRIPTOR descriptor = [] {
        PSECURITY_DESCRIPTOR made = nullptr;
        if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(kPrivateDacl, SDDL_REVISION_1,
                                                                  &made, nullptr)) {
            return PSECURITY_DESCRIPTOR{nullptr};
        }
        return made;
    }();
    return descriptor;
}

}  // namespace

SECURITY_ATTRIBUTES* PrivateFileAttributes() {
    static SECURITY_ATTRIBUTES attributes{sizeof(SECURITY_ATTRIBUTES), PrivateDescriptor(), FALSE};
    return &attributes;
}

uint32_t MakeFilePrivate(HANDLE file) {
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = PrivateDescriptor();
    if (!descriptor || !GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted)) {
        return GetLastError();
    }
    return SetSecurityInfo(file, SE_FILE_OBJECT,
                           DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr,
                           nullptr, dacl, nullptr);
}

}  // namespace kx::platform
