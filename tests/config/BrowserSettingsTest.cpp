#include "config/BrowserSettings.h"
#include "config/SettingsKeys.h"
#include "tests/config/SettingsTestDir.h"

#include <gtest/gtest.h>

#include <string>

namespace kestrel {
namespace {

const std::string kSection(kSettingsSection);
const std::string kFolderKey(kLocalFolderKey);
const std::string kWindowKey(kNewWindowKey);

class BrowserSettingsTest : public SettingsTestDir {};

TEST_F(BrowserSettingsTest, WithoutFileOrKeysNoFolderAndWindowsOutside)
{
    for (const std::string& path : {std::string(), PathOf("kestrel.INI")}) {
        const BrowserSettings settings = ReadBrowserSettings(path);
        EXPECT_EQ(settings.localFolder, "");
        EXPECT_FALSE(settings.newWindowsInside);
        EXPECT_TRUE(settings.downloadsOn);
        EXPECT_TRUE(settings.reportPage);
    }
}

struct NewWindowCase {
    std::string value; // GBK
    bool inside;
};

class NewWindowValueTest : public SettingsTestDir, public ::testing::WithParamInterface<NewWindowCase> {};

TEST_P(NewWindowValueTest, ValueChoosesWhereNewWindowsGoAndTheFileStaysAsItWas)
{
    const std::string file = "[" + kSection + "]\r\n" + kWindowKey + "=" + GetParam().value + "\r\n";
    PutBytes(PathOf("kestrel.INI"), file);
    EXPECT_EQ(ReadBrowserSettings(PathOf("kestrel.INI")).newWindowsInside, GetParam().inside);
    EXPECT_EQ(BytesOf(PathOf("kestrel.INI")), file);
}

INSTANTIATE_TEST_SUITE_P(Values, NewWindowValueTest,
                         ::testing::Values(NewWindowCase{std::string(kNewWindowOutside), false},
                                           NewWindowCase{std::string(kNewWindowInside), true},
                                           NewWindowCase{"", false},
                                           NewWindowCase{"inside", false}));

struct OnOffCase {
    std::string value; // GBK
    bool on;
};

class OnOffValueTest : public SettingsTestDir, public ::testing::WithParamInterface<OnOffCase> {};

TEST_P(OnOffValueTest, OnlyOffTurnsDownloadsOrPageReportsOff)
{
    const std::pair<std::string_view, bool BrowserSettings::*> keys[] = {{kDownloadsKey, &BrowserSettings::downloadsOn},
                                                                          {kReportPageKey, &BrowserSettings::reportPage}};
    for (const auto& [key, setting] : keys) {
        PutBytes(PathOf("kestrel.INI"), "[" + kSection + "]\r\n" + std::string(key) + "=" + GetParam().value + "\r\n");
        const BrowserSettings settings = ReadBrowserSettings(PathOf("kestrel.INI"));
        EXPECT_EQ(settings.*setting, GetParam().on) << key;
        EXPECT_TRUE(settings.downloadsOn || settings.reportPage) << "the other key keeps its default";
    }
}

INSTANTIATE_TEST_SUITE_P(Values, OnOffValueTest,
                         ::testing::Values(OnOffCase{std::string(kDownloadsOff), false},
                                           OnOffCase{std::string(kDownloadsOn), true}, OnOffCase{"", true},
                                           OnOffCase{"off", true}));

TEST_F(BrowserSettingsTest, GbkFolderComesBackAsUtf8AndIsNeverWritten)
{
    // "/srv/课件", as a school's editor saves it.
    const std::string file = "[" + kSection + "]\r\n" + kFolderKey + "=/srv/\xBF\xCE\xBC\xFE\r\n";
    PutBytes(PathOf("kestrel.INI"), file);
    EXPECT_EQ(ReadBrowserSettings(PathOf("kestrel.INI")).localFolder, "/srv/课件");
    EXPECT_EQ(BytesOf(PathOf("kestrel.INI")), file);
}

} // namespace
} // namespace kestrel
