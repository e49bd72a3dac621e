#include "config/SettingsKeys.h"
#include "config/ProfileString.h"
#include "config/SettingsFile.h"
#include "tests/config/SettingsTestDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

namespace kestrel {
namespace {

namespace fs = std::filesystem;

// A hand-edited file: comments, blanks, CR LF, sections and keys of others.
const std::string kEditedFile =
    "; classroom settings\r\n"
    "[Other]\r\n"
    "Port=1\r\n"
    "\r\n"
    "[Net]\r\n"
    "; Port=2\r\n"
    "  pOrT = 9000  \r\n"
    "Unknown=keep me\r\n"
    "\r\n"
    "[Last]\r\n"
    "x=y\r\n";

std::string Replaced(std::string text, const std::string& from, const std::string& to)
{
    return text.replace(text.find(from), from.size(), to);
}

class ProfileStringTest : public SettingsTestDir {
protected:
    void SetUp() override
    {
        SettingsTestDir::SetUp();
        m_path = PathOf("kestrel.INI");
    }

    std::string Read(const std::string& section, const std::string& key, const std::string& fallback = "none")
    {
        return ReadProfileString(m_path, section, key, fallback);
    }

    std::string m_path;
};

TEST_F(ProfileStringTest, MissingFileGivesTheDefaultAndStaysMissing)
{
    EXPECT_EQ(Read("Net", "Port", "9000"), "9000");
    EXPECT_FALSE(fs::exists(m_path));
}

TEST_F(ProfileStringTest, FindsItsKeyAmongCommentsAndOtherSections)
{
    PutBytes(m_path, kEditedFile);
    EXPECT_EQ(Read("Net", "Port"), "9000");
    EXPECT_EQ(Read("Other", "Port"), "1");
    EXPECT_EQ(Read("Net", "Unknown"), "keep me");
    EXPECT_EQ(Read("Net", "x"), "none");
    EXPECT_EQ(Read("Missing", "Port"), "none");
}

TEST_F(ProfileStringTest, OnlyTheFirstSectionOfANameCounts)
{
    PutBytes(m_path, "[A]\nx=1\n[a]\ny=2\n");
    EXPECT_EQ(Read("A", "y"), "none");
    ASSERT_TRUE(WriteProfileString(m_path, "A", "y", "3"));
    EXPECT_EQ(BytesOf(m_path), "[A]\nx=1\ny=3\n[a]\ny=2\n");
}

TEST_F(ProfileStringTest, NamesIgnoreAsciiCaseAndSurroundingBlanks)
{
    PutBytes(m_path, "[ NeT ]\nPoRt\t=\t5 \n");
    EXPECT_EQ(Read("net", "PORT"), "5");
    EXPECT_EQ(Read(" NET ", " port "), "5");
}

TEST_F(ProfileStringTest, LineEndingsAndQuotesAreNotPartOfValues)
{
    PutBytes(m_path, "[Net]\r\nPort=9100\r\nName=\" two words \"\r\nEmpty=\r\nLast=end");
    EXPECT_EQ(Read("Net", "Port"), "9100");
    EXPECT_EQ(Read("Net", "Name"), " two words ");
    EXPECT_EQ(Read("Net", "Empty"), "");
    EXPECT_EQ(Read("Net", "Last"), "end");
}

TEST_F(ProfileStringTest, GbkNamesMatchByteForByte)
{
    const std::string file = "[" + std::string(kSettingsSection) + "]\r\n" + std::string(kMainChannelPortKey) +
                             "=9100\r\n[\xB0\x41]\r\nk=upper trail\r\n[\x81\x5D]\r\nk=bracket trail\r\n";
    PutBytes(m_path, file);
    EXPECT_EQ(Read(std::string(kSettingsSection), std::string(kMainChannelPortKey)), "9100");
    // 0xB0 0x41 and 0xB0 0x61 are two different characters, not two cases.
    EXPECT_EQ(Read("\xB0\x41", "k"), "upper trail");
    EXPECT_EQ(Read("\xB0\x61", "k"), "none");
    EXPECT_EQ(Read("\x81\x5D", "k"), "bracket trail");
}

TEST_F(ProfileStringTest, LongValuesAreCutAt258Bytes)
{
    const std::string exact(258, '7');
    const std::string longer = std::string(258, '8') + "cut";
    PutBytes(m_path, "[Net]\nExact=" + exact + "\nLonger=" + longer + "\n");
    EXPECT_EQ(Read("Net", "Exact"), exact);
    EXPECT_EQ(Read("Net", "Longer"), longer.substr(0, 258));
    EXPECT_EQ(Read("Net", "Missing", longer), longer.substr(0, 258));
}

TEST_F(ProfileStringTest, WriteCreatesAMissingFileWithJustTheEntry)
{
    const std::string section(kSettingsSection);
    const std::string key(kMainChannelPortKey);
    ASSERT_TRUE(WriteProfileString(m_path, section, key, "9000"));
    EXPECT_EQ(BytesOf(m_path), "[" + section + "]\r\n" + key + "=9000\r\n");
    EXPECT_EQ(Read(section, key), "9000");
}

TEST_F(ProfileStringTest, WriteChangesOnlyItsOwnEntry)
{
    struct Edit {
        const char* what;
        std::string before, section, key, value, after;
    };
    const Edit edits[] = {
        {"replaces a value, matching names in any case", kEditedFile, "NET", "port", "9100",
         Replaced(kEditedFile, "= 9000 ", "= 9100 ")},
        {"fills an empty value", "[Net]\nPort=\nNext=1\n", "Net", "Port", "9000", "[Net]\nPort=9000\nNext=1\n"},
        {"adds a missing key behind its section", kEditedFile, "Other", "Bind", "127.0.0.1",
         Replaced(kEditedFile, "Port=1\r\n", "Port=1\r\nBind=127.0.0.1\r\n")},
        {"appends a missing section in the file's line endings", "[A]\nx=1", "B", "y", "2",
         "[A]\nx=1\n[B]\ny=2\n"},
    };
    for (const Edit& edit : edits) {
        SCOPED_TRACE(edit.what);
        PutBytes(m_path, edit.before);
        ASSERT_TRUE(WriteProfileString(m_path, edit.section, edit.key, edit.value));
        EXPECT_EQ(BytesOf(m_path), edit.after);
        EXPECT_EQ(Read(edit.section, edit.key), edit.value);
    }
}

TEST_F(ProfileStringTest, WriteRefusesEntriesThatWouldNotReadBack)
{
    PutBytes(m_path, kEditedFile);
    EXPECT_FALSE(WriteProfileString(m_path, "Net", "Port", "1\n[Evil]"));
    EXPECT_FALSE(WriteProfileString(m_path, "Net", "a=b", "1"));
    EXPECT_FALSE(WriteProfileString(m_path, "Net", ";Port", "1"));
    EXPECT_FALSE(WriteProfileString(m_path, "Net\n", "Port", "1"));
    EXPECT_EQ(BytesOf(m_path), kEditedFile);
}

TEST_F(ProfileStringTest, WriteRefusesSectionNamesWhoseLineWouldNotCloseAsThemselves)
{
    // "[\xC9]" holds no "]" of its own: the lead byte takes it as trail byte,
    // so a new key would fall into the section above. "[Last]\xC9]" would
    // close after "Last" and put the key there.
    const std::string file = "[Last]\r\nx=y\r\n";
    for (const std::string section : {"\xC9", "Last]\xC9", "\xC9\xE8\xD6"}) {
        SCOPED_TRACE(section);
        PutBytes(m_path, file);
        EXPECT_FALSE(WriteProfileString(m_path, section, "x", "1"));
        EXPECT_EQ(BytesOf(m_path), file);
        EXPECT_EQ(Read("Last", "x"), "y");
    }
    EXPECT_TRUE(WriteProfileString(m_path, "\xC9\xE8]", "x", "1")) << "a whole GBK character and a \"]\" are fine";
    EXPECT_EQ(Read("\xC9\xE8]", "x"), "1");
    EXPECT_EQ(Read("Last", "x"), "y");
}

TEST_F(ProfileStringTest, WriteKeepsModeLeavesNoTemporaryFileAndKeepsALink)
{
    const std::string target = PathOf("real.INI");
    PutBytes(target, kEditedFile);
    ASSERT_EQ(::chmod(target.c_str(), 0640), 0);
    fs::create_symlink(target, m_path);

    ASSERT_TRUE(WriteProfileString(m_path, "Net", "Port", "9100"));
    EXPECT_TRUE(fs::is_symlink(m_path));
    EXPECT_EQ(Read("Net", "Port"), "9100");
    struct stat status {};
    ASSERT_EQ(::stat(target.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0640u);
    EXPECT_EQ(std::distance(fs::directory_iterator(m_dir), fs::directory_iterator()), 2);
}

// The installed layout: the path beside the program is a link into another
// folder (/usr/lib/kestrel/kestrel.INI to /etc/kestrel/kestrel.INI), and the
// file it names may have been deleted.
TEST_F(ProfileStringTest, WriteThroughALinkIntoAnotherFolderChangesTheNamedFileAndKeepsTheLink)
{
    struct Case {
        const char* what;
        bool absolute;
        bool targetExists;
    };
    for (const Case& c : {Case{"absolute link", true, true}, Case{"relative link", false, true},
                          Case{"link to a deleted file", true, false},
                          Case{"relative link to a deleted file", false, false}}) {
        SCOPED_TRACE(c.what);
        fs::remove_all(PathOf("etc"));
        fs::remove_all(PathOf("lib"));
        fs::create_directories(PathOf("etc/kestrel"));
        fs::create_directories(PathOf("lib/kestrel"));
        const std::string target = PathOf("etc/kestrel/kestrel.INI");
        const std::string link = PathOf("lib/kestrel/kestrel.INI");
        if (c.targetExists)
            PutBytes(target, kEditedFile);
        fs::create_symlink(c.absolute ? target : "../../etc/kestrel/kestrel.INI", link);

        ASSERT_TRUE(WriteProfileString(link, "Net", "Port", "9100"));
        EXPECT_TRUE(fs::is_symlink(link));
        EXPECT_EQ(ReadProfileString(link, "Net", "Port", "none"), "9100");
        EXPECT_EQ(ReadProfileString(target, "Net", "Port", "none"), "9100");
        if (c.targetExists) {
            // Every other byte stays, as in a file written without a link.
            const std::string plain = PathOf("plain.INI");
            PutBytes(plain, kEditedFile);
            ASSERT_TRUE(WriteProfileString(plain, "Net", "Port", "9100"));
            EXPECT_EQ(BytesOf(target), BytesOf(plain));
        }
        EXPECT_EQ(std::distance(fs::directory_iterator(PathOf("lib/kestrel")), fs::directory_iterator()), 1);
        EXPECT_EQ(std::distance(fs::directory_iterator(PathOf("etc/kestrel")), fs::directory_iterator()), 1);
    }
}

TEST_F(ProfileStringTest, WriteThroughALoopOfLinksFailsAndKeepsTheLinks)
{
    fs::create_symlink(PathOf("b.INI"), m_path);
    fs::create_symlink(m_path, PathOf("b.INI"));
    EXPECT_FALSE(WriteProfileString(m_path, "Net", "Port", "9100"));
    EXPECT_TRUE(fs::is_symlink(m_path));
    EXPECT_TRUE(fs::is_symlink(PathOf("b.INI")));
}

TEST_F(ProfileStringTest, WriteOfTheValueAlreadyThereLeavesTheFileAlone)
{
    PutBytes(m_path, kEditedFile);
    const fs::file_time_type before = fs::last_write_time(m_path);
    fs::last_write_time(m_path, before - std::chrono::hours(1));
    ASSERT_TRUE(WriteProfileString(m_path, "Net", "Port", "9000"));
    EXPECT_EQ(fs::last_write_time(m_path), before - std::chrono::hours(1));
    EXPECT_EQ(BytesOf(m_path), kEditedFile);
}

TEST_F(ProfileStringTest, WriteBelowARegularFileFails)
{
    PutBytes(m_path, kEditedFile);
    const std::string below = m_path + "/child.INI";
    EXPECT_EQ(ReadProfileString(below, "Net", "Port", "9000"), "9000");
    EXPECT_FALSE(WriteProfileString(below, "Net", "Port", "9100"));
    EXPECT_EQ(BytesOf(m_path), kEditedFile);
}

TEST_F(ProfileStringTest, NonRegularFileInTheFilesPlaceIsIgnoredAndKept)
{
    const std::string directory = PathOf("directory.INI");
    const std::string pipe = PathOf("pipe.INI");
    fs::create_directory(directory);
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    // Neither may block the read or be replaced by a write.
    for (const std::string& path : {directory, pipe}) {
        EXPECT_EQ(ReadProfileString(path, "Net", "Port", "9000"), "9000") << path;
        EXPECT_FALSE(WriteProfileString(path, "Net", "Port", "9100")) << path;
    }
    EXPECT_TRUE(fs::is_directory(directory));
    EXPECT_TRUE(fs::is_empty(directory));
    EXPECT_TRUE(fs::is_fifo(pipe));
}

TEST_F(ProfileStringTest, WriteToAReadOnlyFileOrDirectoryFailsAndKeepsTheFile)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "permission bits do not stop root; WriteBelowARegularFileFails covers it";
    PutBytes(m_path, kEditedFile);
    ASSERT_EQ(::chmod(m_path.c_str(), 0444), 0);
    EXPECT_FALSE(WriteProfileString(m_path, "Net", "Port", "9100"));
    ASSERT_EQ(::chmod(m_path.c_str(), 0644), 0);
    ASSERT_EQ(::chmod(m_dir.c_str(), 0555), 0);
    EXPECT_FALSE(WriteProfileString(m_path, "Net", "Port", "9100"));
    EXPECT_EQ(BytesOf(m_path), kEditedFile);
}

TEST_F(ProfileStringTest, OversizedFileGivesDefaultsAndIsNeverRewritten)
{
    const std::string huge = "[Net]\nPort=9100\n;" + std::string(kMaxSettingsFileBytes, 'x') + "\n";
    PutBytes(m_path, huge);
    EXPECT_EQ(Read("Net", "Port", "9000"), "9000");
    EXPECT_FALSE(WriteProfileString(m_path, "Net", "Port", "9200"));
    EXPECT_EQ(BytesOf(m_path), huge);
}

TEST_F(ProfileStringTest, AFileOfExactlyTheLimitIsReadAndOneByteMoreIsNot)
{
    const std::string head = "[Net]\nPort=9100\n;";
    const std::string atLimit = head + std::string(kMaxSettingsFileBytes - head.size() - 1, 'x') + "\n";
    ASSERT_EQ(atLimit.size(), kMaxSettingsFileBytes);
    PutBytes(m_path, atLimit);
    EXPECT_EQ(Read("Net", "Port", "9000"), "9100");
    PutBytes(m_path, atLimit + "x");
    EXPECT_EQ(Read("Net", "Port", "9000"), "9000");
}

} // namespace
} // namespace kestrel
