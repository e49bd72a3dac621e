// kestrel-announce: the broadcast side of Kestrel. Announces a catalogue of
// links to the browsers, serves their pages and pictures, or listens to
// what is being announced.

#include "tools/AnnounceOptions.h"
#include "tools/AnnouncementListener.h"
#include "tools/CatalogueWatcher.h"
#include "base/ConsoleLine.h"
#include "tools/RecordBroadcaster.h"
#include "tools/StaticFileServer.h"
#include "tools/StopSignals.h"

#include <cstdio>
#include <string>

namespace kestrel {
namespace {

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

void ReportLoaded(const std::string& path, const AnnouncedRecords& records)
{
    int links = 0;
    bool home = false;
    for (int i = 0; i < records.count; ++i) {
        if (IsHomeRecord(records.records[i]))
            home = true;
        else
            ++links;
    }
    PrintLine(path + ": announcing " + std::to_string(links) + (links == 1 ? " link" : " links")
        + (home ? " and the home page" : ""));
}

// Announces the catalogue at every interval, following the file's edits,
// until stopped (or once). Nothing goes out before the file is valid.
int Announce(const AnnounceOptions& options, CStopSignals& stop)
{
    CRecordBroadcaster broadcaster;
    std::string error;
    if (!broadcaster.Open(options.from, options.toAddress, options.port, options.ttl, error)) {
        PrintLine(error);
        return kExitFailure;
    }
    CCatalogueWatcher watcher(options.cataloguePath);
    std::string lastSendError;
    bool sent = false;
    do {
        switch (watcher.Poll()) {
        case CCatalogueWatcher::Change::Loaded:
            ReportLoaded(options.cataloguePath, watcher.Catalogue());
            break;
        case CCatalogueWatcher::Change::Refused:
            PrintLine(watcher.Problem());
            PrintLine(watcher.HasCatalogue() ? "still announcing the last valid catalogue"
                                             : "nothing is announced until the catalogue is valid");
            break;
        case CCatalogueWatcher::Change::None:
            break;
        }
        if (!watcher.HasCatalogue()) {
            if (options.once)
                return kExitFailure;
            continue;
        }
        std::string sendError;
        sent = broadcaster.Broadcast(watcher.Catalogue(), sendError);
        // A network that is down would repeat its error at every interval.
        if (sendError != lastSendError)
            PrintLine(sendError.empty() ? "sending again" : sendError);
        lastSendError = sendError;
    } while (!options.once && !stop.WaitForStop(options.intervalSeconds));
    return sent || !options.once ? 0 : kExitFailure;
}

int Listen(const AnnounceOptions& options, CStopSignals& stop)
{
    CAnnouncementListener listener;
    std::string error;
    if (!listener.Open(options.from, options.port, options.group, error)) {
        PrintLine(error);
        return kExitFailure;
    }
    listener.Run(stop);
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

    // Before any thread exists, so that the stop signals reach only this one.
    CStopSignals stop;
    if (options.mode == AnnounceOptions::Mode::Listen)
        return Listen(options, stop);

    CStaticFileServer server;
    if (!options.serveDirectory.empty()) {
        if (!server.Start(options.serveDirectory, options.httpAddress, options.httpPort, error)) {
            PrintLine(error);
            return kExitFailure;
        }
        PrintLine("serving " + options.serveDirectory + " on http://" + options.httpAddress + ":"
            + std::to_string(options.httpPort) + "/");
    }
    if (options.cataloguePath.empty()) {
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
