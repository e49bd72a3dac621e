// Signed link-record frames between the announcer's encoder and the
// browser's verifier and receiver.
#include "base/StateFolder.h"
#include "channel/AnnouncementVerifier.h"
#include "channel/DropSummary.h"
#include "channel/LinkReceiver.h"
#include "channel/LinkRecordFrame.h"
#include "channel/SignatureBudget.h"
#include "tests/channel/LoopbackUdp.h"
#include "tests/support/LinkRecordBuilder.h"
#include "tests/support/SignedFrames.h"
#include "tests/support/TemporaryFolder.h"

#include <gtest/gtest.h>
#include <sodium.h>

#include <algorithm>
#include <arpa/inet.h>
#include <fstream>
#include <functional>
#include <optional>
#include <sys/stat.h>

namespace kestrel {
namespace {

using test::FixedKey;
using test::LinkRecordBuilder;
using test::SignedFrame;
using test::SignedRecordFrame;

constexpr std::uint64_t kCounter = 1796640000000;
constexpr std::uint32_t kAnnouncer = 0x0A01A8C0; // 192.168.1.10
constexpr std::uint32_t kForger = 0x4201A8C0;    // 192.168.1.66

class SignedAnnouncementTest : public ::testing::Test {
protected:
    SignedAnnouncementTest() { m_verifier.Trust({test::TrustOf(m_key)}); }

    bool Admit(SignedFrame frame, DropReason& reason, std::uint32_t source = kAnnouncer)
    {
        LinkRecord record;
        ReadLinkRecordFrame(frame.View(), record);
        return m_verifier.Admit(frame.View(), HashLinkName(FieldText(record.name)), source, m_now, reason);
    }
    // The reason a frame is refused, or nothing when it is admitted.
    std::optional<DropReason> Refusal(SignedFrame frame, std::uint32_t source = kAnnouncer)
    {
        DropReason reason;
        if (Admit(frame, reason, source))
            return std::nullopt;
        return reason;
    }
    SignedFrame Lesson(const char* name, std::uint64_t counter) { return SignedRecordFrame(LinkRecordBuilder(name), counter, m_key); }

    SigningKey m_key = FixedKey(1);
    SigningKey m_otherKey = FixedKey(2);
    CAnnouncementVerifier m_verifier;
    std::int64_t m_now = 1000;
};

TEST_F(SignedAnnouncementTest, TheEncodedFrameHasTheDocumentedBytesAndSignature)
{
    const LinkRecord record = LinkRecordBuilder("maths").Url("http://school/maths.html");
    SignedFrame frame = SignedRecordFrame(record, 0x0102030405060708, m_key);
    const unsigned char* payload = frame.bytes + kFrameHeaderSize;
    EXPECT_EQ(frame.View().PayloadLength(), 1243u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(payload + 1153), 4), "KSG1");
    EXPECT_EQ(payload[1157], 1);
    EXPECT_EQ(payload[1158], 0);
    unsigned char hash[32];
    crypto_generichash(hash, sizeof hash, m_key.publicKey.data(), 32, nullptr, 0);
    EXPECT_EQ(std::memcmp(payload + 1159, hash, 8), 0);
    const unsigned char counter[8] = {8, 7, 6, 5, 4, 3, 2, 1};
    EXPECT_EQ(std::memcmp(payload + 1167, counter, 8), 0);
    EXPECT_EQ(payload[1175] | payload[1176] | payload[1177] | payload[1178], 0);

    // The message, put together here from the written layout alone.
    std::string message("Kestrel signed link record v1", 29);
    message += '\0';
    message.append(reinterpret_cast<const char*>(frame.bytes + 6), 12);
    message.append(reinterpret_cast<const char*>(payload), 1179);
    ASSERT_EQ(message.size(), 1221u);
    EXPECT_EQ(crypto_sign_verify_detached(payload + 1179, reinterpret_cast<const unsigned char*>(message.data()),
                                          message.size(), m_key.publicKey.data()),
              0);
    EXPECT_EQ(Crc16(frame.bytes + 6, 1255), ReadLittleEndian16(frame.bytes + 4));

    LinkRecord read{};
    ASSERT_TRUE(ReadLinkRecordFrame(frame.View(), read));
    EXPECT_EQ(std::memcmp(&read, &record, sizeof read), 0);
    EXPECT_EQ(Refusal(frame), std::nullopt);
}

TEST_F(SignedAnnouncementTest, OneChangedByteAnywhereInTheSignedRangeIsRefused)
{
    const SignedFrame good = Lesson("maths", kCounter);
    std::vector<std::size_t> offsets;
    for (std::size_t offset = kFrameCheckedOffset; offset < kFrameHeaderSize + kTrailerSignatureOffset; ++offset)
        offsets.push_back(offset);
    for (std::size_t i = 0; i < offsets.size(); ++i) {
        SignedFrame changed = good;
        changed.bytes[offsets[i]] ^= 0x01;
        m_now = static_cast<std::int64_t>(i) * 5; // within the budget of one source
        EXPECT_NE(Refusal(changed), std::nullopt) << "byte " << offsets[i];
    }
    EXPECT_EQ(Refusal(good), std::nullopt);
}

struct RefusalCase {
    const char* what;
    std::function<void(SignedFrame&, const SigningKey& other)> change;
    DropReason reason;
};

TEST_F(SignedAnnouncementTest, EveryKindOfBadTrailerIsRefusedWithItsReason)
{
    auto setLength = [](SignedFrame& frame, std::uint32_t length) {
        for (int i = 0; i < 4; ++i)
            frame.bytes[kFrameLengthOffset + i] = static_cast<unsigned char>(length >> (8 * i));
    };
    const RefusalCase cases[] = {
        {"unsigned", [&](SignedFrame& f, const SigningKey&) { setLength(f, 1153); }, DropReason::Unsigned},
        {"short trailer", [&](SignedFrame& f, const SigningKey&) { setLength(f, 1242); }, DropReason::WrongLength},
        {"long trailer", [&](SignedFrame& f, const SigningKey&) { setLength(f, 1244); }, DropReason::WrongLength},
        {"magic", [](SignedFrame& f, const SigningKey&) { f.bytes[18 + 1156] = '2'; }, DropReason::WrongMagic},
        {"algorithm", [](SignedFrame& f, const SigningKey&) { f.bytes[18 + 1157] = 2; }, DropReason::WrongAlgorithm},
        {"flags", [](SignedFrame& f, const SigningKey&) { f.bytes[18 + 1158] = 1; }, DropReason::ReservedSet},
        {"reserved", [](SignedFrame& f, const SigningKey&) { f.bytes[18 + 1178] = 1; }, DropReason::ReservedSet},
        {"unknown key id",
         [](SignedFrame& f, const SigningKey& other) { f = SignedRecordFrame(LinkRecordBuilder("maths"), kCounter, other); },
         DropReason::UnknownKey},
        {"wrong key under a trusted id",
         [this](SignedFrame& f, const SigningKey& other) {
             SigningKey impostor = other;
             impostor.id = m_key.id;
             f = SignedRecordFrame(LinkRecordBuilder("maths"), kCounter, impostor);
         },
         DropReason::BadSignature},
    };
    for (const RefusalCase& refusal : cases) {
        SignedFrame frame = Lesson("maths", kCounter);
        refusal.change(frame, m_otherKey);
        EXPECT_EQ(Refusal(frame), refusal.reason) << refusal.what;
    }
}

TEST_F(SignedAnnouncementTest, CountersMustBeFreshPerKeyAndName)
{
    EXPECT_EQ(Refusal(Lesson("maths", kCounter)), std::nullopt);
    EXPECT_EQ(Refusal(Lesson("maths", kCounter)), DropReason::Replayed);
    EXPECT_EQ(Refusal(Lesson("MATHS", kCounter)), DropReason::Replayed) << "names compare with ASCII case folded";
    EXPECT_EQ(Refusal(Lesson("maths", kCounter - 1)), DropReason::Replayed);
    EXPECT_EQ(Refusal(Lesson("music", kCounter - 5)), std::nullopt) << "another name has its own counter";
    EXPECT_EQ(Refusal(Lesson("maths", kCounter + 1)), std::nullopt);
    EXPECT_EQ(Refusal(Lesson("art", kCounter + 1 - 600000)), std::nullopt) << "ten minutes below the highest";
    EXPECT_EQ(Refusal(Lesson("history", kCounter - 600000)), DropReason::TooOld);
}

TEST_F(SignedAnnouncementTest, AFloodFromOneAddressLeavesTheAnnouncerItsShare)
{
    // The announcer has been heard; then a forger floods in the same second.
    EXPECT_EQ(Refusal(Lesson("home", kCounter)), std::nullopt);
    SignedFrame forged = Lesson("maths", kCounter);
    forged.bytes[kFrameHeaderSize + kTrailerSignatureOffset] ^= 1;
    int overBudget = 0;
    for (int i = 0; i < 2000; ++i) {
        SignedFrame flood = forged;
        flood.bytes[kFrameHeaderSize + kTrailerCounterOffset] = static_cast<unsigned char>(i);
        flood.bytes[kFrameHeaderSize + kTrailerCounterOffset + 1] ^= static_cast<unsigned char>(i >> 8);
        overBudget += Refusal(flood, kForger) == DropReason::OverBudget;
    }
    EXPECT_GE(overBudget, 2000 - CSignatureBudget::kChecksPerSecond / 2);
    for (int k = 0; k < kMaxLinks; ++k)
        EXPECT_EQ(Refusal(Lesson(("lesson" + std::to_string(k)).c_str(), kCounter + 1), kAnnouncer), std::nullopt);
}

TEST_F(SignedAnnouncementTest, AFloodFromEverNewAddressesLeavesAVerifiedAnnouncerItsChecks)
{
    // Every forged frame comes from an address of its own, from before the
    // announcer is first heard until rounds as far apart as the announcer's
    // --interval allows.
    constexpr std::int64_t kLongestIntervalMs = 3600 * 1000;
    SignedFrame forged = Lesson("maths", kCounter);
    forged.bytes[kFrameHeaderSize + kTrailerSignatureOffset] ^= 1;
    std::uint32_t spoofed = 0x0A000000;
    const auto flood = [&] {
        for (int i = 0; i < CSignatureBudget::kChecksPerSecond + 100; ++i)
            Refusal(forged, htonl(++spoofed));
    };
    flood();
    m_now += 1000;
    EXPECT_EQ(Refusal(Lesson("home", kCounter)), std::nullopt) << "the first frame of a new second is checked";
    for (int round = 1; round <= 3; ++round) {
        m_now += kLongestIntervalMs;
        flood();
        for (int k = 0; k < kMaxLinks; ++k) {
            EXPECT_EQ(Refusal(Lesson(("lesson" + std::to_string(k)).c_str(), kCounter + round)), std::nullopt)
                << "round " << round << ", link " << k;
            flood();
        }
    }
}

TEST_F(SignedAnnouncementTest, PastSixtyFourNamesOnlyKnownNamesAreTaken)
{
    for (int k = 0; k < CAnnouncementVerifier::kMaxNames; ++k)
        ASSERT_EQ(Refusal(Lesson(("name" + std::to_string(k)).c_str(), kCounter)), std::nullopt) << k;
    m_now += 1000;
    EXPECT_EQ(Refusal(Lesson("one-more", kCounter + 1)), DropReason::TooManyNames);
    EXPECT_EQ(Refusal(Lesson("name7", kCounter + 1)), std::nullopt);
    EXPECT_EQ(Refusal(Lesson("name7", kCounter + 1)), DropReason::Replayed);
}

TEST(SignatureBudgetTest, FiveHundredChecksASecondSharedByTheSourcesHeard)
{
    CSignatureBudget budget;
    int granted = 0;
    for (int i = 0; i < 600; ++i)
        granted += budget.Take(kForger, 0);
    EXPECT_EQ(granted, 500);
    EXPECT_FALSE(budget.Take(kAnnouncer, 999)) << "the second's checks are spent, whoever asks";
    granted = 0;
    for (int i = 0; i < 600; ++i)
        granted += budget.Take(kForger, 1000);
    EXPECT_EQ(granted, 250);
    for (int i = 0; i < 250; ++i)
        EXPECT_TRUE(budget.Take(kAnnouncer, 1500));
}

TEST(DropSummaryTest, SaysHowManyWhyAndFromWhereInOneLine)
{
    CDropSummary summary;
    for (std::uint32_t source = 1; source <= 10; ++source)
        summary.Count(DropReason::BadSignature, htonl(0x0A000000 + source));
    summary.Count(DropReason::Unsigned, htonl(0x0A000001));
    EXPECT_EQ(summary.Text(),
              "Dropped 11 announcements without a valid signature: 1 unsigned, 10 bad signature; from 10.0.0.1, "
              "10.0.0.2, 10.0.0.3, 10.0.0.4, 10.0.0.5, 10.0.0.6, 10.0.0.7, 10.0.0.8 and 2 frames from other addresses");
    testing::internal::CaptureStdout();
    summary.ReportIfDue(0);
    summary.Count(DropReason::Unsigned, 0);
    summary.ReportIfDue(59999);
    summary.ReportIfDue(60000);
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_EQ(std::count(printed.begin(), printed.end(), '\n'), 2) << printed;
}

// The receiver as the window sets it up, fed whole frames.
class SignedReceiverTest : public ::testing::Test {
protected:
    std::string KeysFile(const std::string& text)
    {
        const std::string path = m_folder.Path() + "/trusted-keys";
        std::ofstream(path) << text;
        chmod(path.c_str(), 0644);
        return path;
    }
    void Feed(CLinkReceiver& receiver, SignedFrame frame) { receiver.Feed(frame.bytes, sizeof frame.bytes); }

    test::TemporaryFolder m_folder;
    SigningKey m_key = FixedKey(1);
    std::string m_state = m_folder.Path() + "/state";
};

TEST_F(SignedReceiverTest, WithoutAKeyASignedFrameIsTakenAsAnyOther)
{
    CLinkReceiver receiver;
    testing::internal::CaptureStdout();
    receiver.RequireSignatures("", m_state);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Announcements are not signed: any computer on the network can change the links\n");
    Feed(receiver, SignedRecordFrame(LinkRecordBuilder("maths").Url("http://school/m.html"), kCounter, m_key));
    ASSERT_EQ(receiver.GetCount(), 1);
    LinkRecord stored{};
    receiver.GetRecord(0, stored);
    EXPECT_EQ(FieldText(stored.url), "http://school/m.html");
}

TEST_F(SignedReceiverTest, WithAKeyOnlyVerifiedRecordsReachTheStore)
{
    CLinkReceiver receiver;
    receiver.RequireSignatures(KeysFile(TrustedKeyLine(m_key.publicKey, "announcer") + "\n"), m_state);
    unsigned char unsignedFrame[kLinkRecordFrameSize];
    testing::internal::CaptureStdout();
    for (int i = 0; i < 30; ++i) {
        EncodeLinkRecordFrame(LinkRecordBuilder("made-up" + std::to_string(i)), 0, unsignedFrame);
        receiver.Feed(unsignedFrame, sizeof unsignedFrame);
    }
    EXPECT_EQ(receiver.GetCount(), 0);
    Feed(receiver, SignedRecordFrame(LinkRecordBuilder("maths"), kCounter, m_key));
    EXPECT_EQ(receiver.GetCount(), 1);
    // The first drop is said at once, the next 29 not before a minute.
    receiver.ReportDrops();
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Dropped 1 announcement without a valid signature: 1 unsigned; from 0.0.0.0\n");
}

// Stands in for the window: keeps the socket it is asked to watch.
class CSocketKeeper final : public CSocketOwner {
public:
    void WatchSocket(int socket) override { watched = socket; }
    void UnwatchSocket(int) override { watched = -1; }
    int watched = -1;
};

TEST_F(SignedReceiverTest, DropsOnTheChannelNameTheAddressThatSentThem)
{
    CSocketKeeper keeper;
    CLinkReceiver receiver;
    receiver.RequireSignatures(KeysFile(TrustedKeyLine(m_key.publicKey, "") + "\n"), m_state);
    ASSERT_TRUE(receiver.Open("127.0.0.1", 0, &keeper));
    const std::uint16_t port = test::BoundPort(keeper.watched);
    test::LoopbackUdp sender;
    SignedFrame good = SignedRecordFrame(LinkRecordBuilder("maths"), kCounter, m_key);
    SignedFrame forged = SignedRecordFrame(LinkRecordBuilder("music"), kCounter, FixedKey(9));
    testing::internal::CaptureStdout();
    for (SignedFrame* frame : {&forged, &good}) {
        ASSERT_TRUE(sender.SendTo(port, test::Bytes(frame->bytes, frame->bytes + sizeof frame->bytes)));
        receiver.OnSocketNotify(static_cast<std::uintptr_t>(keeper.watched), CChannelSocket::kReadEvent);
    }
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Dropped 1 announcement without a valid signature: 1 unknown key; from 127.0.0.1\n");
    EXPECT_EQ(receiver.GetCount(), 1);
}

TEST_F(SignedReceiverTest, TheHighestCounterOutlivesARestart)
{
    const std::string keys = KeysFile(TrustedKeyLine(m_key.publicKey, "") + "\n");
    {
        CLinkReceiver receiver;
        receiver.RequireSignatures(keys, m_state);
        Feed(receiver, SignedRecordFrame(LinkRecordBuilder("maths"), kCounter, m_key));
        ASSERT_EQ(receiver.GetCount(), 1);
    }
    CLinkReceiver restarted;
    restarted.RequireSignatures(keys, m_state);
    testing::internal::CaptureStdout();
    Feed(restarted, SignedRecordFrame(LinkRecordBuilder("music"), kCounter - 600001, m_key));
    EXPECT_EQ(restarted.GetCount(), 0);
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_NE(printed.find(": 1 counter too old;"), std::string::npos) << printed;
    Feed(restarted, SignedRecordFrame(LinkRecordBuilder("music"), kCounter + 1, m_key));
    EXPECT_EQ(restarted.GetCount(), 1);
}

TEST_F(SignedReceiverTest, CountersThatAreNoCounterAreIgnoredAndCurrentFramesTaken)
{
    const std::string keys = KeysFile(TrustedKeyLine(m_key.publicKey, "") + "\n");
    const std::string id = KeyIdText(m_key.id);
    ASSERT_EQ(MakeFolders(m_state), 0);
    for (const char* value : {"-1", "-99999999999999999999", "12abc", "abc", "", "99999999999999999999999"}) {
        std::ofstream(m_state + "/announcement-counters") << id << " " << value << "\n";
        CLinkReceiver restarted;
        restarted.RequireSignatures(keys, m_state);
        Feed(restarted, SignedRecordFrame(LinkRecordBuilder("maths"), kCounter, m_key));
        EXPECT_EQ(restarted.GetCount(), 1) << "counter \"" << value << "\"";
    }
}

TEST_F(SignedReceiverTest, AKeyFileThatCannotBeTrustedAcceptsNothing)
{
    CLinkReceiver receiver;
    testing::internal::CaptureStdout();
    receiver.RequireSignatures(m_folder.Path() + "/no-such-file", m_state);
    EXPECT_NE(testing::internal::GetCapturedStdout().find("no-such-file: the trusted-keys file is missing"),
              std::string::npos);
    unsigned char unsignedFrame[kLinkRecordFrameSize];
    EncodeLinkRecordFrame(LinkRecordBuilder("maths"), 0, unsignedFrame);
    testing::internal::CaptureStdout();
    receiver.Feed(unsignedFrame, sizeof unsignedFrame);
    Feed(receiver, SignedRecordFrame(LinkRecordBuilder("music"), kCounter, m_key));
    EXPECT_EQ(receiver.GetCount(), 0);
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_NE(printed.find(": 1 no usable trusted key;"), std::string::npos) << printed;
}

} // namespace
} // namespace kestrel
