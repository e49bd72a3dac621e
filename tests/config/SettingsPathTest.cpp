#include "config/SettingsPath.h"

#include <gtest/gtest.h>

namespace kestrel {
namespace {

TEST(SettingsPathTest, AppendsIniToAFileNameWithoutExtension)
{
    EXPECT_EQ(SettingsPathFor("/opt/kestrel/kestrel"), "/opt/kestrel/kestrel.INI");
    EXPECT_EQ(SettingsPathFor("kestrel"), "kestrel.INI");
}

TEST(SettingsPathTest, ReplacesTheFileNamesLastExtension)
{
    EXPECT_EQ(SettingsPathFor("/opt/k.d/Kestrel.EXE"), "/opt/k.d/Kestrel.INI");
    EXPECT_EQ(SettingsPathFor("/opt/kestrel/kestrel.bin.old"), "/opt/kestrel/kestrel.bin.INI");
    EXPECT_EQ(SettingsPathFor("./kestrel.exe"), "./kestrel.INI");
}

TEST(SettingsPathTest, NeverCutsAtADotInADirectoryName)
{
    EXPECT_EQ(SettingsPathFor("/opt/k.d/kestrel"), "/opt/k.d/kestrel.INI");
    EXPECT_EQ(SettingsPathFor("/home/a.b/.local/bin/kestrel"), "/home/a.b/.local/bin/kestrel.INI");
}

TEST(SettingsPathTest, LeadingDotOfAHiddenFileIsNoExtension)
{
    EXPECT_EQ(SettingsPathFor("/opt/kestrel/.kestrel"), "/opt/kestrel/.kestrel.INI");
}

TEST(SettingsPathTest, NoFileNameMeansNoSettings)
{
    EXPECT_EQ(SettingsPathFor(""), "");
    EXPECT_EQ(SettingsPathFor("/opt/kestrel/"), "");
}

} // namespace
} // namespace kestrel
