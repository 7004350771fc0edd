#include "platform/Files.h"

#include <aclapi.h>
#include <fcntl.h>
#include <io.h>
#include <sddl.h>
#include <share.h>
#include <windows.h>

#include <string_view>

#include "platform/win32/PrivateFileSecurity.h"

namespace kx::platform {
namespace {

HANDLE CreatePrivateFile(const std::wstring& path, DWORD access, DWORD disposition) {
    return CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       PrivateFileAttributes(), disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// A file to be emptied is made anew rather than truncated, so that it is born
// with the private DACL and a handle opened on the old one reads nothing of
// what is written now. One that cannot be deleted (held open without delete
// sharing) is emptied in place and given the DACL.
HANDLE CreateEmptyPrivateFile(const std::wstring& path, DWORD access) {
    HANDLE file = CreatePrivateFile(path, access, CREATE_NEW);
    if (file == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_EXISTS &&
        DeleteFileW(path.c_str())) {
        file = CreatePrivateFile(path, access, CREATE_NEW);
    }
    if (file != INVALID_HANDLE_VALUE) return file;
    file = CreatePrivateFile(path, access | WRITE_DAC, CREATE_ALWAYS);
    if (file == INVALID_HANDLE_VALUE || GetLastError() != ERROR_ALREADY_EXISTS) return file;
    if (const DWORD error = MakeFilePrivate(file)) {
        CloseHandle(file);
        SetLastError(error);
        return INVALID_HANDLE_VALUE;
    }
    return file;
}

std::FILE* OpenPrivateStream(const std::wstring& path, const wchar_t* mode) {
    const std::wstring_view text(mode);
    const bool update = text.find(L'+') != std::wstring_view::npos;
    HANDLE file = CreateEmptyPrivateFile(path, GENERIC_WRITE | (update ? GENERIC_READ : 0));
    if (file == INVALID_HANDLE_VALUE) return nullptr;
    const bool binary = text.find(L'b') != std::wstring_view::npos;
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(file), binary ? _O_BINARY : _O_TEXT);
    if (fd < 0) {
        CloseHandle(file);
        return nullptr;
    }
    std::FILE* stream = _wfdopen(fd, mode);
    if (!stream) _close(fd);
    return stream;
}

}  // namespace

std::filesystem::path ToNativePath(const std::wstring& path) {
    return std::filesystem::path(path);
}

std::FILE* OpenFileStream(const std::wstring& path, const wchar_t* mode, FileAccess access) {
    if (access == FileAccess::Private && mode[0] == L'w') return OpenPrivateStream(path, mode);
    return _wfsopen(path.c_str(), mode, _SH_DENYNO);
}

std::wstring GetFileAccessText(const std::wstring& path) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    PACL dacl = nullptr;
    if (GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                              nullptr, &dacl, nullptr, &descriptor) != ERROR_SUCCESS) {
        return L"";
    }
    wchar_t* text = nullptr;
    std::wstring result;
    if (ConvertSecurityDescriptorToStringSecurityDescriptorW(
            descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text, nullptr)) {
        result = text;
        LocalFree(text);
    }
    LocalFree(descriptor);
    return result;
}

bool FileExists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool DeleteFileByPath(const std::wstring& path) {
    return DeleteFileW(path.c_str()) != FALSE;
}

bool ReplaceFileByPath(const std::wstring& from, const std::wstring& to) {
    return MoveFileExW(from.c_str(), to.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
}

bool FlushFileToDisk(std::FILE* file) {
    return std::fflush(file) == 0 && _commit(_fileno(file)) == 0;
}

}  // namespace kx::platform
