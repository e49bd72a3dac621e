#include "tools/AnnounceOptions.h"

#include "base/GbkText.h"
#include "channel/ClassroomStateFrame.h"
#include "channel/MulticastGroup.h"
#include "tools/ClassroomStateText.h"
#include "tools/LongOptions.h"
#include "tools/WholeNumber.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cmath>
#include <cstdlib>
#include <string_view>

namespace kestrel {

const char* const kAnnounceUsage = R"(Usage: kestrel-announce [options] CATALOGUE
       kestrel-announce --serve DIR [--serve-at /PATH/=DIR ...] [options] [CATALOGUE]
       kestrel-announce --listen [--port N] [--from ADDR|IFACE] [--group GROUP] [--trust FILE]
       kestrel-announce --room [--on-air DIR] [--rooms FILE]
       kestrel-announce --gen-key FILE

Announces the links of CATALOGUE to the Kestrel browsers on the network,
again and again, so that machines started later learn them too. The file is
read again whenever it changes; a broken edit is reported and the last valid
catalogue stays on the air.

Options:
  --to ADDR            send to this IPv4 address (default 255.255.255.255):
                       a broadcast address, or a multicast group such as
                       239.255.90.0 that routers carry across subnets
  --ttl N              hop limit of multicast datagrams, 1 to 255 (default 1,
                       this subnet only; add one for each router to cross)
  --port N             channel port (default 9000)
  --interval S         seconds between two announcements (default 2)
  --once               announce once and exit
  --published FILE     announce FILE instead of CATALOGUE whenever it exists
                       (the catalogue kestrel-publish writes)
  --published-state FILE  while FILE exists, send the classroom state it
                       holds instead of --mode, --allow and the pause options
                       (the state kestrel-publish writes; format below)
  --on-air DIR         write the catalogue on the air to DIR/on-air.ini, its
                       file to DIR/on-air.status and the room view to
                       DIR/room.json, for kestrel-publish
  --report-port N      the port every classroom state names for the screens'
                       reports, listened on for the room view (default 9099;
                       0: no reports); needs --on-air
  --report-from CIDR   take reports from this subnet too, such as
                       10.1.0.0/16, beside the subnets of this machine's cards
                       (again, or comma-separated, for more)
  --room               print the room view: every screen that reports, and
                       whether it shows what is on the air (read from
                       DIR/room.json of --on-air, default /run/kestrel; with
                       --rooms, every room's)
  --rooms FILE         announce every room of FILE on its own channel (its
                       port and destination), each room's published files
                       under rooms/ID/ beside --published and
                       --published-state and its on-air files under
                       DIR/rooms/ID/; while FILE does not exist, one room as
                       without it (format below)
  --from ADDR|IFACE    send from (or listen on) this local address or
                       interface; for a group, the card it goes out of (or is
                       joined on)
  --serve DIR          serve the pages and pictures in DIR over HTTP at "/"
  --serve-at /PATH/=DIR  serve DIR as well, under /PATH/ (again for more
                       folders); a folder that is missing is answered 404
                       until it appears
  --http-port N        port of that HTTP server (default 8080)
  --http-address ADDR  local address it listens on (default 0.0.0.0, all)
  --mode MODE          the classroom state sent before the links of every
                       round: open (default), lesson (only the lesson's sites
                       open) or paused (the screens are covered)
  --allow "HOST ..."   in lesson mode, more hosts allowed beside those of the
                       links: lower-case DNS names or dotted IPv4 addresses
  --pause-message TEXT the text on the covered screens (at most 127 bytes in
                       GBK; empty: the standing text)
  --pause-minutes N    pause for N minutes (1 to 1440) from the start, then
                       send --mode
  --valid-for S        seconds a browser keeps a state without hearing it
                       again, 5 to 3600 (default 10, at least twice the
                       interval)
  --listen             print every link record and classroom state heard on
                       the port, whether it is signed and by which key
  --group GROUP        with --listen: join this multicast group as well
  --trust FILE         with --listen: check signatures against this
                       trusted-keys file
  --gen-key FILE       write a new secret key to FILE (never overwritten) and
                       print the line for the browsers' trusted-keys file
  --key FILE           sign every announcement with the secret key in FILE
  --state FILE         where the signing counter is kept (default
                       $XDG_STATE_HOME/kestrel/announce-counter, else
                       ~/.local/state/kestrel/announce-counter)
  --help               print this text
  --version            print the version

Catalogue (UTF-8 text; # or ; starts a comment):
  [home]
  url = http://server/index.html
  [link]                                one section per link, at most 20
  name = 语文                           button label, at most 127 bytes in GBK
  caption = 语文：古诗两首              tool tip, at most 255 bytes in GBK
  url = http://server/yuwen.html        page the button opens
  picture = http://server/yuwen.bmp     24x24 BMP, shown under the mouse
  cool-picture = http://server/yuwen-cool.bmp   24x24 BMP, shown otherwise

Published state (UTF-8 text; # or ; starts a comment; every key optional):
  mode = paused                         open, lesson or paused
  hosts = example.com 10.0.0.5          more allowed hosts in lesson mode
  message = 请看黑板                     the text on the covered screens
  pause-id = 17                         a new number for each new pause
  pause-until = 1796640000              end of the pause, seconds since 1970
                                        (UTC); none: until the mode changes
  after-pause = lesson                  open or lesson, after pause-until
A pause without pause-until is not taken up again when the announcer starts.

Rooms (UTF-8 text; # or ; starts a comment; one section per room):
  [room]
  id = r302                             a-z, 0-9, _ and -, at most 32
  name = 三年二班                        shown on the publishing page
  port = 9302                           the room's channel port, its own
  to = 239.255.93.2                     its multicast group or broadcast address
  from = eth0                           optional: the card it goes out of
  ttl = 2                               optional: hop limit, 1 to 255
A room with a mistake is left out with a line naming it; the others go out.
)";

namespace {

bool IsIpv4Address(const std::string& text)
{
    in_addr address;
    return inet_pton(AF_INET, text.c_str(), &address) == 1;
}

const std::vector<LongOption> kOptions = {
    {"--to", true}, {"--port", true}, {"--ttl", true}, {"--interval", true}, {"--once", false},
    {"--published", true}, {"--on-air", true}, {"--from", true}, {"--serve", true}, {"--serve-at", true}, {"--http-port", true},
    {"--http-address", true}, {"--listen", false}, {"--group", true}, {"--trust", true}, {"--gen-key", true},
    {"--key", true}, {"--state", true}, {"--help", false}, {"--version", false}, {"--mode", true},
    {"--allow", true}, {"--pause-message", true}, {"--pause-minutes", true}, {"--valid-for", true},
    {"--published-state", true}, {"--report-port", true}, {"--report-from", true}, {"--room", false},
    {"--rooms", true},
};

constexpr int kLongestPauseMinutes = 1440;
constexpr int kDefaultValidFor = 10;

// The options that set the classroom state.
bool ApplyStateOption(std::string_view option, const std::string& value, AnnounceOptions& options,
                      std::string& error)
{
    long number = 0;
    if (option == "--mode") {
        if (!ReadClassroomMode(value, options.classroomMode)) {
            error = "--mode needs open, lesson or paused, not \"" + value + "\"";
            return false;
        }
    } else if (option == "--allow") {
        options.allowedHosts = AllowedHostsText(value, options.skippedHosts);
    } else if (option == "--pause-message") {
        if (!Utf8ToGbk(value, options.pauseMessage) || options.pauseMessage.size() >= sizeof(ClassroomState::pauseMessage)
            || options.pauseMessage.find('\0') != std::string::npos) {
            error = "--pause-message needs UTF-8 text of at most 127 bytes in GBK";
            return false;
        }
    } else if (option == "--pause-minutes") {
        if (!ReadWholeNumber(value, 1, kLongestPauseMinutes, number)) {
            error = "--pause-minutes needs minutes from 1 to 1440, not \"" + value + "\"";
            return false;
        }
        options.pauseMinutes = static_cast<int>(number);
    } else if (option == "--valid-for") {
        if (!ReadWholeNumber(value, kShortestValidFor, kLongestValidFor, number)) {
            error = "--valid-for needs seconds from 5 to 3600, not \"" + value + "\"";
            return false;
        }
        options.validForSeconds = static_cast<int>(number);
    } else if (option == "--published-state") {
        if (value.empty()) {
            error = "--published-state needs a file name";
            return false;
        }
        options.publishedStatePath = value;
    }
    return true;
}

// The room view's options.
bool ApplyRoomOption(std::string_view option, const std::string& value, AnnounceOptions& options, std::string& error)
{
    long number = 0;
    if (option == "--room") {
        options.mode = AnnounceOptions::Mode::Room;
    } else if (option == "--report-port") {
        if (!ReadWholeNumber(value, 0, 65535, number)) {
            error = "--report-port needs a port from 0 to 65535, not \"" + value + "\"";
            return false;
        }
        options.reportPort = static_cast<int>(number);
    } else {
        // Several subnets in one value, as a service's options file gives them.
        std::size_t start = 0;
        while ((start = value.find_first_not_of(" ,", start)) != std::string::npos) {
            const std::size_t end = std::min(value.find_first_of(" ,", start), value.size());
            Subnet subnet;
            if (!ReadSubnet(std::string_view(value).substr(start, end - start), subnet)) {
                error = "--report-from needs subnets such as 10.1.0.0/16, not \"" + value.substr(start, end - start) + "\"";
                return false;
            }
            options.reportFrom.push_back(subnet);
            start = end;
        }
    }
    return true;
}

// --serve DIR is "/"; --serve-at /PATH/=DIR names its own path. Each path
// is served once.
bool AddServedFolder(std::string_view option, const std::string& value, AnnounceOptions& options, std::string& error)
{
    FolderToServe folder{"/", value};
    if (option == "--serve-at") {
        const std::size_t equals = value.find('=');
        folder.urlPrefix = value.substr(0, equals == std::string::npos ? 0 : equals);
        folder.directory = equals == std::string::npos ? std::string() : value.substr(equals + 1);
        if (folder.urlPrefix.size() < 3 || folder.urlPrefix.front() != '/' || folder.urlPrefix.back() != '/') {
            error = "--serve-at needs /PATH/=DIR, like /pictures/=/var/lib/kestrel/pictures, not \"" + value + "\"";
            return false;
        }
    }
    if (folder.directory.empty()) {
        error = std::string(option) + " needs a folder";
        return false;
    }
    for (const FolderToServe& served : options.servedFolders) {
        if (served.urlPrefix == folder.urlPrefix) {
            error = folder.urlPrefix == "/" ? "only one --serve; serve more folders with --serve-at /PATH/=DIR"
                                            : folder.urlPrefix + " is already served";
            return false;
        }
    }
    options.servedFolders.push_back(folder);
    return true;
}

bool ApplyOption(std::string_view option, const std::string& value, AnnounceOptions& options, std::string& error)
{
    long number = 0;
    if (option.empty()) {
        if (!options.cataloguePath.empty()) {
            error = "only one catalogue file, please";
            return false;
        }
        options.cataloguePath = value;
    } else if (option == "--help") {
        options.mode = AnnounceOptions::Mode::Help;
    } else if (option == "--version") {
        options.mode = AnnounceOptions::Mode::Version;
    } else if (option == "--listen") {
        options.mode = AnnounceOptions::Mode::Listen;
    } else if (option == "--once") {
        options.once = true;
    } else if (option == "--to" || option == "--http-address") {
        if (!IsIpv4Address(value)) {
            error = std::string(option) + " needs an IPv4 address like 192.168.1.255, not \"" + value + "\"";
            return false;
        }
        (option == "--to" ? options.toAddress : options.httpAddress) = value;
    } else if (option == "--port" || option == "--http-port") {
        if (!ReadWholeNumber(value, 1, 65535, number)) {
            error = std::string(option) + " needs a port from 1 to 65535, not \"" + value + "\"";
            return false;
        }
        (option == "--port" ? options.port : options.httpPort) = static_cast<int>(number);
    } else if (option == "--ttl") {
        if (!ReadWholeNumber(value, 1, 255, number)) {
            error = "--ttl needs a hop limit from 1 to 255, not \"" + value + "\"";
            return false;
        }
        options.ttl = static_cast<int>(number);
    } else if (option == "--group") {
        in_addr group;
        if (!ReadMulticastGroup(value, group)) {
            error = "--group needs an IPv4 multicast group from 224.0.0.0 to 239.255.255.255, not \"" + value + "\"";
            return false;
        }
        options.group = value;
    } else if (option == "--interval") {
        char* end = nullptr;
        options.intervalSeconds = std::strtod(value.c_str(), &end);
        if (value.empty() || *end != '\0' || !(options.intervalSeconds >= 0.1 && options.intervalSeconds <= 3600)) {
            error = "--interval needs seconds from 0.1 to 3600, not \"" + value + "\"";
            return false;
        }
    } else if (option == "--from") {
        options.from = value;
    } else if (option == "--serve" || option == "--serve-at") {
        return AddServedFolder(option, value, options, error);
    } else if (option == "--gen-key") {
        options.mode = AnnounceOptions::Mode::GenerateKey;
        options.newKeyPath = value;
    } else if (option == "--on-air") {
        if (value.empty()) {
            error = "--on-air needs a folder";
            return false;
        }
        options.onAirFolder = value;
    } else if (option == "--room" || option.substr(0, 9) == "--report-") {
        return ApplyRoomOption(option, value, options, error);
    } else if (option == "--mode" || option == "--allow" || option.substr(0, 8) == "--pause-" || option == "--valid-for"
               || option == "--published-state") {
        return ApplyStateOption(option, value, options, error);
    } else if (option == "--key" || option == "--state" || option == "--trust" || option == "--published"
               || option == "--rooms") {
        if (value.empty()) {
            error = std::string(option) + " needs a file name";
            return false;
        }
        (option == "--key"         ? options.keyPath
                : option == "--state" ? options.statePath
                : option == "--trust" ? options.trustPath
                : option == "--rooms" ? options.roomsPath
                                      : options.publishedPath)
            = value;
    }
    return true;
}

bool CheckCombination(const AnnounceOptions& options, std::string& error)
{
    if (options.mode == AnnounceOptions::Mode::GenerateKey) {
        if (options.newKeyPath.empty()) {
            error = "--gen-key needs the name of the new key file";
            return false;
        }
        return true;
    }
    if (!options.trustPath.empty() && options.mode != AnnounceOptions::Mode::Listen) {
        error = "--trust goes with --listen";
        return false;
    }
    if (options.mode == AnnounceOptions::Mode::Room) {
        if (!options.cataloguePath.empty() || !options.servedFolders.empty() || !options.publishedPath.empty()) {
            error = "--room only prints the room view: it takes --on-air and --rooms alone";
            return false;
        }
        return true;
    }
    if (!options.onAirFolder.empty()
        && (options.mode != AnnounceOptions::Mode::Announce
            || (options.cataloguePath.empty() && options.publishedPath.empty()))) {
        error = "--on-air tells what is announced: it needs a catalogue";
        return false;
    }
    // A browser forgets a state after valid-for: the next round must come
    // before that, even when one is lost.
    const double shortestValidFor = 2 * options.intervalSeconds;
    if (options.validForSeconds != 0 && options.validForSeconds < shortestValidFor) {
        error = "--valid-for must be at least twice the interval";
        return false;
    }
    if (options.mode == AnnounceOptions::Mode::Listen) {
        if (!options.cataloguePath.empty() || !options.servedFolders.empty() || options.once
            || !options.keyPath.empty() || !options.publishedPath.empty() || !options.roomsPath.empty()) {
            error = "--listen only listens: it takes no catalogue, --serve, --once, --key, --published or --rooms";
            return false;
        }
    } else if (!options.group.empty()) {
        error = "--group is for --listen; an announcer sends to a group with --to";
        return false;
    } else if (options.mode == AnnounceOptions::Mode::Announce && options.cataloguePath.empty()
        && options.publishedPath.empty()) {
        if (options.servedFolders.empty() || options.once) {
            error = "which catalogue file should be announced?";
            return false;
        }
    }
    return true;
}

} // namespace

bool ParseAnnounceOptions(int argc, char** argv, AnnounceOptions& options, std::string& error)
{
    const auto apply = [&options](std::string_view option, const std::string& value, std::string& problem) {
        return ApplyOption(option, value, options, problem);
    };
    if (!ReadLongOptions(argc, argv, kOptions, apply, error) || !CheckCombination(options, error))
        return false;
    if (options.validForSeconds == 0) {
        const double twice = std::ceil(2 * options.intervalSeconds);
        options.validForSeconds = static_cast<int>(std::clamp<double>(twice, kDefaultValidFor, kLongestValidFor));
    }
    return true;
}

} // namespace kestrel
