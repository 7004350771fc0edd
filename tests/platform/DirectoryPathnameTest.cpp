// The platform's own path-name object (IADsPathname on Windows, the agent's
// CLdapPath on Linux) for what CADsPathname asks of it, in the formats and set
// types both give alike. Leaf removal and the path without server are not
// asked here: Wine's IADsPathname does not implement them.

#include <gtest/gtest.h>

#include "platform/Com.h"
#include "platform/Directory.h"

namespace {

using kx::platform::PathFormat;
using kx::platform::PathSetType;

class DirectoryPathnameTest : public ::testing::Test {
protected:
    void SetUp() override {
        kx::platform::ComInitializeApartmentThreaded();
        uint32_t code = 0;
        path_ = kx::platform::GetDirectory().CreatePathname(code);
        ASSERT_TRUE(path_) << std::hex << code;
    }
    void TearDown() override {
        path_.reset();
        kx::platform::ComUninitialize();
    }

    std::wstring Retrieved(PathFormat format) {
        std::wstring text;
        return path_->Retrieve(format, text) == 0 ? text : L"<failed>";
    }

    std::unique_ptr<kx::platform::IDirectoryPathname> path_;
};

TEST_F(DirectoryPathnameTest, AFullPathGivesServerNameAndElements) {
    ASSERT_EQ(path_->Set(L"LDAP://dc1.example.test/CN=Jane,OU=Sales,DC=example,DC=test",
                         PathSetType::Full),
              0u);
    EXPECT_EQ(Retrieved(PathFormat::Server), L"dc1.example.test");
    EXPECT_EQ(Retrieved(PathFormat::X500Dn), L"CN=Jane,OU=Sales,DC=example,DC=test");
    EXPECT_EQ(Retrieved(PathFormat::X500),
              L"LDAP://dc1.example.test/CN=Jane,OU=Sales,DC=example,DC=test");
    long count = 0;
    ASSERT_EQ(path_->GetNumElements(count), 0u);
    ASSERT_EQ(count, 4);
    std::wstring element;
    ASSERT_EQ(path_->GetElement(0, element), 0u);
    EXPECT_EQ(element, L"CN=Jane");
    ASSERT_EQ(path_->GetElement(3, element), 0u);
    EXPECT_EQ(element, L"DC=test");
}

TEST_F(DirectoryPathnameTest, AServerIsSetOnAPathThatHadNone) {
    ASSERT_EQ(path_->Set(L"LDAP://OU=Sales,DC=example,DC=test", PathSetType::Full), 0u);
    ASSERT_EQ(path_->Set(L"dc1.example.test", PathSetType::Server), 0u);
    EXPECT_EQ(Retrieved(PathFormat::Server), L"dc1.example.test");
#ifndef _WIN32
    // Wine's IADsPathname forgets the distinguished name when a server is set.
    EXPECT_EQ(Retrieved(PathFormat::X500Dn), L"OU=Sales,DC=example,DC=test");
#endif
    EXPECT_NE(path_->Set(L"http://dc1/OU=Sales", PathSetType::Full), 0u);
}

}  // namespace
