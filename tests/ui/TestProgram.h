#pragma once

#include "channel/LinkReceiver.h"
#include "channel/SignedLinkRecordFrame.h"

#include <QString>
#include <QTemporaryDir>

#include <memory>
#include <string>

namespace kestrel {

// A program path in a folder of its own, with a settings file that puts the
// channel on 127.0.0.1 at a port the system picks, and the receiver the
// window is given. Nothing is written beside the real program, nor into the
// user's state folder.
class TestProgram {
public:
    TestProgram();

    QString Path() const;
    // The settings file beside the program, as the program would find it.
    std::string SettingsPath() const;
    CLinkReceiver& Receiver() { return *m_receiver; }
    // Puts the key into a trusted-keys file beside the program and names it
    // in the settings file, as IT staff do on a pupil machine: a window made
    // afterwards takes only frames signed with it.
    void TrustKey(const PublicKey& publicKey);
    // The channel's port once the window has started the receiver; 0 before.
    quint16 ChannelPort() const;

private:
    QTemporaryDir m_dir;
    std::unique_ptr<CLinkReceiver> m_receiver;
};

} // namespace kestrel
