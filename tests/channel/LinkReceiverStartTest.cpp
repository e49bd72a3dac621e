#include "channel/LinkReceiver.h"
#include "config/ChannelSettings.h"
#include "config/SettingsKeys.h"
#include "config/ProfileString.h"
#include "config/SettingsPath.h"

#include "tests/channel/FrameBytes.h"
#include "tests/channel/LoopbackUdp.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace kestrel {
namespace {

using test::FakeSocketOwner;
using test::LinkRecordFrame;
using test::LoopbackUdp;
using test::MakeLinkRecord;

// A program path in a fresh temporary folder, whose settings file the test
// writes.
class LinkReceiverStartTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/kestrel-channel-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        m_folder = pattern;
        m_programPath = m_folder + "/kestrel";
    }
    void TearDown() override { std::filesystem::remove_all(m_folder); }

    // Starts the receiver as the window does: with the settings of the
    // program's settings file.
    bool Start(CLinkReceiver& receiver)
    {
        ChannelSettings settings;
        return ReadChannelSettings(SettingsPathFor(m_programPath), settings)
            && receiver.Start(settings.bindAddress, settings.port, &m_owner);
    }

    void WriteSettings(const std::string& portText, const std::string& bindAddress)
    {
        const std::string path = SettingsPathFor(m_programPath);
        ASSERT_TRUE(WriteProfileString(path, kSettingsSection, kMainChannelPortKey, portText));
        ASSERT_TRUE(WriteProfileString(path, kBroadcastBindSection, kBindAddressKey, bindAddress));
    }

    std::string m_folder;
    std::string m_programPath;
    FakeSocketOwner m_owner;
};

TEST_F(LinkReceiverStartTest, AnnouncementsOnTheSettingsPortFillTheStore)
{
    const std::uint16_t port = test::FreeUdpPort();
    ASSERT_NE(port, 0);
    WriteSettings(" " + std::to_string(port) + "x", "127.0.0.1");
    CLinkReceiver receiver;
    ASSERT_TRUE(Start(receiver));
    ASSERT_EQ(m_owner.watched.size(), 1u);
    const int socket = m_owner.Watched();
    EXPECT_EQ(test::BoundPort(socket), port);

    LoopbackUdp sender;
    const LinkRecord home = MakeLinkRecord("home", "http://127.0.0.1/home.html");
    const LinkRecord maths = MakeLinkRecord("\xCA\xFD\xD1\xA7", "http://127.0.0.1/maths.html");
    ASSERT_TRUE(sender.SendTo(port, LinkRecordFrame(home, 0)));
    ASSERT_TRUE(sender.SendTo(port, LinkRecordFrame(maths, 1)));
    ASSERT_TRUE(test::DeliverReadiness(receiver, socket));
    ASSERT_TRUE(test::DeliverReadiness(receiver, socket));

    ASSERT_EQ(receiver.GetCount(), 2);
    LinkRecord record{};
    ASSERT_TRUE(receiver.GetRecord(0, record));
    EXPECT_TRUE(test::SameRecord(record, home));
    ASSERT_TRUE(receiver.GetRecord(1, record));
    EXPECT_TRUE(test::SameRecord(record, maths));

    receiver.Close();
    EXPECT_EQ(m_owner.unwatched.size(), 1u);
}

TEST_F(LinkReceiverStartTest, APortTextAbove65535BindsItsLowSixteenBits)
{
    if (!LoopbackUdp(4464).IsBound())
        GTEST_SKIP() << "port 4464 is in use on this machine";
    WriteSettings("70000", "127.0.0.1");
    CLinkReceiver receiver;
    ASSERT_TRUE(Start(receiver));
    EXPECT_EQ(test::BoundPort(m_owner.Watched()), 4464);
}

TEST_F(LinkReceiverStartTest, WithoutAProgramFileThereIsNoChannelAndNoMessage)
{
    m_programPath = m_folder + "/";
    CLinkReceiver receiver;
    testing::internal::CaptureStdout();
    EXPECT_FALSE(Start(receiver));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_TRUE(m_owner.watched.empty());
}

} // namespace
} // namespace kestrel
