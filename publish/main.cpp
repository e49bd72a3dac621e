// kestrel-publish: the teachers' publishing page. Teachers sign in, edit the
// toolbar's links and publish them into the folder the announcer announces
// from; IT staff manage the accounts on the command line.

#include "base/ConsoleLine.h"
#include "publish/PublishOptions.h"
#include "publish/PublishServer.h"
#include "publish/PublishRooms.h"
#include "publish/TeacherAccounts.h"
#include "publish/TlsCertificate.h"
#include "tools/RoomsFile.h"
#include "tools/StopSignals.h"

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace kestrel {
namespace {

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

// One line of standard input, unechoed on a terminal.
bool ReadPassword(const char* prompt, std::string& password)
{
    const bool terminal = ::isatty(STDIN_FILENO) == 1;
    termios saved{};
    if (terminal) {
        std::fputs(prompt, stdout);
        std::fflush(stdout);
        ::tcgetattr(STDIN_FILENO, &saved);
        termios quiet = saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
    const bool read = static_cast<bool>(std::getline(std::cin, password));
    if (terminal) {
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
        std::fputs("\n", stdout);
    }
    return read;
}

std::string RoomsWords(const CTeacherAccounts& accounts, const std::string& name)
{
    const TeacherRooms rooms = accounts.RoomsOf(name);
    return rooms.admin ? " as an admin, in every room" : rooms.every ? " in every room" : " in " + rooms.Text();
}

// The rooms file the page's service reads; with --add-user, --rooms is the teacher's rooms.
constexpr const char* kServiceRoomsPath = "/etc/kestrel/rooms.ini";

// A mistyped id gives the teacher no room and no error: IT staff hear of it
// here, while the account is still kept, as rooms.ini may come later.
void NameUnknownRooms(const CTeacherAccounts& accounts, const std::string& userName)
{
    const RoomsRead read = ReadRoomsFile(kServiceRoomsPath, 0);
    for (const std::string& id : accounts.RoomsOf(userName).ids) {
        const auto named = std::find_if(read.rooms.begin(), read.rooms.end(),
            [&](const RoomSettings& room) { return room.id == id; });
        if (named == read.rooms.end())
            PrintLine(std::string("note: ") + kServiceRoomsPath + " has no room " + id
                + " yet; the teacher sees it once it has");
    }
}

int AddUser(const PublishOptions& options)
{
    CTeacherAccounts accounts(options.usersPath);
    // A teacher already there with rooms given: only the rooms change.
    const bool roomsOnly = !options.teacherRooms.empty() && accounts.Exists(options.userName);
    std::string problem;
    if (!roomsOnly) {
        std::string password;
        std::string again;
        if (!ReadPassword("password: ", password)) {
            PrintLine("no password on standard input");
            return kExitFailure;
        }
        if (::isatty(STDIN_FILENO) == 1 && (!ReadPassword("again: ", again) || again != password)) {
            PrintLine("the two passwords differ; nothing changed");
            return kExitFailure;
        }
        problem = accounts.SetPassword(options.userName, password);
    }
    if (problem.empty() && !options.teacherRooms.empty())
        problem = accounts.SetRooms(options.userName, options.teacherRooms);
    if (!problem.empty()) {
        PrintLine(problem);
        return kExitFailure;
    }
    const std::string rooms = RoomsWords(accounts, options.userName);
    PrintLine("teacher " + options.userName
        + (roomsOnly ? rooms + " now" : " can sign in" + rooms + "; accounts in " + options.usersPath));
    NameUnknownRooms(accounts, options.userName);
    return 0;
}

int RemoveUser(const PublishOptions& options)
{
    const std::string problem = CTeacherAccounts(options.usersPath).Remove(options.userName);
    PrintLine(problem.empty() ? "teacher " + options.userName + " removed" : problem);
    return problem.empty() ? 0 : kExitFailure;
}

// Earlier versions kept the page's key in the state folder, which the
// announcer shares and may serve: it goes at the first start without it.
void RemoveKeyFromStateFolder(const PublishOptions& options)
{
    const std::string old = options.stateFolder + "/tls";
    if (options.keyFolder == old || options.certificateKeyPath.rfind(old + "/", 0) == 0)
        return;
    if (::unlink((old + "/publish.key").c_str()) == 0)
        PrintLine("removed the HTTPS key from " + old + "; it is kept in " + options.keyFolder + " now");
    ::unlink((old + "/publish.crt").c_str());
    ::rmdir(old.c_str());
}

int Serve(PublishOptions options)
{
    // Before any thread exists, so that the stop signals reach only this one.
    CStopSignals stop;
    if (options.pictureUrl.empty())
        options.pictureUrl = DefaultPictureUrl();
    CPublishRooms rooms;
    std::vector<std::string> journal;
    std::string problem = rooms.Open(options, journal);
    for (const std::string& line : journal)
        PrintLine(line);
    if (!problem.empty()) {
        PrintLine(problem);
        return kExitFailure;
    }
    RemoveKeyFromStateFolder(options);
    // Beyond this machine the password and the session cookie travel only
    // encrypted. The options keep only what IT staff gave.
    std::string certificate = options.certificatePath;
    std::string certificateKey = options.certificateKeyPath;
    if (!IsLoopbackAddress(options.address) && certificate.empty()) {
        problem = EnsureCertificate(options.keyFolder, options.hostName, options.address, certificate, certificateKey);
        if (!problem.empty()) {
            PrintLine(problem);
            return kExitFailure;
        }
    }
    const bool tls = !certificate.empty();
    if (tls)
        PrintLine("HTTPS certificate " + certificate + ", SHA-256 fingerprint " + CertificateFingerprint(certificate));
    CTeacherAccounts accounts(options.usersPath);
    CPublishServer server(options, rooms, accounts);
    if (!server.Start(certificate, certificateKey, problem)) {
        PrintLine(problem);
        return kExitFailure;
    }
    const CPublishStore& first = *rooms.All().front().store;
    PrintLine(std::string("publishing page on ") + (tls ? "https://" : "http://") + options.hostName + ":"
        + std::to_string(options.port) + "/; publishes to "
        + (rooms.Named() ? std::to_string(rooms.All().size()) + " rooms in " + options.stateFolder + "/rooms"
                         : first.CataloguePath() + " and " + first.StatePath())
        + (options.onAirFolder.empty() ? "" : "; what is on the air from " + options.onAirFolder));
    while (!stop.WaitForStop(3600)) {
    }
    server.Stop();
    return 0;
}

int Run(int argc, char** argv)
{
    PublishOptions options;
    std::string error;
    if (!ParsePublishOptions(argc, argv, options, error)) {
        PrintLine("kestrel-publish: " + error);
        PrintLine("Try \"kestrel-publish --help\".");
        return kExitUsage;
    }
    // The state folder's files are for the service's own user and group.
    ::umask(027);
    switch (options.mode) {
    case PublishOptions::Mode::Help:
        std::fputs(kPublishUsage, stdout);
        return 0;
    case PublishOptions::Mode::Version:
        PrintLine("kestrel-publish " KESTREL_VERSION);
        return 0;
    case PublishOptions::Mode::AddUser:
        return AddUser(options);
    case PublishOptions::Mode::RemoveUser:
        return RemoveUser(options);
    case PublishOptions::Mode::Serve:
        break;
    }
    return Serve(options);
}

} // namespace
} // namespace kestrel

int main(int argc, char** argv)
{
    return kestrel::Run(argc, argv);
}
