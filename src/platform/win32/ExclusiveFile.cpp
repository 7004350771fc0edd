#include "platform/ExclusiveFile.h"

#include <windows.h>

#include <algorithm>

#include "common/Format.h"
#include "platform/Time.h"
#include "platform/win32/PrivateFileSecurity.h"

namespace kx::platform {
namespace {

HANDLE AsHandle(intptr_t handle) {
    return reinterpret_cast<HANDLE>(handle);
}

int64_t ToInt64(const FILETIME& time) {
    return static_cast<int64_t>((static_cast<uint64_t>(time.dwHighDateTime) << 32) |
                                time.dwLowDateTime);
}

}  // namespace

CExclusiveFile::~CExclusiveFile() {
    Close();
}

uint32_t CExclusiveFile::Open(const std::wstring& path, ExclusiveAccess access) {
    Close();
    const bool create = access == ExclusiveAccess::CreateNew;
    HANDLE file = CreateFileW(path.c_str(), create ? GENERIC_WRITE : GENERIC_READ | GENERIC_WRITE,
                              0, PrivateFileAttributes(), create ? CREATE_NEW : OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return GetLastError();
    handle_ = reinterpret_cast<intptr_t>(file);
    path_ = path;
    return 0;
}

uint32_t CExclusiveFile::Write(const void* bytes, std::size_t count) {
    const auto* next = static_cast<const char*>(bytes);
    while (count > 0) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(count, 1u << 30));
        DWORD written = 0;
        if (!WriteFile(AsHandle(handle_), next, chunk, &written, nullptr)) return GetLastError();
        next += written;
        count -= written;
    }
    return 0;
}

uint32_t CExclusiveFile::Read(void* bytes, std::size_t count, std::size_t* read) {
    DWORD got = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(count, 1u << 30));
    if (!ReadFile(AsHandle(handle_), bytes, chunk, &got, nullptr)) return GetLastError();
    *read = got;
    return 0;
}

uint32_t CExclusiveFile::GetSize(uint64_t* size) {
    LARGE_INTEGER value;
    if (!GetFileSizeEx(AsHandle(handle_), &value)) return GetLastError();
    *size = static_cast<uint64_t>(value.QuadPart);
    return 0;
}

uint32_t CExclusiveFile::FlushToDevice() {
    return FlushFileBuffers(AsHandle(handle_)) ? 0 : GetLastError();
}

uint32_t CExclusiveFile::Close() {
    if (handle_ == kClosed) return 0;
    HANDLE file = AsHandle(handle_);
    handle_ = kClosed;
    path_.clear();
    return CloseHandle(file) ? 0 : GetLastError();
}

uint32_t FindFiles(const std::wstring& directory, const std::wstring& pattern,
                   std::vector<FoundFile>* found) {
    WIN32_FIND_DATAW data;
    HANDLE search = FindFirstFileW((directory + L"\\" + pattern).c_str(), &data);
    if (search == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_NO_MORE_FILES ? 0 : error;
    }
    do {
        FoundFile file;
        file.name = data.cFileName;
        file.isDirectory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        file.size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
        file.creationTime = ToInt64(data.ftCreationTime);
        found->push_back(std::move(file));
    } while (FindNextFileW(search, &data));
    const DWORD error = GetLastError();
    FindClose(search);
    return error == ERROR_NO_MORE_FILES ? 0 : error;
}

}  // namespace kx::platform
