// Classroom-state frames between the announcer's encoder and the browser's
// reader, verifier and receiver.
#include "channel/AnnouncementVerifier.h"
#include "channel/ClassroomStateFrame.h"
#include "channel/LinkReceiver.h"
#include "tests/support/LinkRecordBuilder.h"
#include "tests/support/SignedFrames.h"
#include "tests/support/TemporaryFolder.h"

#include <gtest/gtest.h>
#include <sodium.h>

#include <fstream>
#include <functional>
#include <optional>
#include <sys/stat.h>

namespace kestrel {
namespace {

using test::FixedKey;
using test::LinkRecordBuilder;

constexpr std::uint64_t kCounter = 1796640000000;
constexpr std::uint16_t kPort = 9000;

struct StateFrame {
    unsigned char bytes[kClassroomStateFrameSize] = {};
    std::size_t size = 0;
    FrameView View() { return FrameView(bytes, size); }
    unsigned char* Payload() { return bytes + kFrameHeaderSize; }
};

ClassroomState Listing(std::initializer_list<const char*> names, ClassroomMode mode = ClassroomMode::Open)
{
    ClassroomState state;
    state.mode = mode;
    state.validForSeconds = 10;
    state.hasHome = true;
    for (const char* name : names)
        state.nameHashes[state.linkCount++] = HashLinkName(name);
    return state;
}

StateFrame Encode(const ClassroomState& state, const SigningKey* key = nullptr, std::uint64_t counter = kCounter,
                  std::uint16_t port = 0)
{
    StateFrame frame;
    frame.size = EncodeClassroomStateFrame(state, port, key, counter, frame.bytes);
    return frame;
}

TEST(ClassroomStateFrameTest, TheSenderWritesTheDocumentedBytesAndTheReceiverReadsThemBack)
{
    ClassroomState sent = Listing({"maths", "Music"}, ClassroomMode::Paused);
    sent.validForSeconds = 1234;
    sent.pauseCountdownSeconds = 90;
    sent.pauseId = 0xA1B2C3D4;
    sent.digest = {1, 2, 3, 4, 5, 6, 7, 8};
    sent.reportAddress = 0x0A01A8C0;
    sent.reportPort = 0x1234;
    std::strcpy(sent.pauseMessage, "\xBF\xB4\xBA\xDA\xB0\xE5"); // 看黑板 in GBK
    std::strcpy(sent.extraHosts, "example.com 10.0.0.5");
    StateFrame frame = Encode(sent, nullptr, 0, kPort);
    const unsigned char* p = frame.Payload();
    ASSERT_EQ(frame.size, 18u + 1024);
    // Type, marker, port 9000, four zeros, length 1024.
    const unsigned char header[] = {0xC9, 0, 0x28, 0x23, 0, 0, 0, 0, 0x00, 0x04, 0, 0};
    EXPECT_EQ(std::memcmp(frame.bytes + 6, header, sizeof header), 0);
    // Magic, mode, n, flags, reserved, valid for, countdown, digest, report
    // address and port, reserved, pause id.
    const unsigned char fields[] = {'K', 'C', 'S', '1', 2, 2, 1, 0, 0xD2, 0x04, 0, 0, 90, 0, 0, 0, 1, 2, 3, 4, 5, 6,
                                    7, 8, 0xC0, 0xA8, 0x01, 0x0A, 0x34, 0x12, 0, 0, 0xD4, 0xC3, 0xB2, 0xA1};
    EXPECT_EQ(std::memcmp(p, fields, sizeof fields), 0);
    EXPECT_EQ(std::memcmp(p + 36 + 8, HashLinkName("music").data(), 8), 0) << "names hash with A-Z folded";
    EXPECT_STREQ(reinterpret_cast<const char*>(p + 196), sent.pauseMessage);
    EXPECT_STREQ(reinterpret_cast<const char*>(p + 324), "example.com 10.0.0.5");

    // Read and written again, every byte comes back.
    ClassroomState read;
    ASSERT_EQ(ReadClassroomStateFrame(frame.View(), read), StateFault::None);
    EXPECT_EQ(std::memcmp(Encode(read, nullptr, 0, kPort).bytes, frame.bytes, frame.size), 0);
}

TEST(ClassroomStateFrameTest, TheSignedFormSignsItsOwnMessage)
{
    const SigningKey key = FixedKey(1);
    StateFrame frame = Encode(Listing({"maths"}), &key, 0x0102030405060708, kPort);
    ASSERT_EQ(frame.size, 18u + 1114);
    const unsigned char* p = frame.Payload();
    std::string message("Kestrel signed classroom state v1", 33);
    message += '\0';
    message.append(reinterpret_cast<const char*>(frame.bytes + 6), 12);
    message.append(reinterpret_cast<const char*>(p), 1050);
    EXPECT_EQ(crypto_sign_verify_detached(p + 1050, reinterpret_cast<const unsigned char*>(message.data()),
                                          message.size(), key.publicKey.data()),
              0);
}

TEST(ClassroomStateFrameTest, TheDigestRunsOverTheHomeRecordAndTheListInOrder)
{
    const LinkRecord maths = LinkRecordBuilder("maths").Url("http://m/");
    const LinkRecord music = LinkRecordBuilder("music");
    const LinkRecord* listed[] = {&music, &maths};
    LinkRecord bytes[3] = {};
    bytes[1] = music;
    bytes[2] = maths;
    unsigned char full[32];
    crypto_generichash(full, sizeof full, reinterpret_cast<const unsigned char*>(bytes), sizeof bytes, nullptr, 0);
    const CatalogueDigest digest = DigestCatalogue(nullptr, listed, 2);
    EXPECT_EQ(std::memcmp(digest.data(), full, 8), 0);
    EXPECT_NE(DigestCatalogue(&maths, listed, 2), digest);
}

struct MalformedState {
    const char* what;
    std::function<void(StateFrame&)> change;
    StateFault fault;
};

TEST(ClassroomStateFrameTest, EveryMalformedStateIsRefusedWithItsReason)
{
    const auto put32 = [](unsigned char* at, std::uint32_t value) {
        for (int i = 0; i < 4; ++i)
            at[i] = static_cast<unsigned char>(value >> (8 * i));
    };
    const auto hash = [](StateFrame& f, int entry) { return f.Payload() + 36 + 8 * entry; };
    const MalformedState cases[] = {
        {"another type", [](StateFrame& f) { f.bytes[6] = 0xC8; }, StateFault::NotAState},
        {"marker 1", [](StateFrame& f) { f.bytes[7] = 1; }, StateFault::WrongMarker},
        {"length 1023", [&](StateFrame& f) { put32(f.bytes + 14, 1023); }, StateFault::WrongLength},
        {"length 1025", [&](StateFrame& f) { put32(f.bytes + 14, 1025); }, StateFault::WrongLength},
        {"magic", [](StateFrame& f) { f.Payload()[3] = '2'; }, StateFault::WrongMagic},
        {"mode 3", [](StateFrame& f) { f.Payload()[4] = 3; }, StateFault::WrongMode},
        {"21 links", [](StateFrame& f) { f.Payload()[5] = 21; }, StateFault::WrongLinkCount},
        {"flag bit 1", [](StateFrame& f) { f.Payload()[6] = 3; }, StateFault::WrongFlags},
        {"reserved byte 7", [](StateFrame& f) { f.Payload()[7] = 1; }, StateFault::ReservedSet},
        {"reserved byte 31", [](StateFrame& f) { f.Payload()[31] = 1; }, StateFault::ReservedSet},
        {"valid for 4 s", [&](StateFrame& f) { put32(f.Payload() + 8, 4); }, StateFault::WrongValidFor},
        {"valid for 3601 s", [&](StateFrame& f) { put32(f.Payload() + 8, 3601); }, StateFault::WrongValidFor},
        {"countdown while open", [&](StateFrame& f) { put32(f.Payload() + 12, 1); }, StateFault::WrongCountdown},
        {"countdown over a day", [&](StateFrame& f) { f.Payload()[4] = 2, put32(f.Payload() + 12, 86401); },
         StateFault::WrongCountdown},
        {"a name twice", [&](StateFrame& f) { std::memcpy(hash(f, 1), hash(f, 0), 8); }, StateFault::DuplicateName},
        {"a hash beyond n", [&](StateFrame& f) { hash(f, 2)[7] = 1; }, StateFault::NameBeyondCount},
        {"a message without NUL", [](StateFrame& f) { std::memset(f.Payload() + 196, 'a', 128); },
         StateFault::TextWithoutEnd},
        {"hosts without NUL", [](StateFrame& f) { std::memset(f.Payload() + 324, 'a', 700); },
         StateFault::TextWithoutEnd},
        {"a day's countdown while paused", [&](StateFrame& f) { f.Payload()[4] = 2, put32(f.Payload() + 12, 86400); },
         StateFault::None},
    };
    for (const MalformedState& malformed : cases) {
        StateFrame frame = Encode(Listing({"maths", "music"}));
        malformed.change(frame);
        ClassroomState read;
        EXPECT_EQ(ReadClassroomStateFrame(frame.View(), read), malformed.fault) << malformed.what;
    }
}

class SignedStateTest : public ::testing::Test {
protected:
    SignedStateTest()
    {
        m_verifier.Trust({test::TrustOf(m_key)});
        m_verifier.SetChannelPort(kPort);
    }
    std::optional<DropReason> Refusal(StateFrame frame)
    {
        DropReason reason;
        std::uint64_t counter = 0;
        if (m_verifier.AdmitState(frame.View(), 0, m_now += 10, counter, reason))
            return std::nullopt;
        return reason;
    }
    StateFrame Signed(std::uint64_t counter, std::uint16_t port = 0) { return Encode(Listing({"maths"}), &m_key, counter, port); }

    SigningKey m_key = FixedKey(1);
    CAnnouncementVerifier m_verifier;
    std::int64_t m_now = 0;
};

TEST_F(SignedStateTest, OnlySignedFreshStatesBoundToThisPortPass)
{
    // The same bytes, signed as if they were a link record.
    StateFrame linkSigned = Signed(kCounter + 10);
    std::string message("Kestrel signed link record v1", 30);
    message.append(reinterpret_cast<const char*>(linkSigned.bytes + 6), 12);
    message.append(reinterpret_cast<const char*>(linkSigned.Payload()), 1050);
    crypto_sign_detached(linkSigned.Payload() + 1050, nullptr, reinterpret_cast<const unsigned char*>(message.data()),
                         message.size(), m_key.secretKey.data());
    test::Reseal(linkSigned.bytes, linkSigned.size);

    EXPECT_EQ(Refusal(Encode(Listing({"maths"}))), DropReason::Unsigned);
    EXPECT_EQ(Refusal(Signed(kCounter, kPort)), std::nullopt);
    EXPECT_EQ(Refusal(Signed(kCounter, kPort)), DropReason::Replayed);
    EXPECT_EQ(Refusal(Signed(kCounter + 1, kPort + 1)), DropReason::OtherPort);
    EXPECT_EQ(Refusal(linkSigned), DropReason::BadSignature);
    EXPECT_EQ(Refusal(Signed(kCounter + 2)), std::nullopt) << "an unbound frame";

    // Records share the counter: a state ten minutes below the highest is old.
    DropReason reason;
    test::SignedFrame record = test::SignedRecordFrame(LinkRecordBuilder("maths"), kCounter + 700000, m_key);
    ASSERT_TRUE(m_verifier.Admit(record.View(), HashLinkName("maths"), 0, m_now, reason));
    EXPECT_EQ(Refusal(Signed(kCounter + 3)), DropReason::TooOld);
}

// The receiver as the window uses it, fed whole frames.
class StateReceiverTest : public ::testing::Test {
protected:
    void TrustTheKey(CLinkReceiver& receiver)
    {
        const std::string path = m_folder.Path() + "/trusted-keys";
        std::ofstream(path) << TrustedKeyLine(m_key.publicKey, "") << "\n";
        chmod(path.c_str(), 0644);
        testing::internal::CaptureStdout();
        receiver.RequireSignatures(path, m_folder.Path() + "/state");
        testing::internal::GetCapturedStdout();
    }
    void Send(CLinkReceiver& receiver, StateFrame frame) { receiver.Feed(frame.bytes, frame.size); }
    // Signed: a receiver without keys takes it as any other.
    void SendRecord(CLinkReceiver& receiver, const char* name, std::uint64_t counter = kCounter)
    {
        test::SignedFrame frame = test::SignedRecordFrame(LinkRecordBuilder(name), counter, m_key);
        receiver.Feed(frame.bytes, sizeof frame.bytes);
    }
    static std::string Names(const CLinkReceiver& receiver)
    {
        std::string names;
        LinkRecord record;
        for (int i = 0; receiver.GetRecord(i, record); ++i)
            names += std::string(names.empty() ? "" : " ") + std::string(FieldText(record.name));
        return names;
    }

    test::TemporaryFolder m_folder;
    SigningKey m_key = FixedKey(1);
};

TEST_F(StateReceiverTest, WithoutKeysOnlyTheListCountsAndItTrimsTheStore)
{
    CLinkReceiver receiver;
    for (const char* name : {"home", "art", "maths", "music"})
        SendRecord(receiver, name);
    ClassroomState paused = Listing({"music", "ART"}, ClassroomMode::Paused);
    paused.hasHome = false;
    paused.reportPort = 7000;
    Send(receiver, Encode(paused, &m_key));
    EXPECT_EQ(Names(receiver), "art music") << "unlisted names and the home record leave, the rest keep their order";
    ClassroomState taken;
    ASSERT_TRUE(receiver.TakeState(taken));
    EXPECT_EQ(taken.mode, ClassroomMode::Open);
    EXPECT_EQ(taken.reportPort, 0);
    EXPECT_EQ(taken.linkCount, 2);
    EXPECT_FALSE(receiver.TakeState(taken)) << "handed out once";

    SendRecord(receiver, "history");
    EXPECT_EQ(Names(receiver), "art music history") << "an unlisted record waits in the store";
    Send(receiver, Encode(Listing({"history"})));
    EXPECT_EQ(Names(receiver), "history");
}

TEST_F(StateReceiverTest, WithAKeyOnlySignedStatesCountAndARecordedPauseNotAfterARestart)
{
    const StateFrame pause = Encode(Listing({}, ClassroomMode::Paused), &m_key, kCounter + 1);
    ClassroomState taken;
    {
        CLinkReceiver receiver;
        TrustTheKey(receiver);
        SendRecord(receiver, "maths", kCounter);
        testing::internal::CaptureStdout();
        Send(receiver, Encode(Listing({})));
        testing::internal::GetCapturedStdout();
        EXPECT_FALSE(receiver.TakeState(taken)) << "an unsigned state changes nothing";
        EXPECT_EQ(Names(receiver), "maths");
        Send(receiver, pause);
        ASSERT_TRUE(receiver.TakeState(taken));
        EXPECT_TRUE(taken.mode == ClassroomMode::Paused && taken.signedByTrustedKey && taken.counter == kCounter + 1);
        EXPECT_EQ(Names(receiver), "");
    }
    CLinkReceiver restarted;
    TrustTheKey(restarted);
    testing::internal::CaptureStdout();
    Send(restarted, pause);
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_FALSE(restarted.TakeState(taken));
    EXPECT_NE(printed.find("1 replayed counter"), std::string::npos) << printed;
    Send(restarted, Encode(Listing({}), &m_key, kCounter + 2));
    EXPECT_TRUE(restarted.TakeState(taken));
}

TEST_F(StateReceiverTest, TwoHundredNamesOverADayNeverFillTheStoreOrTheCounters)
{
    CLinkReceiver receiver;
    TrustTheKey(receiver);
    std::uint64_t counter = kCounter;
    std::vector<std::string> names;
    std::vector<std::uint64_t> sentAt;
    for (int lesson = 0; lesson < 20; ++lesson) {
        counter += 25 * 60000;
        ClassroomState state = Listing({});
        for (int k = 0; k < 10; ++k) {
            names.push_back("lesson" + std::to_string(lesson) + "-" + std::to_string(k));
            state.nameHashes[state.linkCount++] = HashLinkName(names.back());
        }
        Send(receiver, Encode(state, &m_key, ++counter));
        for (int k = 0; k < 10; ++k) {
            sentAt.push_back(++counter);
            SendRecord(receiver, names[lesson * 10 + k].c_str(), counter);
        }
        ASSERT_EQ(receiver.GetCount(), 10) << "lesson " << lesson;
    }
    // A dropped name's recorded frame does not come back; a new one waits.
    testing::internal::CaptureStdout();
    SendRecord(receiver, names[185].c_str(), sentAt[185]);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(receiver.GetCount(), 10);
    SendRecord(receiver, names[185].c_str(), ++counter);
    EXPECT_EQ(receiver.GetCount(), 11);
}

} // namespace
} // namespace kestrel
