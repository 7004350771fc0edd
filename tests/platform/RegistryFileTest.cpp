// The Linux registry's files: their format, changes made by other processes,
// damaged files, and many writers at once.

#ifndef _WIN32

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <thread>

#include "RegistrySandbox.h"
#include "common/RegFile.h"
#include "common/Text.h"
#include "platform/Process.h"
#include "platform/Registry.h"

namespace reg = kx::platform;

namespace {

constexpr const wchar_t* kKey = L"SOFTWARE\\Korvex Test";

class RegistryFileTest : public ::testing::Test {
protected:
    std::filesystem::path FilePath() const {
        return std::filesystem::path(kx::WideToUtf8(sandbox_.MachineRoot())) / "Registry" /
               "HKEY_LOCAL_MACHINE.reg";
    }

    uint32_t SetDword(const std::wstring& name, uint32_t value) {
        reg::RegistryKeyHandle key = 0;
        uint32_t status =
            reg::RegistryCreateKey(reg::kHkeyLocalMachine, kKey, reg::kKeyAllAccess, &key);
        if (status != 0) return status;
        std::string data = kx::RegDwordData(value);
        status = reg::RegistrySetValue(key, name, reg::kRegDword, data.data(), 4);
        reg::RegistryCloseKey(key);
        return status;
    }

    // The value, or the error code with 0x80000000 added.
    uint32_t GetDword(const std::wstring& name) {
        reg::RegistryKeyHandle key = 0;
        uint32_t status = reg::RegistryOpenKey(reg::kHkeyLocalMachine, kKey, reg::kKeyRead, &key);
        if (status != 0) return 0x80000000u + status;
        unsigned char bytes[4] = {};
        uint32_t size = 4;
        status = reg::RegistryQueryValue(key, name, nullptr, bytes, &size);
        reg::RegistryCloseKey(key);
        if (status != 0) return 0x80000000u + status;
        return bytes[0] | bytes[1] << 8 | bytes[2] << 16 | static_cast<uint32_t>(bytes[3]) << 24;
    }

    // Replaces the file as another process would: a new file renamed into place.
    void ReplaceFile(const std::string& text) {
        std::filesystem::path temporary = FilePath();
        temporary += ".other";
        WriteFileBytes(temporary, text);
        std::filesystem::rename(temporary, FilePath());
    }

    CRegistrySandbox sandbox_;
};

TEST_F(RegistryFileTest, FileIsTheRegFormatAdministratorsKnow) {
    ASSERT_EQ(SetDword(L"Number", 10), 0u);
    reg::RegistryKeyHandle key = 0;
    ASSERT_EQ(reg::RegistryOpenKey(reg::kHkeyLocalMachine, kKey, reg::kKeyAllAccess, &key), 0u);
    std::string text = kx::RegStringData(L"C:\\Program Files\\\"K\"");
    ASSERT_EQ(reg::RegistrySetValue(key, L"", reg::kRegSz, text.data(),
                                    static_cast<uint32_t>(text.size())),
              0u);
    reg::RegistryCloseKey(key);

    EXPECT_EQ(ReadFileBytes(FilePath()),
              "Windows Registry Editor Version 5.00\n"
              "\n"
              "[HKEY_LOCAL_MACHINE\\SOFTWARE]\n"
              "\n"
              "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Korvex Test]\n"
              "\"Number\"=dword:0000000a\n"
              "@=\"C:\\\\Program Files\\\\\\\"K\\\"\"\n"
              "\n");
    // No temporary file is left beside it.
    for (const auto& entry : std::filesystem::directory_iterator(FilePath().parent_path())) {
        EXPECT_EQ(entry.path().filename().string().find(".tmp"), std::string::npos);
    }
}

TEST_F(RegistryFileTest, ChangesOfAnotherProcessAreSeenByTheNextRead) {
    ASSERT_EQ(SetDword(L"Value", 1), 0u);
    ASSERT_EQ(GetDword(L"Value"), 1u);

    ReplaceFile(
        "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Korvex Test]\n"
        "\"Value\"=dword:00000002\n");
    EXPECT_EQ(GetDword(L"Value"), 2u);

    // An editor that writes in place keeps the inode; the size tells.
    WriteFileBytes(FilePath(),
                   "Windows Registry Editor Version "
                   "5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Korvex Test]\r\n"
                   "\"Value\"=dword:00000003\r\n\"Other\"=dword:4\r\n");
    EXPECT_EQ(GetDword(L"Value"), 3u);

    // A writer starts from what the other process wrote, not from its old copy.
    ASSERT_EQ(SetDword(L"Mine", 5), 0u);
    EXPECT_EQ(GetDword(L"Other"), 4u);
    EXPECT_EQ(GetDword(L"Mine"), 5u);

    std::filesystem::remove(FilePath());
    EXPECT_EQ(GetDword(L"Value"), 0x80000000u + reg::kRegistryFileNotFound);
}

TEST_F(RegistryFileTest, DamagedFileIsReportedOnceAndNeverOverwritten) {
    ASSERT_EQ(SetDword(L"Value", 1), 0u);
    std::string damaged = ReadFileBytes(FilePath()) + "\"Broken\"=dword:xyz\n";
    ReplaceFile(damaged);

    ::testing::internal::CaptureStderr();
    EXPECT_EQ(GetDword(L"Value"), 0x80000000u + reg::kRegistryCorrupt);
    EXPECT_EQ(GetDword(L"Value"), 0x80000000u + reg::kRegistryCorrupt);
    EXPECT_EQ(SetDword(L"Value", 2), reg::kRegistryCorrupt);
    std::string report = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(report.find("HKEY_LOCAL_MACHINE.reg cannot be read (line 8: dword:"),
              std::string::npos)
        << report;
    EXPECT_EQ(report.find("cannot be read"), report.rfind("cannot be read")) << "reported twice";
    EXPECT_EQ(ReadFileBytes(FilePath()), damaged);

    // Repaired by hand, it serves again.
    ReplaceFile(damaged.substr(0, damaged.size() - std::string("\"Broken\"=dword:xyz\n").size()));
    EXPECT_EQ(GetDword(L"Value"), 1u);
}

TEST_F(RegistryFileTest, KeysOfAnotherRootMakeTheFileUnusable) {
    ReplaceFile("Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software]\n");
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(SetDword(L"Value", 1), reg::kRegistryCorrupt);
    EXPECT_NE(
        ::testing::internal::GetCapturedStderr().find("does not belong to HKEY_LOCAL_MACHINE"),
        std::string::npos);
}

TEST_F(RegistryFileTest, EmptyFileIsAnEmptyRootAndPermissionsAreKept) {
    std::filesystem::create_directories(FilePath().parent_path());
    WriteFileBytes(FilePath(), "");
    EXPECT_EQ(GetDword(L"Value"), 0x80000000u + reg::kRegistryFileNotFound);
    std::filesystem::permissions(
        FilePath(), std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    ASSERT_EQ(SetDword(L"Value", 1), 0u);
    EXPECT_EQ(std::filesystem::status(FilePath()).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
}

// ---- many writers ----

constexpr int kWritesPerWriter = 120;
constexpr int kThreadWriters = 3;
constexpr int kNamesPerWriter = 3;

// Writer w sets its values w0..w2 in turn to 1, 2, 3, ... kWritesPerWriter.
void WriteCounters(const std::wstring& writer) {
    reg::RegistryKeyHandle key = 0;
    ASSERT_EQ(reg::RegistryCreateKey(reg::kHkeyLocalMachine, kKey, reg::kKeyAllAccess, &key), 0u);
    for (int i = 1; i <= kWritesPerWriter; ++i) {
        std::string data = kx::RegDwordData(static_cast<uint32_t>(i));
        ASSERT_EQ(reg::RegistrySetValue(key, writer + std::to_wstring(i % kNamesPerWriter),
                                        reg::kRegDword, data.data(), 4),
                  0u);
    }
    reg::RegistryCloseKey(key);
}

uint32_t FinalCounter(int nameIndex) {
    for (int i = kWritesPerWriter;; --i) {
        if (i % kNamesPerWriter == nameIndex) return static_cast<uint32_t>(i);
    }
}

// The counters in a file's text; false when the text is not a complete file.
bool CountersInFile(const std::string& bytes, std::map<std::wstring, uint32_t>* counters) {
    std::vector<kx::RegFileKey> keys;
    kx::RegFileError error;
    if (!kx::ParseRegFile(bytes, &keys, &error)) return false;
    for (const kx::RegFileKey& key : keys) {
        if (!key.path.ends_with(L"\\Korvex Test")) continue;
        for (const kx::RegFileValue& value : key.values) {
            uint32_t number = 0;
            for (int b = 3; b >= 0; --b)
                number = number << 8 | static_cast<unsigned char>(value.data[b]);
            (*counters)[value.name] = number;
        }
    }
    return true;
}

TEST(RegistryFileChild, DISABLED_WritesCounters) {
    // Started by the test below as a second process, with its machine root.
    const char* writer = std::getenv("KX_REGISTRY_TEST_WRITER");
    if (!writer) GTEST_SKIP() << "runs only as the child of ManyThreadsAndTwoProcessesLoseNothing";
    WriteCounters(kx::Utf8ToWide(writer));
}

TEST_F(RegistryFileTest, ManyThreadsAndTwoProcessesLoseNothing) {
    std::atomic<bool> writing{true};
    std::atomic<int> unreadableFiles{0};
    std::atomic<int> countersGoingBack{0};
    std::atomic<int> filesRead{0};
    // Reads the raw file as any other program would: it is always complete,
    // and no counter ever goes back.
    std::thread fileReader([&] {
        std::map<std::wstring, uint32_t> highest;
        while (writing) {
            std::string bytes = ReadFileBytes(FilePath());
            if (bytes.empty()) continue;
            std::map<std::wstring, uint32_t> counters;
            if (!CountersInFile(bytes, &counters)) ++unreadableFiles;
            for (const auto& [name, number] : counters) {
                if (number < highest[name]) ++countersGoingBack;
                highest[name] = number;
            }
            ++filesRead;
        }
    });
    std::atomic<int> failedReads{0};
    std::thread portReader([&] {
        while (writing) {
            uint32_t value = GetDword(L"t00");
            if (value >= 0x80000000u && value != 0x80000000u + reg::kRegistryFileNotFound)
                ++failedReads;
        }
    });

    std::string command = "KX_MACHINE_ROOT='" + kx::WideToUtf8(sandbox_.MachineRoot()) +
                          "' KX_REGISTRY_TEST_WRITER=child '" +
                          kx::WideToUtf8(reg::GetExecutablePath()) +
                          "' --gtest_filter=RegistryFileChild.DISABLED_WritesCounters"
                          " --gtest_also_run_disabled_tests >/dev/null 2>&1";
    int childResult = -1;
    std::thread child([&] { childResult = std::system(command.c_str()); });
    std::vector<std::thread> writers;
    for (int t = 0; t < kThreadWriters; ++t) {
        writers.emplace_back([t] { WriteCounters(L"t" + std::to_wstring(t)); });
    }
    for (std::thread& writer : writers) writer.join();
    child.join();
    writing = false;
    fileReader.join();
    portReader.join();

    EXPECT_EQ(childResult, 0);
    EXPECT_EQ(unreadableFiles, 0);
    EXPECT_EQ(countersGoingBack, 0);
    EXPECT_EQ(failedReads, 0);
    EXPECT_GT(filesRead, 0);
    std::map<std::wstring, uint32_t> final;
    ASSERT_TRUE(CountersInFile(ReadFileBytes(FilePath()), &final));
    for (const wchar_t* writer : {L"t0", L"t1", L"t2", L"child"}) {
        for (int n = 0; n < kNamesPerWriter; ++n) {
            std::wstring name = writer + std::to_wstring(n);
            EXPECT_EQ(final[name], FinalCounter(n)) << kx::WideToUtf8(name);
            EXPECT_EQ(GetDword(name), FinalCounter(n)) << kx::WideToUtf8(name);
        }
    }
}

}  // namespace

#endif  // _WIN32
