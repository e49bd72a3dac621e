#include "config/ChannelSettings.h"
#include "config/SettingsKeys.h"
#include "config/SettingsPath.h"
#include "tests/config/SettingsTestDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace kestrel {
namespace {

const std::string kSection(kSettingsSection);
const std::string kPortKey(kMainChannelPortKey);
const std::string kBindSection(kBroadcastBindSection);
const std::string kBindKey(kBindAddressKey);
const std::string kGroupKey(kMulticastGroupKey);

class ChannelSettingsTest : public SettingsTestDir {
protected:
    // The settings of the program file at programPath, as the program reads them.
    bool Read(const std::string& programPath)
    {
        ChannelSettings settings;
        settings.portText = m_port;
        settings.bindAddress = m_bind;
        settings.multicastGroup = m_group;
        if (!ReadChannelSettings(SettingsPathFor(programPath), settings))
            return false;
        m_port = settings.portText;
        m_bind = settings.bindAddress;
        m_group = settings.multicastGroup;
        return true;
    }

    std::string m_port = "unset";
    std::string m_bind = "unset";
    std::string m_group = "unset";
};

TEST_F(ChannelSettingsTest, MissingFileGivesPort9000AndAnyAddressAndIsCreated)
{
    ASSERT_TRUE(Read(PathOf("kestrel")));
    EXPECT_EQ(m_port, "9000");
    EXPECT_EQ(m_bind, "");
    EXPECT_EQ(m_group, "");
    EXPECT_EQ(BytesOf(PathOf("kestrel.INI")), "[" + kSection + "]\r\n" + kPortKey + "=9000\r\n");
}

TEST_F(ChannelSettingsTest, FileValuesAreUsedAndTheFileKeepsEveryByte)
{
    const std::string file = "[Display]\r\nZoom=2\r\n[" + kSection + "]\r\n" + kPortKey + "=9100\r\n[" +
                             kBindSection + "]\r\n" + kBindKey + "=127.0.0.1\r\n" + kGroupKey + "=239.12.0.1\r\n";
    PutBytes(PathOf("Kestrel.INI"), file);
    ASSERT_TRUE(Read(PathOf("Kestrel.EXE")));
    EXPECT_EQ(m_port, "9100");
    EXPECT_EQ(m_bind, "127.0.0.1");
    EXPECT_EQ(m_group, "239.12.0.1");
    EXPECT_EQ(BytesOf(PathOf("Kestrel.INI")), file);
}

TEST_F(ChannelSettingsTest, TrustedKeysPathIsReadFromGbkAndNeverWritten)
{
    // "/etc/kestrel/公钥" in GBK.
    const std::string file = "[" + kSection + "]\r\n" + kPortKey + "=9000\r\n[" + std::string(kAnnouncementSigningSection)
        + "]\r\n" + std::string(kTrustedKeysFileKey) + "=/etc/kestrel/\xB9\xAB\xD4\xBF\r\n";
    PutBytes(PathOf("kestrel.INI"), file);
    ChannelSettings settings;
    ASSERT_TRUE(ReadChannelSettings(PathOf("kestrel.INI"), settings));
    EXPECT_EQ(settings.trustedKeysPath, "/etc/kestrel/\u516C\u94A5");
    EXPECT_EQ(BytesOf(PathOf("kestrel.INI")), file);

    PutBytes(PathOf("kestrel.INI"), "");
    ASSERT_TRUE(ReadChannelSettings(PathOf("kestrel.INI"), settings));
    EXPECT_EQ(settings.trustedKeysPath, "");
    EXPECT_EQ(BytesOf(PathOf("kestrel.INI")).find(std::string(kAnnouncementSigningSection)), std::string::npos);
}

TEST_F(ChannelSettingsTest, UnwritablePlaceStillGivesTheDefaults)
{
    PutBytes(PathOf("notadir"), "");
    ASSERT_TRUE(Read(PathOf("notadir") + "/kestrel"));
    EXPECT_EQ(m_port, "9000");
    EXPECT_EQ(m_bind, "");
}

TEST_F(ChannelSettingsTest, NoProgramPathMeansNoSettings)
{
    EXPECT_FALSE(Read(""));
    EXPECT_EQ(m_port, "unset");
    EXPECT_EQ(m_bind, "unset");
    EXPECT_TRUE(std::filesystem::is_empty(m_dir));
}

} // namespace
} // namespace kestrel
