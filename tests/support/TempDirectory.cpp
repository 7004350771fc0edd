#include "TempDirectory.h"

#include <atomic>
#include <chrono>
#include <fstream>
#include <iterator>

#include "platform/Files.h"
#include "platform/Process.h"

namespace {

std::atomic<unsigned> g_counter{0};

}  // namespace

CTempDirectory::CTempDirectory() {
    auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    std::filesystem::path base = std::filesystem::temp_directory_path();
    for (;;) {
        path_ = base / ("kxtest-" + std::to_string(stamp) + "-" + std::to_string(g_counter++));
        if (std::filesystem::create_directory(path_)) break;
    }
}

CTempDirectory::~CTempDirectory() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::wstring CTempDirectory::WidePath() const {
    std::wstring wide = path_.wstring();
    for (wchar_t& c : wide) {
        if (c == L'/' || c == L'\\') c = kx::platform::kPathSeparator;
    }
    return wide;
}

std::wstring CTempDirectory::Join(const std::wstring& name) const {
    return WidePath() + kx::platform::kPathSeparator + name;
}

std::string ReadFileBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFileBytes(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}
