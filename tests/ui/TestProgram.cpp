#include "tests/ui/TestProgram.h"

#include "config/SettingsKeys.h"
#include "config/ProfileString.h"
#include "config/SettingsPath.h"
#include "channel/TrustedKeys.h"

#include <QFile>

namespace kestrel {

TestProgram::TestProgram()
{
    const std::string settingsPath = SettingsPath();
    WriteProfileString(settingsPath, kSettingsSection, kMainChannelPortKey, "0");
    WriteProfileString(settingsPath, kBroadcastBindSection, kBindAddressKey, "127.0.0.1");
    // Signature counters the window keeps stay in the test's folder.
    qputenv("XDG_STATE_HOME", QFile::encodeName(m_dir.filePath(QStringLiteral("state"))));
    m_receiver = std::make_unique<CLinkReceiver>();
}

std::string TestProgram::SettingsPath() const
{
    return SettingsPathFor(QFile::encodeName(Path()).toStdString());
}

QString TestProgram::Path() const
{
    return m_dir.filePath(QStringLiteral("kestrel"));
}

void TestProgram::TrustKey(const PublicKey& publicKey)
{
    const QString keysPath = m_dir.filePath(QStringLiteral("trusted-keys"));
    QFile keys(keysPath);
    if (keys.open(QIODevice::WriteOnly))
        keys.write(QByteArray::fromStdString(TrustedKeyLine(publicKey, "announcer") + "\n"));
    keys.close();
    WriteProfileString(SettingsPath(), kAnnouncementSigningSection, kTrustedKeysFileKey,
                       QFile::encodeName(keysPath).toStdString());
}

quint16 TestProgram::ChannelPort() const
{
    return m_receiver->ListeningPort();
}

} // namespace kestrel
