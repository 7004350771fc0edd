#include "PreviewDocuments.h"

#include <filesystem>
#include <random>
#include <stdexcept>
#include <system_error>

#include "common/Format.h"
#include "common/Text.h"
#include "platform/Files.h"

namespace {

std::wstring WidePath(const std::filesystem::path& path) {
#ifdef _WIN32
    return path.wstring();
#else
    return kx::Utf8ToWide(path.string());
#endif
}

// A new, empty folder of the system's temporary folder.
std::filesystem::path MakeFolder() {
    std::random_device random;
    const std::filesystem::path base = std::filesystem::temp_directory_path();
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::filesystem::path folder = base / ("kxpreview-" + std::to_string(random()));
        if (std::filesystem::create_directory(folder)) return folder;
    }
    throw std::runtime_error("no folder for the cache files could be made");
}

}  // namespace

std::vector<std::wstring> CPreviewDocuments::Build(
    std::vector<std::unique_ptr<CXMLAlertLogItem>> alerts) {
    const std::filesystem::path folder = MakeFolder();
    std::vector<std::wstring> documents;
    {
        CPreviewDocuments log(WidePath(folder));
        const std::size_t count = alerts.size();
        for (auto& alert : alerts) log.AddItem(std::move(alert));
        log.FlushToCache();
        if (log.QueuedItems() != 0)
            throw std::runtime_error(kx::WideToUtf8(
                kx::Format(L"%u of %u alerts could not be written to a cache file in %s",
                           static_cast<uint32_t>(log.QueuedItems()), static_cast<uint32_t>(count),
                           WidePath(folder))));
        documents = log.TakeDocuments();
    }
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
    return documents;
}

// Every cache file, oldest first, as its document; the file deleted.
std::vector<std::wstring> CPreviewDocuments::TakeDocuments() {
    std::vector<std::wstring> documents;
    uint64_t total = 0;
    for (const CCacheFile& file : ListCacheFiles(&total)) {
        std::wstring text;
        uint32_t error = 0;
        if (!BuildAlertDocument(file.path, &text, &error))
            throw std::runtime_error(
                kx::WideToUtf8(kx::Format(L"%s could not be read (error %u)", file.path, error)));
        documents.push_back(text);
        kx::platform::DeleteFileByPath(file.path);
    }
    return documents;
}
