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
const std::string kDownloadKey(kDownloadsKey);

class BrowserSettingsTest : public SettingsTestDir {};

TEST_F(BrowserSettingsTest, WithoutFileOrKeysNoFolderAndWindowsOutside)
{
    for (const std::string& path : {std::string(), PathOf("kestrel.INI")}) {
        const BrowserSettings settings = ReadBrowserSettings(path);
        EXPECT_EQ(settings.localFolder, "");
        EXPECT_FALSE(settings.newWindowsInside);
        EXPECT_TRUE(settings.downloadsOn);
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

struct DownloadsCase {
    std::string value; // GBK
    bool on;
};

class DownloadsValueTest : public SettingsTestDir, public ::testing::WithParamInterface<DownloadsCase> {};

TEST_P(DownloadsValueTest, OnlyOffTurnsDownloadsOff)
{
    PutBytes(PathOf("kestrel.INI"), "[" + kSection + "]\r\n" + kDownloadKey + "=" + GetParam().value + "\r\n");
    EXPECT_EQ(ReadBrowserSettings(PathOf("kestrel.INI")).downloadsOn, GetParam().on);
}

INSTANTIATE_TEST_SUITE_P(Values, DownloadsValueTest,
                         ::testing::Values(DownloadsCase{std::string(kDownloadsOff), false},
                                           DownloadsCase{std::string(kDownloadsOn), true},
                                           DownloadsCase{"", true},
                                           DownloadsCase{"off", true}));

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
