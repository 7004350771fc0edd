#include <gtest/gtest.h>

#include "DownloadFixture.h"
#include "config/Settings.h"

using ConfigValueTest = DownloadFixture;

TEST_F(ConfigValueTest, ValueBetweenTheMarkersIsTakenAsItStands) {
    server_.SetConfigValue(L"EDVersionNumber", L"12");
    EXPECT_EQ(GetConfigValue(L"EDVersionNumber"), L"12");
    server_.SetConfigAnswer(L"Spaced",
                            L"<r><Success>true</Success><ConfigValue> 7 </ConfigValue></r>");
    EXPECT_EQ(GetConfigValue(L"Spaced"), L" 7 ");  // neither trimmed nor unescaped
    server_.SetConfigAnswer(L"Escaped",
                            L"<r><Success>true</Success><ConfigValue>a&amp;b</ConfigValue>");
    EXPECT_EQ(GetConfigValue(L"Escaped"), L"a&amp;b");
    EXPECT_EQ(NewRequestPaths(), (std::vector<std::string>{"/GetConfigValue?Name=EDVersionNumber",
                                                           "/GetConfigValue?Name=Spaced",
                                                           "/GetConfigValue?Name=Escaped"}));
}

TEST_F(ConfigValueTest, AnswersWithoutBothMarkersAfterTheStartGiveNothing) {
    server_.SetConfigAnswer(L"AtStart", L"<Success>true</Success><ConfigValue>12</ConfigValue>");
    EXPECT_EQ(GetConfigValue(L"AtStart"), L"");
    server_.SetConfigAnswer(L"ValueAtStart",
                            L"<ConfigValue>12</ConfigValue><Success>true</Success>");
    EXPECT_EQ(GetConfigValue(L"ValueAtStart"), L"");
    server_.SetConfigAnswer(L"NoSuccess", L"<r><ConfigValue>12</ConfigValue></r>");
    EXPECT_EQ(GetConfigValue(L"NoSuccess"), L"");
    server_.SetConfigAnswer(L"Refused",
                            L"<r><Success>false</Success><ConfigValue>12</ConfigValue>");
    EXPECT_EQ(GetConfigValue(L"Refused"), L"");
    server_.SetConfigAnswer(L"NoValue", L"<r><Success>true</Success></r>");
    EXPECT_EQ(GetConfigValue(L"NoValue"), L"");
    server_.RemoveConfigValue(L"Unknown");
    EXPECT_EQ(GetConfigValue(L"Unknown"), L"");  // the server answers <Success>false</Success>
}

TEST_F(ConfigValueTest, EmptyValueAndValueWithoutAClosingTagGiveNothing) {
    server_.SetConfigAnswer(L"Empty", L"<r><Success>true</Success><ConfigValue></ConfigValue></r>");
    EXPECT_EQ(GetConfigValue(L"Empty"), L"");
    server_.SetConfigAnswer(L"Open", L"<r><Success>true</Success><ConfigValue>12");
    EXPECT_EQ(GetConfigValue(L"Open"), L"");
}

TEST_F(ConfigValueTest, ValueEndsAtTheFirstTagWhateverItIs) {
    server_.SetConfigAnswer(L"Inner",
                            L"<r><Success>true</Success><ConfigValue>1<b>2</b>"
                            L"</ConfigValue></r>");
    EXPECT_EQ(GetConfigValue(L"Inner"), L"1");
    server_.SetConfigValue(L"City", L"Z\u00fcrich");
    EXPECT_EQ(GetConfigValue(L"City"), L"Z\u00fcrich");  // the answer is UTF-8
}

TEST_F(ConfigValueTest, NameGoesIntoTheUrlAsGiven) {
    server_.SetConfigValue(L"EDVersionNumber", L"12");
    // Not escaped: the server sees a second query parameter, not a longer name.
    EXPECT_EQ(GetConfigValue(L"EDVersionNumber&Extra=1"), L"12");
    EXPECT_EQ(NewRequestPaths(),
              (std::vector<std::string>{"/GetConfigValue?Name=EDVersionNumber&Extra=1"}));
}

TEST_F(ConfigValueTest, ErrorStatusesAndUnreachableServersGiveNothing) {
    server_.SetConfigValue(L"EDVersionNumber", L"12");
    server_.SetFault(L"500");
    EXPECT_EQ(GetConfigValue(L"EDVersionNumber"), L"");
    server_.ClearFault();
    PointPolicyAt(L"127.0.0.1", L"1");  // nothing listens there
    EXPECT_EQ(GetConfigValue(L"EDVersionNumber"), L"");
}
