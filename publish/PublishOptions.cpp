#include "publish/PublishOptions.h"

#include "publish/TeacherAccounts.h"
#include "tools/LongOptions.h"
#include "tools/WholeNumber.h"

#include <arpa/inet.h>
#include <string_view>
#include <unistd.h>

namespace kestrel {

const char* const kPublishUsage = R"(Usage: kestrel-publish [options]
       kestrel-publish --add-user NAME [--rooms r302,r303 | --admin] [--users FILE]
       kestrel-publish --remove-user NAME [--users FILE]

Serves the teachers' publishing page: they sign in, edit the home page and
the links of the toolbar, and publish them; the announcer then announces the
published catalogue instead of its own. The signing key stays with the
announcer: this program never reads it.

Options:
  --address ADDR       local IPv4 address to listen on (default 127.0.0.1,
                       this machine only); any other address serves HTTPS only
  --port N             port of the page (default 8443)
  --host-name NAME     the name or address browsers use to reach the page
                       (default: the --address); other Host headers are refused
  --state DIR          folder shared with the announcer (default /var/lib/kestrel)
  --classroom-state FILE  where the mode buttons and the extra hosts go, for
                       the announcer's --published-state (default
                       DIR/classroom-state.ini)
  --key-folder DIR     the page's own folder for the HTTPS certificate and key
                       it makes, which the announcer must never serve
                       (default /var/lib/kestrel-publish)
  --on-air DIR         the announcer's --on-air folder, to show what it
                       announces and the room's reports (default: none; then
                       the published file, else the --catalogue)
  --users FILE         the teachers' accounts (default /etc/kestrel/publish-users)
  --rooms FILE         the rooms (rooms.ini, as the announcer's): each room
                       has its own catalogue, mode, sets and history in
                       DIR/rooms/ID, and teachers see only their rooms;
                       without the file, one room as before
  --catalogue FILE     the catalogue on the air before the first publish, which
                       the page starts from (default /etc/kestrel/catalogue.ini)
  --picture-url URL    where pupils fetch the uploaded pictures: the announcer's
                       --serve-at /pictures/=DIR/pictures
                       (default http://HOSTNAME:8080/pictures/)
  --cert FILE          HTTPS certificate (PEM); without it one is made in
                       the --key-folder on first start, its fingerprint printed
  --cert-key FILE      the certificate's private key (PEM)
  --idle-minutes N     sign a teacher out after N idle minutes (default 30)
  --school-name NAME   the school's name, shown in the page's header
  --add-user NAME      add a teacher (or set a new password), reading the
                       password from standard input
    --rooms IDS        with --add-user: the rooms the teacher may control,
                       like r302,r303; for a teacher already there, only
                       their rooms change, the password stays
    --admin            with --add-user: every room, and the wall of all
                       rooms' views
  --remove-user NAME   remove a teacher
  --help               print this text
  --version            print the version
)";

namespace {

const std::vector<LongOption> kOptions = {
    {"--address", true}, {"--port", true}, {"--host-name", true}, {"--state", true}, {"--classroom-state", true},
    {"--key-folder", true}, {"--on-air", true}, {"--users", true}, {"--catalogue", true}, {"--picture-url", true}, {"--cert", true},
    {"--cert-key", true}, {"--idle-minutes", true}, {"--school-name", true}, {"--add-user", true}, {"--remove-user", true},
    {"--rooms", true}, {"--admin", false}, {"--help", false}, {"--version", false},
};

bool ApplyOption(std::string_view option, const std::string& value, PublishOptions& options, std::string& error)
{
    long number = 0;
    if (option.empty()) {
        error = "\"" + value + "\" is not an option; every setting is one, like --catalogue FILE";
        return false;
    } else if (option == "--help") {
        options.mode = PublishOptions::Mode::Help;
    } else if (option == "--version") {
        options.mode = PublishOptions::Mode::Version;
    } else if (option == "--admin") {
        options.teacherRooms = "*";
    } else if (option == "--address") {
        in_addr address;
        if (inet_pton(AF_INET, value.c_str(), &address) != 1) {
            error = "--address needs an IPv4 address like 192.168.1.10, not \"" + value + "\"";
            return false;
        }
        options.address = value;
    } else if (option == "--port" || option == "--idle-minutes") {
        const bool port = option == "--port";
        if (!ReadWholeNumber(value, 1, port ? 65535 : 1440, number)) {
            error = std::string(option) + (port ? " needs a port from 1 to 65535" : " needs minutes from 1 to 1440")
                + ", not \"" + value + "\"";
            return false;
        }
        (port ? options.port : options.idleMinutes) = static_cast<int>(number);
    } else if (option == "--picture-url") {
        if (value.rfind("http://", 0) != 0 && value.rfind("https://", 0) != 0) {
            error = "--picture-url needs an http:// or https:// address, not \"" + value + "\"";
            return false;
        }
        options.pictureUrl = value.back() == '/' ? value : value + "/";
    } else if (option == "--add-user" || option == "--remove-user") {
        options.mode = option == "--add-user" ? PublishOptions::Mode::AddUser : PublishOptions::Mode::RemoveUser;
        options.userName = value;
    } else if (value.empty()) {
        error = std::string(option) + " needs a value";
        return false;
    } else if (option == "--host-name") {
        options.hostName = value;
    } else if (option == "--state") {
        options.stateFolder = value;
    } else if (option == "--classroom-state") {
        options.classroomStatePath = value;
    } else if (option == "--key-folder") {
        options.keyFolder = value;
    } else if (option == "--on-air") {
        options.onAirFolder = value;
    } else if (option == "--rooms") {
        options.roomsPath = value;
    } else if (option == "--users") {
        options.usersPath = value;
    } else if (option == "--catalogue") {
        options.cataloguePath = value;
    } else if (option == "--school-name") {
        if (value.size() > 100 || value.find_first_of("\r\n") != std::string::npos) {
            error = "--school-name needs a name of one line and at most 100 bytes";
            return false;
        }
        options.schoolName = value;
    } else if (option == "--cert") {
        options.certificatePath = value;
    } else {
        options.certificateKeyPath = value;
    }
    return true;
}

} // namespace

std::string DefaultPictureUrl()
{
    char host[256] = {};
    ::gethostname(host, sizeof host - 1);
    return "http://" + std::string(host) + ":8080/pictures/";
}

bool IsLoopbackAddress(const std::string& address)
{
    in_addr parsed;
    return inet_pton(AF_INET, address.c_str(), &parsed) == 1 && (ntohl(parsed.s_addr) >> 24) == 127;
}

bool ParsePublishOptions(int argc, char** argv, PublishOptions& options, std::string& error)
{
    const auto apply = [&options](std::string_view option, const std::string& value, std::string& problem) {
        return ApplyOption(option, value, options, problem);
    };
    if (!ReadLongOptions(argc, argv, kOptions, apply, error))
        return false;
    if ((options.certificatePath.empty()) != (options.certificateKeyPath.empty())) {
        error = "--cert and --cert-key go together";
        return false;
    }
    // --rooms names the teacher's rooms with --add-user, else the rooms file.
    const bool adding = options.mode == PublishOptions::Mode::AddUser;
    if (options.teacherRooms == "*" && (!adding || !options.roomsPath.empty())) {
        error = adding ? "--admin and --rooms do not go together: an admin has every room" : "--admin goes with --add-user";
        return false;
    }
    if (adding && !options.roomsPath.empty()) {
        TeacherRooms rooms;
        if (!TeacherRooms::Read(options.roomsPath, rooms)) {
            error = "--rooms with --add-user needs room ids like r302,r303, not \"" + options.roomsPath + "\"";
            return false;
        }
        options.teacherRooms = options.roomsPath;
        options.roomsPath.clear();
    }
    if (options.hostName.empty())
        options.hostName = options.address;
    return true;
}

} // namespace kestrel
