#include "platform/MessageResources.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <memory>
#include <system_error>
#include <vector>

#include "common/PeMessageTable.h"
#include "common/Text.h"
#include "platform/Files.h"
#include "platform/MachineRoot.h"
#include "platform/Process.h"
#include "platform/posix/ErrnoMapping.h"

namespace kx::platform {

struct MessageModuleData {
    CPeMessageTable table;
};

namespace {

constexpr uint32_t kErrorAccessDenied = 5;
constexpr uint32_t kErrorNotEnoughMemory = 8;
constexpr uint32_t kErrorBadNetPath = 53;
constexpr uint32_t kErrorInvalidParameter = 87;

// Message files are small (the largest system ones hold a few megabytes);
// a file beyond this is refused rather than read into memory.
constexpr off_t kMaxModuleBytes = 256 * 1024 * 1024;

bool IsSeparator(wchar_t c) {
    return c == L'\\' || c == L'/';
}

// The entry of a folder whose name equals name ignoring case; the exact name
// wins. Empty when there is none.
std::filesystem::path FindIgnoringCase(const std::filesystem::path& folder,
                                       const std::wstring& name) {
    std::error_code error;
    std::filesystem::path exact = folder / WideToUtf8(name);
    if (std::filesystem::exists(std::filesystem::symlink_status(exact, error))) return exact;
    for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end;
         it.increment(error)) {
        if (EqualsNoCase(Utf8ToWide(it->path().filename().string()), name)) return it->path();
    }
    return {};
}

// "C:\Windows\System32\x.dll" -> "<root>/drive_c/Windows/System32/x.dll", each
// part found as Windows finds it, ignoring case. A part that is not there is
// kept as written, so that opening the path reports what is missing.
std::filesystem::path MapDrivePath(const std::wstring& path) {
    std::filesystem::path result =
        ToNativePath(GetMachineRoot() + L"/drive_" + ToLower(path.substr(0, 1)));
    std::vector<std::wstring> parts;
    std::wstring part;
    for (std::size_t i = 2; i <= path.size(); ++i) {
        if (i == path.size() || IsSeparator(path[i])) {
            if (part == L"..") {
                if (!parts.empty()) parts.pop_back();
            } else if (!part.empty() && part != L".") {
                parts.push_back(part);
            }
            part.clear();
        } else {
            part.push_back(path[i]);
        }
    }
    bool found = true;
    for (const std::wstring& name : parts) {
        std::filesystem::path next =
            found ? FindIgnoringCase(result, name) : std::filesystem::path();
        found = !next.empty();
        result = found ? next : result / WideToUtf8(name);
    }
    return result;
}

uint32_t ResolvePath(const std::wstring& path, std::filesystem::path& native) {
    if (path.empty()) return kErrorInvalidParameter;
    if (path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1])) return kErrorBadNetPath;
    const bool drive =
        path.size() >= 2 && path[1] == L':' &&
        ((path[0] >= L'A' && path[0] <= L'Z') || (path[0] >= L'a' && path[0] <= L'z'));
    if (drive) {
        native = MapDrivePath(path);
    } else if (path[0] == L'/') {
        native = ToNativePath(path);
    } else {
        std::wstring relative = path;
        for (wchar_t& c : relative) {
            if (c == L'\\') c = L'/';
        }
        native = ToNativePath(relative);
    }
    return 0;
}

uint32_t ReadWholeFile(const std::filesystem::path& path, std::vector<uint8_t>& bytes) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return Win32ErrorFromErrno(errno);
    uint32_t error = 0;
    struct stat info {};
    if (fstat(fd, &info) != 0) {
        error = Win32ErrorFromErrno(errno);
    } else if (S_ISDIR(info.st_mode)) {
        error = kErrorAccessDenied;
    } else if (info.st_size > kMaxModuleBytes) {
        error = kErrorNotEnoughMemory;
    } else {
        bytes.resize(static_cast<std::size_t>(info.st_size));
        std::size_t done = 0;
        while (done < bytes.size()) {
            ssize_t count = read(fd, bytes.data() + done, bytes.size() - done);
            if (count < 0 && errno == EINTR) continue;
            if (count <= 0) break;
            done += static_cast<std::size_t>(count);
        }
        // A file cut short while being read is read as far as it goes.
        bytes.resize(done);
    }
    close(fd);
    return error;
}

uint32_t Fail(uint32_t error) {
    SetLastErrorCode(error);
    return error;
}

}  // namespace

MessageModuleHandle LoadMessageModule(const std::wstring& path) {
    std::filesystem::path native;
    std::vector<uint8_t> bytes;
    uint32_t error = ResolvePath(path, native);
    if (error == 0) error = ReadWholeFile(native, bytes);
    auto module = std::make_unique<MessageModuleData>();
    if (error == 0) error = module->table.Load(bytes);
    if (error != 0) {
        Fail(error);
        return nullptr;
    }
    return module.release();
}

void FreeMessageModule(MessageModuleHandle module) {
    delete module;
}

uint32_t FormatModuleMessage(MessageModuleHandle module, uint32_t messageId,
                             InsertHandling handling, std::span<const std::wstring> inserts,
                             std::wstring& text) {
    // A null module stands for the program's own image, which has no table.
    if (!module) return Fail(kErrorResourceTypeNotFound);
    std::wstring format;
    if (uint32_t error = module->table.FindMessage(messageId, format)) return Fail(error);
    if (uint32_t error = FormatMessageText(format, handling, inserts, text)) return Fail(error);
    return 0;
}

uint32_t FormatStringMessage(std::wstring_view format, InsertHandling handling,
                             std::span<const std::wstring> inserts, std::wstring& text) {
    if (uint32_t error = FormatMessageText(format, handling, inserts, text)) return Fail(error);
    return 0;
}

}  // namespace kx::platform
