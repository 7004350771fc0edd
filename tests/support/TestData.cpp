#include "TestData.h"

#include "platform/Files.h"
#include "platform/Process.h"

namespace {

std::wstring ParentFolder(const std::wstring& path) {
    std::size_t separator = path.find_last_of(L"\\/");
    return separator == std::wstring::npos ? std::wstring(L".") : path.substr(0, separator);
}

// Found at the first call, from the real executable path (before a test
// points it elsewhere with SetExecutablePathForTesting).
const std::wstring& ExecutableFolder() {
    static const std::wstring folder = ParentFolder(kx::platform::GetExecutablePath());
    return folder;
}

}  // namespace

std::wstring TestMessageFilePath(const std::wstring& fileName) {
    const std::wstring s(1, kx::platform::kPathSeparator);
    const std::wstring here = ExecutableFolder();
    const std::wstring candidates[] = {
        here + s + L"data" + s + L"messages",
        ParentFolder(here) + s + L"data" + s + L"messages",
        ParentFolder(here) + s + L"tests" + s + L"data" + s + L"messages",
    };
    for (const std::wstring& folder : candidates) {
        if (kx::platform::FileExists(folder + s + fileName)) return folder + s + fileName;
    }
    return candidates[0] + s + fileName;
}

std::wstring TestExecutableFolder() {
    return ExecutableFolder();
}
