// kestrel-announce: the broadcast side of Kestrel. Announces a catalogue of
// links to the browsers, serves their pages and pictures, or listens to
// what is being announced.

#include "base/ConsoleLine.h"
#include "base/SteadyClock.h"
#include "base/WholeFile.h"
#include "channel/TrustedKeys.h"
#include "tools/AnnounceCounter.h"
#include "tools/AnnounceOptions.h"
#include "tools/AnnouncedRoom.h"
#include "tools/AnnouncementListener.h"
#include "tools/FolderWatch.h"
#include "tools/OneLine.h"
#include "tools/ReportListener.h"
#include "tools/RoomFolders.h"
#include "tools/RoomSummary.h"
#include "tools/RoomText.h"
#include "tools/RoomsFile.h"
#include "tools/SecretKeyFile.h"
#include "tools/StaticFileServer.h"
#include "tools/StopSignals.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace kestrel {
namespace {

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

std::int64_t WallClockMilliseconds()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// The rooms to announce, each with its own options: those of the rooms
// file, or one room on the options themselves while there is none. The
// file's mistakes go to the journal; the good rooms are kept.
std::vector<AnnounceOptions> RoomsToAnnounce(const AnnounceOptions& options, std::vector<std::string>& ids)
{
    const RoomsRead read = options.roomsPath.empty() ? RoomsRead() : ReadRoomsFile(options.roomsPath, options.reportPort);
    for (const std::string& problem : read.problems)
        PrintLine(problem);
    if (!read.found)
        return {options};
    if (read.rooms.empty())
        PrintLine(options.roomsPath + ": no room to announce; fix the file and restart the announcer");
    std::vector<AnnounceOptions> rooms;
    for (const RoomSettings& room : read.rooms) {
        rooms.push_back(RoomOptions(options, room));
        ids.push_back(room.id);
    }
    return rooms;
}

// Before anything is read: the first room takes over what one room
// published before rooms, and every room's folders are there to be watched.
void MakeRoomFolders(const AnnounceOptions& options, const std::vector<std::string>& ids)
{
    const std::string published = PublishedFolder(options);
    std::string error;
    if (ids.empty() || published.empty())
        return;
    if (!MoveIntoFirstRoom(published, ids.front(), error))
        PrintLine(error);
    for (const std::string& folder : {published, options.onAirFolder}) {
        if (folder.empty())
            continue;
        ::mkdir(folder.c_str(), 0755);
        ::mkdir((folder + "/rooms").c_str(), 0755);
        for (const std::string& id : ids)
            ::mkdir(RoomFolder(folder, id).c_str(), 0755);
    }
}

// The room view of every room, when there is a folder to show it in and
// the report port is free; null otherwise, and the states name no report
// port. Several announcers on one machine (a test) leave it to the first.
std::unique_ptr<CReportListener> StartRoomView(const AnnounceOptions& options,
    const std::vector<std::unique_ptr<CAnnouncedRoom>>& rooms)
{
    if (options.reportPort == 0 || options.onAirFolder.empty() || options.once || rooms.empty())
        return nullptr;
    std::vector<ReportedRoom> reported;
    for (const std::unique_ptr<CAnnouncedRoom>& room : rooms)
        reported.push_back({static_cast<std::uint16_t>(room->Options().port), room->Options().onAirFolder});
    auto listener = std::make_unique<CReportListener>(options, reported, KESTREL_VERSION);
    std::string error;
    if (!listener->Open(error)) {
        PrintLine(error);
        return nullptr;
    }
    PrintLine(listener->Describe());
    listener->Start();
    return listener;
}

// Waits until the next round (on the steady clock, so that a step of the
// wall clock never stalls the rounds), the end of a room's pause, a slot's
// start or end, or a change of a published file, whichever comes first; at
// least once a second, so that a step of the wall clock is noticed. False
// when stopped.
bool WaitForChange(const std::vector<std::unique_ptr<CAnnouncedRoom>>& rooms, CFolderWatch& watch,
    CStopSignals& stop, std::int64_t roundDueMs)
{
    const std::int64_t now = WallClockMilliseconds();
    std::int64_t left = roundDueMs - SteadyMilliseconds();
    for (const std::unique_ptr<CAnnouncedRoom>& room : rooms)
        left = std::min(left, room->UntilStateChanges(now));
    return watch.Wait(stop, static_cast<int>(std::max<std::int64_t>(left, 0))) != CFolderWatch::Wake::Stopped;
}

// Announces every room's state and catalogue on its own channel at every
// interval, and a room's at once when its files change what it sends,
// until stopped (or once). Nothing goes out of a room before its file is
// valid. One key and one counter sign every room: frames are bound to
// their port.
int Announce(const AnnounceOptions& options, CStopSignals& stop)
{
    std::vector<std::string> ids;
    const std::vector<AnnounceOptions> roomOptions = RoomsToAnnounce(options, ids);
    MakeRoomFolders(options, ids);
    SigningKey key;
    CAnnounceCounter counter;
    std::string error;
    if (!options.keyPath.empty()) {
        const std::string statePath = options.statePath.empty() ? DefaultAnnounceCounterPath() : options.statePath;
        if (statePath.empty()) {
            PrintLine("where should the signing counter be kept? Give --state FILE");
            return kExitFailure;
        }
        if (!ReadSecretKeyFile(options.keyPath, key, error) || !counter.Open(statePath, error)) {
            PrintLine(error);
            return kExitFailure;
        }
        PrintLine("signing with key " + KeyIdText(key.id) + "; counter kept in " + statePath);
    }
    std::vector<std::string> watched;
    for (const AnnounceOptions& own : roomOptions)
        watched.insert(watched.end(), {own.publishedPath, own.publishedStatePath});
    CFolderWatch watch(watched);
    std::vector<std::unique_ptr<CAnnouncedRoom>> rooms;
    for (std::size_t i = 0; i < roomOptions.size(); ++i) {
        const AnnounceOptions& own = roomOptions[i];
        const std::string name = ids.empty() ? std::string() : "room " + ids[i];
        if (!name.empty())
            PrintLine(name + ": port " + std::to_string(own.port) + " to " + own.toAddress);
        auto room = std::make_unique<CAnnouncedRoom>(own, WallClockMilliseconds());
        if (!room->Open(error)) {
            // Without a rooms file this was the one room; with one, the
            // others still go out.
            PrintLine(name.empty() ? error : name + " left out: " + error);
            if (name.empty())
                return kExitFailure;
            continue;
        }
        if (!options.keyPath.empty())
            room->SignWith(key, counter);
        // Read now, so that what the journal says of its files follows its name.
        room->Poll(WallClockMilliseconds());
        rooms.push_back(std::move(room));
    }
    const std::unique_ptr<CReportListener> listener = StartRoomView(options, rooms);
    for (const std::unique_ptr<CAnnouncedRoom>& room : rooms)
        room->ReportTo(listener ? static_cast<std::uint16_t>(options.reportPort) : 0);
    const std::int64_t intervalMs = static_cast<std::int64_t>(options.intervalSeconds * 1000);
    std::int64_t roundDueMs = 0;
    bool allSent = !rooms.empty();
    for (;;) {
        const std::int64_t now = WallClockMilliseconds();
        const std::int64_t steadyNow = SteadyMilliseconds();
        const bool round = steadyNow >= roundDueMs;
        for (std::size_t i = 0; i < rooms.size(); ++i) {
            if (!rooms[i]->Poll(now) && !round)
                continue;
            allSent = rooms[i]->Send(now) && allSent;
            if (listener && rooms[i]->OnAir())
                listener->SetOnAir(i, *rooms[i]->OnAir());
        }
        roundDueMs = round ? steadyNow + intervalMs : roundDueMs;
        if (options.once)
            break;
        if (!WaitForChange(rooms, watch, stop, roundDueMs))
            break;
    }
    return allSent || !options.once ? 0 : kExitFailure;
}

int Listen(const AnnounceOptions& options, CStopSignals& stop)
{
    CAnnouncementListener listener;
    if (!options.trustPath.empty()) {
        const TrustedKeysRead read = ReadTrustedKeys(options.trustPath);
        for (const std::string& problem : read.lineProblems)
            PrintLine(problem);
        if (!read.refusal.empty()) {
            PrintLine(read.refusal);
            return kExitFailure;
        }
        listener.Trust(read.keys);
    }
    std::string error;
    if (!listener.Open(options.from, options.port, options.group, error)) {
        PrintLine(error);
        return kExitFailure;
    }
    listener.Run(stop);
    return 0;
}

// Prints one room's view from its summary file; false when there is none.
bool PrintRoomView(const std::string& folder)
{
    const std::string path = folder + "/" + CReportListener::kSummaryName;
    std::string summary;
    std::string table;
    std::string error;
    const WholeFileRead read = ReadWholeFile(path, kLargestRoomSummary, summary);
    if (read.state != WholeFileRead::State::Loaded) {
        PrintLine("no room view in " + path + ": "
            + (read.state == WholeFileRead::State::Missing ? "is the announcer running, with --on-air?"
                    : read.error != 0                      ? std::strerror(read.error)
                                                           : "not a file of a summary's size"));
        return false;
    }
    if (!RoomTableText(summary, WallClockMilliseconds() / 1000, table, error)) {
        PrintLine(path + ": " + error);
        return false;
    }
    std::fputs(table.c_str(), stdout);
    return true;
}

// Prints the room view the running announcer writes, for IT staff: every
// room's, each under its id and name, when there is a rooms file.
int ShowRoom(const AnnounceOptions& options)
{
    const std::string onAir = options.onAirFolder.empty() ? kDefaultOnAirFolder : options.onAirFolder;
    const RoomsRead read = options.roomsPath.empty() ? RoomsRead() : ReadRoomsFile(options.roomsPath, options.reportPort);
    if (!read.found) {
        if (PrintRoomView(onAir))
            return 0;
        PrintLine("an announcer with rooms shows them with --rooms /etc/kestrel/rooms.ini");
        return kExitFailure;
    }
    for (const std::string& problem : read.problems)
        PrintLine(problem);
    bool all = !read.rooms.empty();
    for (const RoomSettings& room : read.rooms) {
        std::fputs(("\n== " + room.id + " " + OneLine(room.name) + "\n").c_str(), stdout);
        all = PrintRoomView(RoomOnAirFolder(onAir, room.id)) && all;
    }
    return all ? 0 : kExitFailure;
}

// Writes a new secret key and prints the line that trusts it, for the
// pupil machines' trusted-keys file: alone on standard output, so that a
// redirect holds the key line and nothing else.
int GenerateKey(const std::string& path)
{
    SigningKey key;
    std::string error;
    if (!CreateSecretKeyFile(path, key, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return kExitFailure;
    }
    char host[256] = {};
    ::gethostname(host, sizeof host - 1);
    std::fprintf(stderr, "secret key %s written to %s; put the line on standard output into the browsers' "
        "trusted-keys file\n", KeyIdText(key.id).c_str(), path.c_str());
    PrintLine(TrustedKeyLine(key.publicKey, "kestrel-announce@" + std::string(host)));
    return 0;
}

int Run(int argc, char** argv)
{
    AnnounceOptions options;
    std::string error;
    if (!ParseAnnounceOptions(argc, argv, options, error)) {
        PrintLine("kestrel-announce: " + error);
        PrintLine("Try \"kestrel-announce --help\".");
        return kExitUsage;
    }
    if (options.mode == AnnounceOptions::Mode::Help) {
        std::fputs(kAnnounceUsage, stdout);
        return 0;
    }
    if (options.mode == AnnounceOptions::Mode::Version) {
        PrintLine("kestrel-announce " KESTREL_VERSION);
        return 0;
    }

    if (options.mode == AnnounceOptions::Mode::GenerateKey)
        return GenerateKey(options.newKeyPath);
    if (options.mode == AnnounceOptions::Mode::Room)
        return ShowRoom(options);

    // Before any thread exists, so that the stop signals reach only this one.
    CStopSignals stop;
    if (options.mode == AnnounceOptions::Mode::Listen)
        return Listen(options, stop);

    // A folder that is missing is no reason to stop announcing: the server
    // names it and answers 404 until it appears.
    CStaticFileServer server(options.servedFolders);
    if (!options.servedFolders.empty()) {
        if (!server.Start(options.httpAddress, options.httpPort, error)) {
            PrintLine(error);
            return kExitFailure;
        }
        for (const FolderToServe& folder : options.servedFolders)
            PrintLine("serving " + folder.directory + " on http://" + options.httpAddress + ":"
                + std::to_string(options.httpPort) + folder.urlPrefix);
    }
    if (options.cataloguePath.empty() && options.publishedPath.empty()) {
        while (!stop.WaitForStop(3600)) {
        }
        return 0;
    }
    return Announce(options, stop);
}

} // namespace
} // namespace kestrel

int main(int argc, char** argv)
{
    return kestrel::Run(argc, argv);
}
