// The announcer's side of signing: its key file, its counter across
// restarts, and what --listen says about a frame.
#include "channel/LinkRecordFrame.h"
#include "channel/TrustedKeys.h"
#include "tests/support/LinkRecordBuilder.h"
#include "tests/support/SignedFrames.h"
#include "tests/support/TemporaryFolder.h"
#include "tools/AnnounceCounter.h"
#include "tools/HeardRecordText.h"
#include "tools/SecretKeyFile.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace kestrel {
namespace {

class SigningTest : public ::testing::Test {
protected:
    test::TemporaryFolder m_folder;
    std::string m_keyPath = m_folder.Path() + "/announcer.key";
    std::string m_statePath = m_folder.Path() + "/state/counter";
    std::string m_error;
};

TEST_F(SigningTest, ANewKeyIsTheOwnersOnlyAndNeverOverwritten)
{
    SigningKey made;
    ASSERT_TRUE(CreateSecretKeyFile(m_keyPath, made, m_error)) << m_error;
    struct stat status {};
    ASSERT_EQ(stat(m_keyPath.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);

    SigningKey again;
    EXPECT_FALSE(CreateSecretKeyFile(m_keyPath, again, m_error));
    EXPECT_NE(m_error.find("never overwritten"), std::string::npos) << m_error;

    SigningKey read;
    ASSERT_TRUE(ReadSecretKeyFile(m_keyPath, read, m_error)) << m_error;
    EXPECT_EQ(read.publicKey, made.publicKey);

    // The line printed for the pupils' file trusts exactly this key.
    test::TemporaryFolder pupil;
    const std::string keys = pupil.Path() + "/trusted-keys";
    test::TemporaryFolder().Write(keys, TrustedKeyLine(made.publicKey, "room 1") + "\n");
    chmod(keys.c_str(), 0644);
    const TrustedKeysRead trusted = ReadTrustedKeys(keys);
    ASSERT_EQ(trusted.keys.size(), 1u);
    test::SignedFrame frame = test::SignedRecordFrame(test::LinkRecordBuilder("maths"), 5, read);
    EXPECT_TRUE(SignatureVerifies(frame.View(), trusted.keys[0].publicKey));

    chmod(m_keyPath.c_str(), 0640);
    EXPECT_FALSE(ReadSecretKeyFile(m_keyPath, read, m_error));
    EXPECT_NE(m_error.find("can be read by group or others"), std::string::npos) << m_error;
    test::TemporaryFolder().Write(m_keyPath, "ed25519-secret short\n");
    chmod(m_keyPath.c_str(), 0600);
    EXPECT_FALSE(ReadSecretKeyFile(m_keyPath, read, m_error));
    EXPECT_NE(m_error.find("not a secret key file"), std::string::npos) << m_error;
}

TEST_F(SigningTest, TheCounterNeverGoesBackAcrossClockStepsAndRestarts)
{
    std::uint64_t last = 0;
    {
        CAnnounceCounter counter;
        ASSERT_TRUE(counter.Open(m_statePath, m_error)) << m_error;
        std::uint64_t value = 0;
        for (const std::uint64_t now : {5000000, 5000000, 4000000, 5000010}) {
            ASSERT_TRUE(counter.Next(now, value, m_error)) << m_error;
            EXPECT_GT(value, last);
            last = value;
        }
        EXPECT_EQ(last, 5000010u);
    }
    // A restart with the clock set back an hour.
    CAnnounceCounter restarted;
    ASSERT_TRUE(restarted.Open(m_statePath, m_error)) << m_error;
    std::uint64_t value = 0;
    ASSERT_TRUE(restarted.Next(5000010 - 3600000, value, m_error)) << m_error;
    EXPECT_GT(value, last);
    EXPECT_LE(value, last + CAnnounceCounter::kReserveAhead + 1);

    test::TemporaryFolder().Write(m_statePath, "twelve\n");
    CAnnounceCounter damaged;
    EXPECT_FALSE(damaged.Open(m_statePath, m_error));
    EXPECT_NE(m_error.find("not a counter state file"), std::string::npos) << m_error;
}

TEST_F(SigningTest, ListenSaysWhetherAFrameIsSignedByWhomAndWhetherItVerifies)
{
    const SigningKey key = test::FixedKey(1);
    const SigningKey stranger = test::FixedKey(2);
    const std::vector<TrustedKey> trusted = {test::TrustOf(key)};
    test::SignedFrame good = test::SignedRecordFrame(test::LinkRecordBuilder("maths"), 42, key);
    test::SignedFrame strange = test::SignedRecordFrame(test::LinkRecordBuilder("maths"), 42, stranger);
    test::SignedFrame forged = good;
    forged.bytes[kFrameHeaderSize + 1] ^= 1;
    unsigned char plain[kLinkRecordFrameSize];
    EncodeLinkRecordFrame(test::LinkRecordBuilder("maths"), 0, plain);

    const std::string byKey = "signed by key " + KeyIdText(key.id) + ", counter 42";
    EXPECT_EQ(DescribeSignature(FrameView(plain, sizeof plain), &trusted), "unsigned");
    EXPECT_EQ(DescribeSignature(good.View(), nullptr), byKey);
    EXPECT_EQ(DescribeSignature(good.View(), &trusted), byKey + ", verified");
    EXPECT_EQ(DescribeSignature(forged.View(), &trusted), byKey + ", NOT verified: bad signature");
    EXPECT_EQ(DescribeSignature(strange.View(), &trusted),
              "signed by key " + KeyIdText(stranger.id) + ", counter 42, NOT verified: unknown key");
}

} // namespace
} // namespace kestrel
