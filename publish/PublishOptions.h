#pragma once

#include <string>

namespace kestrel {

// What one run of the publishing page is asked to do.
struct PublishOptions {
    enum class Mode { Serve, AddUser, RemoveUser, Help, Version };

    Mode mode = Mode::Serve;
    // The account that --add-user or --remove-user concerns.
    std::string userName;
    // Only this machine reaches the page unless IT staff open it.
    std::string address = "127.0.0.1";
    int port = 8443;
    // The name (or address) browsers use to reach the page; every request
    // must carry it as its Host, so a foreign name that resolves here
    // (DNS rebinding) is refused. Empty: the listening address.
    std::string hostName;
    // Shared with the announcer: the published catalogue and its pictures.
    std::string stateFolder = "/var/lib/kestrel";
    // The classroom state the announcer's --published-state reads; empty:
    // classroom-state.ini in the state folder.
    std::string classroomStatePath;
    // The page's alone, for the certificate and key it makes: the state
    // folder's files are all the announcer's to read and perhaps serve.
    std::string keyFolder = "/var/lib/kestrel-publish";
    // Where the announcer says what it announces; empty: no announcer tells.
    std::string onAirFolder;
    std::string usersPath = "/etc/kestrel/publish-users";
    // IT staff's rooms.ini; without the file, one room as before rooms.
    std::string roomsPath;
    // With --add-user: the rooms the teacher may control, "*" for --admin;
    // empty: as they were (none given for a new teacher: every room).
    std::string teacherRooms;
    // IT staff's catalogue, on the air until the first publish: the page
    // starts from it, so a first publish does not lose its links.
    std::string cataloguePath = "/etc/kestrel/catalogue.ini";
    // Where pupils' browsers fetch the uploaded pictures: the announcer's
    // --serve-at /pictures/ of the pictures folder. Empty: DefaultPictureUrl().
    std::string pictureUrl;
    // The certificate and its private key for HTTPS, as IT staff gave them;
    // when the page is open to the network and these are not given, a
    // certificate is made in the key folder on first start.
    std::string certificatePath;
    std::string certificateKeyPath;
    int idleMinutes = 30;
    // Shown in the page's header, so teachers know whose page it is.
    std::string schoolName;
};

extern const char* const kPublishUsage;

// Reads the command line. False with `error` set when it makes no sense.
bool ParsePublishOptions(int argc, char** argv, PublishOptions& options, std::string& error);

// http://HOSTNAME:8080/pictures/, with this machine's name.
std::string DefaultPictureUrl();

// Loopback addresses keep the page on this machine, where plain HTTP is safe.
bool IsLoopbackAddress(const std::string& address);

} // namespace kestrel
