// The message file KXWkstnSvc.dll that the build puts beside the executable:
// a text for every event the service and the agent report, read through the
// message port (LoadLibraryExW and FormatMessageW under Wine).

#include <gtest/gtest.h>

#include "common/Text.h"
#include "platform/MessageResources.h"
#include "platform/Process.h"

namespace platform = kx::platform;

namespace {

std::wstring MessageFile() {
#ifdef _WIN32
    std::wstring path = L"Z:" + kx::Utf8ToWide(KX_SERVICE_MESSAGE_FILE);
    for (wchar_t& c : path) {
        if (c == L'/') c = L'\\';
    }
    return path;
#else
    return kx::Utf8ToWide(KX_SERVICE_MESSAGE_FILE);
#endif
}

}  // namespace

TEST(ServiceMessageFileTest, EveryReportedEventHasItsText) {
    platform::MessageModuleHandle module = platform::LoadMessageModule(MessageFile());
    ASSERT_NE(module, nullptr) << "error " << platform::GetLastErrorCode();
    const uint32_t ids[] = {0x40000001, 0x40000002, 0x40000003, 0x40000004, 0x40000005,
                            0x40000006, 0x4000000A, 0x40000011, 0x40000012, 0xC0000007,
                            0xC0000008, 0xC0000009, 0xC000000B, 0xC000000C, 0xC000000D,
                            0xC000000E, 0xC000000F, 0xC0000010, 0xC0000013, 0xC0000014};
    const std::wstring inserts[] = {L"INSERT-ONE", L"INSERT-TWO", L"INSERT-THREE"};
    for (uint32_t id : ids) {
        std::wstring text;
        ASSERT_EQ(
            platform::FormatModuleMessage(module, id, kx::InsertHandling::Replace, inserts, text),
            0u)
            << std::hex << id;
        EXPECT_NE(text.find(L"INSERT-ONE"), std::wstring::npos) << std::hex << id;
        EXPECT_EQ(text.find(L"%"), std::wstring::npos) << std::hex << id;
    }
    std::wstring waited;
    ASSERT_EQ(platform::FormatModuleMessage(module, 0xC000000F, kx::InsertHandling::Replace,
                                            inserts, waited),
              0u);
    EXPECT_NE(waited.find(L"INSERT-TWO"), std::wstring::npos);  // the awaited state
    std::wstring missing;
    EXPECT_EQ(platform::FormatModuleMessage(module, 0x40000013, kx::InsertHandling::Replace,
                                            inserts, missing),
              317u);
    platform::FreeMessageModule(module);
}
