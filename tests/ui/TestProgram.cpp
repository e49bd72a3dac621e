#include "tests/ui/TestProgram.h"

#include "config/ChannelSettingsKeys.h"
#include "config/ProfileString.h"
#include "config/SettingsPath.h"

#include <QFile>

#include <netinet/in.h>
#include <sys/socket.h>

namespace kestrel {

TestProgram::TestProgram()
{
    const std::string programPath = QFile::encodeName(Path()).toStdString();
    const std::string settingsPath = SettingsPathFor(programPath);
    WriteProfileString(settingsPath, kSettingsSection, kMainChannelPortKey, "0");
    WriteProfileString(settingsPath, kBroadcastBindSection, kBindAddressKey, "127.0.0.1");
    m_receiver = std::make_unique<CLinkReceiver>(programPath);
}

QString TestProgram::Path() const
{
    return m_dir.filePath(QStringLiteral("kestrel"));
}

quint16 TestProgram::ChannelPort() const
{
    sockaddr_in address = {};
    socklen_t size = sizeof address;
    if (m_receiver->SocketHandle() < 0
        || getsockname(m_receiver->SocketHandle(), reinterpret_cast<sockaddr*>(&address), &size) != 0)
        return 0;
    return ntohs(address.sin_port);
}

} // namespace kestrel
