// kestrel-announce: the broadcast side of Kestrel. Announces a catalogue of
// links to the browsers, serves their pages and pictures, or listens to
// what is being announced.

#include "base/ConsoleLine.h"
#include "base/WholeFile.h"
#include "channel/TrustedKeys.h"
#include "tools/AnnounceCounter.h"
#include "tools/AnnounceOptions.h"
#include "tools/AnnouncedFiles.h"
#include "tools/AnnouncedState.h"
#include "tools/AnnouncementListener.h"
#include "tools/FolderWatch.h"
#include "tools/RecordBroadcaster.h"
#include "tools/ReportListener.h"
#include "tools/RoomText.h"
#include "tools/SecretKeyFile.h"
#include "tools/StaticFileServer.h"
#include "tools/StopSignals.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <unistd.h>

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

bool SameRecords(const AnnouncedRecords& a, const AnnouncedRecords& b)
{
    return a.count == b.count && std::memcmp(a.records, b.records, sizeof(LinkRecord) * a.count) == 0;
}

// Waits for the next round, or less: until a published file or the
// timetable changes what is sent, or the pause ends. The round is timed on
// the steady clock; the wall clock is looked at every second, so that a
// step of it is noticed. False when stopped.
bool WaitForRound(const AnnounceOptions& options, CAnnouncedFiles& files, CAnnouncedState& state,
                  CFolderWatch& watch, CStopSignals& stop, const AnnouncedRecords* lastSent)
{
    using Steady = std::chrono::steady_clock;
    const Steady::time_point roundEnd
        = Steady::now() + std::chrono::milliseconds(static_cast<std::int64_t>(options.intervalSeconds * 1000));
    for (;;) {
        const std::int64_t now = WallClockMilliseconds();
        const std::int64_t pauseEnds = state.UntilPauseEnds(now);
        const std::int64_t roundLeft
            = std::chrono::duration_cast<std::chrono::milliseconds>(roundEnd - Steady::now()).count();
        const std::int64_t left = std::min({roundLeft, pauseEnds >= 0 ? pauseEnds : roundLeft,
            files.UntilTimetableChanges(now)});
        if (watch.Wait(stop, static_cast<int>(std::max<std::int64_t>(left, 0))) == CFolderWatch::Wake::Stopped)
            return false;
        if (Steady::now() >= roundEnd)
            return true;
        const std::int64_t polled = WallClockMilliseconds();
        const AnnouncedRecords* catalogue = files.Poll(polled);
        const bool stateChanged = state.Poll(polled, files.Lesson());
        if (stateChanged || (catalogue == nullptr) != (lastSent == nullptr)
            || (catalogue && !SameRecords(*catalogue, *lastSent)))
            return true;
    }
}

// The room view, when there is a folder to show it in and its port is
// free; null otherwise, and the states name no report port. Several
// announcers on one machine (a test, a second room) leave it to the first.
std::unique_ptr<CReportListener> StartRoomView(const AnnounceOptions& options)
{
    if (options.reportPort == 0 || options.onAirFolder.empty() || options.once)
        return nullptr;
    auto room = std::make_unique<CReportListener>(options, KESTREL_VERSION);
    std::string error;
    if (!room->Open(error)) {
        PrintLine(error);
        return nullptr;
    }
    PrintLine(room->Describe());
    room->Start();
    return room;
}

// Announces the state and the catalogue at every interval, following the
// files' edits, until stopped (or once). Nothing goes out before the file
// is valid.
int Announce(const AnnounceOptions& options, CStopSignals& stop)
{
    CRecordBroadcaster broadcaster;
    std::string error;
    if (!broadcaster.Open(options.from, options.toAddress, options.port, options.ttl, error)) {
        PrintLine(error);
        return kExitFailure;
    }
    SigningKey key;
    CAnnounceCounter counter;
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
        broadcaster.SignWith(key, counter);
        PrintLine("signing with key " + KeyIdText(key.id) + "; counter kept in " + statePath);
    }
    CAnnouncedFiles files(options);
    CAnnouncedState state(options, WallClockMilliseconds());
    const std::unique_ptr<CReportListener> room = StartRoomView(options);
    state.ReportTo(room ? static_cast<std::uint16_t>(options.reportPort) : 0);
    CFolderWatch watch({options.publishedPath, options.publishedStatePath});
    std::string lastSendError;
    bool sent = false;
    AnnouncedRecords lastSent;
    for (;;) {
        const std::int64_t now = WallClockMilliseconds();
        const AnnouncedRecords* catalogue = files.Poll(now);
        state.Poll(now, files.Lesson());
        if (!catalogue && options.once)
            return kExitFailure;
        if (catalogue) {
            std::string sendError;
            const ClassroomState sending = state.Build(*catalogue, WallClockMilliseconds());
            if (room)
                room->SetOnAir(sending.digest);
            sent = broadcaster.Broadcast(sending, *catalogue, sendError);
            // A network that is down would repeat its error at every interval.
            if (sendError != lastSendError)
                PrintLine(sendError.empty() ? "sending again" : sendError);
            lastSendError = sendError;
            lastSent = *catalogue;
        }
        if (options.once)
            break;
        if (!WaitForRound(options, files, state, watch, stop, catalogue ? &lastSent : nullptr))
            break;
    }
    return sent || !options.once ? 0 : kExitFailure;
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

// Prints the room view the running announcer writes, for IT staff.
int ShowRoom(const AnnounceOptions& options)
{
    const std::string path
        = (options.onAirFolder.empty() ? kDefaultOnAirFolder : options.onAirFolder) + "/" + CReportListener::kSummaryName;
    std::string summary;
    std::string table;
    std::string error;
    // 4096 machines whose every text is escaped to six times its length.
    constexpr std::size_t kLargestSummary = 8 << 20;
    const WholeFileRead read = ReadWholeFile(path, kLargestSummary, summary);
    if (read.state != WholeFileRead::State::Loaded) {
        PrintLine("no room view in " + path + ": "
            + (read.state == WholeFileRead::State::Missing ? "is the announcer running, with --on-air?"
                    : read.error != 0                      ? std::strerror(read.error)
                                                           : "not a file of a summary's size"));
        return kExitFailure;
    }
    if (!RoomTableText(summary, WallClockMilliseconds() / 1000, table, error)) {
        PrintLine(path + ": " + error);
        return kExitFailure;
    }
    std::fputs(table.c_str(), stdout);
    return 0;
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
