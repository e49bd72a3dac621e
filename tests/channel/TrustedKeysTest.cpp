// The pupil machine's trusted-keys file: what is read from it, and every
// way it can be refused.
#include "channel/TrustedKeys.h"
#include "tests/support/SignedFrames.h"
#include "tests/support/TemporaryFolder.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>

namespace kestrel {
namespace {

class TrustedKeysTest : public ::testing::Test {
protected:
    std::string Write(const std::string& text, mode_t mode = 0644)
    {
        std::ofstream(m_path) << text;
        chmod(m_path.c_str(), mode);
        return m_path;
    }

    test::TemporaryFolder m_folder;
    std::string m_path = m_folder.Path() + "/trusted-keys";
    std::string m_first = TrustedKeyLine(test::FixedKey(1).publicKey, "teacher room 1");
    std::string m_second = TrustedKeyLine(test::FixedKey(2).publicKey, "");
};

TEST_F(TrustedKeysTest, KeysAreReadAndBadLinesNamedByFileAndLine)
{
    const TrustedKeysRead read = ReadTrustedKeys(
        Write("# announcers\n\n" + m_first + "\nrsa AAAA\ned25519 not-base64\n  " + m_second + "\r\n" + m_first + "\n"));
    EXPECT_EQ(read.fault, TrustedKeysRead::Fault::None);
    ASSERT_EQ(read.keys.size(), 2u);
    EXPECT_EQ(read.keys[0].id, test::FixedKey(1).id);
    EXPECT_EQ(read.keys[1].publicKey, test::FixedKey(2).publicKey);
    EXPECT_EQ(read.lineProblems, (std::vector<std::string>{
                                     m_path + ":4: not an \"ed25519 <public key> [comment]\" line",
                                     m_path + ":5: the public key is not 32 bytes of base64",
                                 }));
    EXPECT_TRUE(read.refusal.empty());
}

TEST_F(TrustedKeysTest, SixteenKeysAreKeptAndOnlyANewSeventeenthIsAProblem)
{
    std::string text;
    for (unsigned char fill = 1; fill <= 17; ++fill)
        text += TrustedKeyLine(test::FixedKey(fill).publicKey, "") + "\n";
    const TrustedKeysRead read = ParseTrustedKeys(text + m_first + "\n", m_path);
    EXPECT_EQ(read.keys.size(), kMaxTrustedKeys);
    EXPECT_EQ(read.lineProblems, std::vector<std::string>{m_path + ":17: more than 16 keys"});
}

TEST_F(TrustedKeysTest, AFileThatCannotBeTrustedGivesNoKeyAndSaysWhy)
{
    struct Case {
        const char* what;
        std::function<void()> make;
        TrustedKeysRead::Fault fault;
        const char* says;
    };
    const Case cases[] = {
        {"missing", [] {}, TrustedKeysRead::Fault::Missing, "the trusted-keys file is missing"},
        {"a folder", [&] { mkdir(m_path.c_str(), 0755); }, TrustedKeysRead::Fault::Unreadable, "is not a regular file"},
        {"no valid key", [&] { Write("# none yet\ned25519 AAAA\n"); }, TrustedKeysRead::Fault::NoValidKey,
         "holds no valid key"},
        {"group-writable", [&] { Write(m_first + "\n", 0664); }, TrustedKeysRead::Fault::WritableByOthers,
         "can be changed by group or others"},
        {"world-writable", [&] { Write(m_first + "\n", 0646); }, TrustedKeysRead::Fault::WritableByOthers,
         "can be changed by group or others"},
        {"too large", [&] { Write(std::string(kMaxTrustedKeysFileBytes + 1, '#')); },
         TrustedKeysRead::Fault::Unreadable, "too large"},
    };
    for (const Case& test : cases) {
        rmdir(m_path.c_str());
        unlink(m_path.c_str());
        test.make();
        const TrustedKeysRead read = ReadTrustedKeys(m_path);
        EXPECT_EQ(read.fault, test.fault) << test.what;
        EXPECT_TRUE(read.keys.empty()) << test.what;
        EXPECT_EQ(read.refusal.rfind(m_path + ": ", 0), 0u) << read.refusal;
        EXPECT_NE(read.refusal.find(test.says), std::string::npos) << read.refusal;
        EXPECT_NE(read.refusal.find("no announcement is accepted"), std::string::npos) << read.refusal;
    }
}

TEST_F(TrustedKeysTest, AFileOfAnotherOwnerIsRefused)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "only root can give a file away";
    Write(m_first + "\n");
    ASSERT_EQ(chown(m_path.c_str(), 12345, 12345), 0);
    const TrustedKeysRead read = ReadTrustedKeys(m_path);
    EXPECT_EQ(read.fault, TrustedKeysRead::Fault::WrongOwner);
    EXPECT_TRUE(read.keys.empty());
}

} // namespace
} // namespace kestrel
