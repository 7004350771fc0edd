#pragma once

#include <filesystem>
#include <string>

// A folder of the test's own, removed with everything in it at the end.
class CTempDirectory {
public:
    CTempDirectory();
    ~CTempDirectory();
    CTempDirectory(const CTempDirectory&) = delete;
    CTempDirectory& operator=(const CTempDirectory&) = delete;

    const std::filesystem::path& Path() const { return path_; }
    // The folder's path as the core writes paths, with the platform's separator.
    std::wstring WidePath() const;
    // WidePath() joined with a name by the platform's separator.
    std::wstring Join(const std::wstring& name) const;

private:
    std::filesystem::path path_;
};

// Reads a whole file as bytes; empty when it cannot be read.
std::string ReadFileBytes(const std::filesystem::path& path);
void WriteFileBytes(const std::filesystem::path& path, const std::string& bytes);
