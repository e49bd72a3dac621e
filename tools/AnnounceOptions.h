#pragma once

#include "base/ClassroomState.h"
#include "tools/ReportSubnets.h"
#include "tools/ServedFolder.h"

#include <string>
#include <vector>

namespace kestrel {

// What one run of the announcer is asked to do.
struct AnnounceOptions {
    enum class Mode { Announce, Listen, Room, GenerateKey, Help, Version };

    Mode mode = Mode::Announce;
    std::string cataloguePath;
    // The catalogue the teachers' publishing page writes: announced instead
    // of cataloguePath whenever it exists.
    std::string publishedPath;
    // Where the catalogue on the air and its source are written for the
    // publishing page; empty for nowhere.
    std::string onAirFolder;
    // Real classrooms hear the limited broadcast on the browser's default
    // channel port.
    std::string toAddress = "255.255.255.255";
    int port = 9000;
    // Hop limit of datagrams to a multicast group: 1 stays on the subnet,
    // each router on the way needs one more.
    int ttl = 1;
    // The multicast group a listener joins; empty for none.
    std::string group;
    double intervalSeconds = 2.0;
    bool once = false;
    // Local address or interface name to send from (or listen on); empty
    // leaves the choice to the system.
    std::string from;
    // --serve's folder at "/", and --serve-at's beside it.
    std::vector<FolderToServe> servedFolders;
    std::string httpAddress = "0.0.0.0";
    int httpPort = 8080;
    // Signing: the new key file of --gen-key, the secret key that signs
    // every frame, the counter's state file (empty: the default), and the
    // trusted-keys file --listen checks signatures against.
    std::string newKeyPath;
    std::string keyPath;
    std::string statePath;
    std::string trustPath;
    // The classroom state sent at the start of every round; the published
    // state file stands in for these while it exists. --pause-minutes
    // pauses that long from the start and then goes to classroomMode.
    ClassroomMode classroomMode = ClassroomMode::Open;
    // Valid entries only, single spaces between; the others were named in
    // skippedHosts.
    std::string allowedHosts;
    std::vector<std::string> skippedHosts;
    // GBK, at most 127 bytes.
    std::string pauseMessage;
    int pauseMinutes = 0;
    // 0 until parsed: then what --valid-for said, or 10 and at least twice
    // the interval.
    int validForSeconds = 0;
    std::string publishedStatePath;
    // The room view: the port every state names for the screens' reports
    // (0: none), and the subnets reports are taken from beside the cards'.
    // It needs an on-air folder to write the room's summary into, which
    // --room reads (default kDefaultOnAirFolder).
    int reportPort = 9099;
    std::vector<Subnet> reportFrom;
    // IT staff's list of rooms (--rooms); while it does not exist, one room
    // on the options' own port and destination.
    std::string roomsPath;
};

// The service's run-time folder.
constexpr const char* kDefaultOnAirFolder = "/run/kestrel";

extern const char* const kAnnounceUsage;

// Reads the command line. False with `error` set when it makes no sense;
// the caller prints the error and the usage.
bool ParseAnnounceOptions(int argc, char** argv, AnnounceOptions& options, std::string& error);

} // namespace kestrel
