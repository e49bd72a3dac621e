// kestrel-announce: the broadcast side of Kestrel. Announces a catalogue of
// links to the browsers, serves their pages and pictures, or listens to
// what is being announced.

#include "base/ConsoleLine.h"
#include "channel/TrustedKeys.h"
#include "tools/AnnounceCounter.h"
#include "tools/AnnounceOptions.h"
#include "tools/AnnouncementListener.h"
#include "tools/CatalogueWatcher.h"
#include "tools/OnAirFolder.h"
#include "tools/RecordBroadcaster.h"
#include "tools/SecretKeyFile.h"
#include "tools/StaticFileServer.h"
#include "tools/StopSignals.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>

namespace kestrel {
namespace {

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

// "4 links and the home page"
std::string Holding(const AnnouncedRecords& records)
{
    int links = 0;
    bool home = false;
    for (int i = 0; i < records.count; ++i) {
        if (IsHomeRecord(records.records[i]))
            home = true;
        else
            ++links;
    }
    return std::to_string(links) + (links == 1 ? " link" : " links") + (home ? " and the home page" : "");
}

// The file IT staff keep and the one the teachers publish, which stands in
// for it while it exists and holds a valid catalogue. The journal says at
// every change which of them is on the air and what it holds; the on-air
// folder, when there is one, says the same to the publishing page.
class CAnnouncedFiles {
public:
    explicit CAnnouncedFiles(const AnnounceOptions& options)
        : m_own(options.cataloguePath)
        , m_published(options.publishedPath, CCatalogueWatcher::WhenMissing::ForgetIt)
        , m_onAirFolder(options.onAirFolder)
    {
    }

    // Reads what changed and reports it; the catalogue to send, or null
    // while none is valid.
    const AnnouncedRecords* Poll()
    {
        using Change = CCatalogueWatcher::Change;
        const Change own = Read(m_own, false);
        const Change published = Read(m_published, true);
        const bool publishedStandsIn = m_published.FileExists() && m_published.HasCatalogue();
        const CCatalogueWatcher& source = publishedStandsIn ? m_published : m_own;
        if (publishedStandsIn && own == Change::Loaded) {
            PrintLine(m_own.Path() + ": " + Holding(m_own.Catalogue()) + ", valid; not on the air while "
                + m_published.Path() + " is");
        }
        // Written before it is told, so that what the journal says is there to read.
        OnAir onAir;
        if (source.HasCatalogue()) {
            onAir.source = source.Path();
            onAir.text = source.Text();
        }
        if (m_published.FileExists())
            onAir.refused = m_published.Problem();
        WriteOnAir(onAir);
        const std::string line = OnAirLine(source);
        if (line != m_reportedLine || source.Text() != m_reportedText)
            PrintLine(line);
        else if (source.HasCatalogue() && (publishedStandsIn ? published : own) == Change::Refused)
            PrintLine("still announcing the last valid catalogue");
        m_reportedLine = line;
        m_reportedText = source.Text();
        return source.HasCatalogue() ? &source.Catalogue() : nullptr;
    }

private:
    // A refusal is reported, but a published file that is missing is no
    // fault: nothing has been published yet, or IT staff took it away to go
    // back to their own file.
    static CCatalogueWatcher::Change Read(CCatalogueWatcher& watcher, bool missingIsQuiet)
    {
        if (watcher.Path().empty())
            return CCatalogueWatcher::Change::None;
        const CCatalogueWatcher::Change change = watcher.Poll();
        if (change == CCatalogueWatcher::Change::Refused && !(missingIsQuiet && !watcher.FileExists()))
            PrintLine(watcher.Problem());
        return change;
    }

    std::string OnAirLine(const CCatalogueWatcher& source) const
    {
        if (!source.HasCatalogue())
            return "nothing is announced until the catalogue is valid";
        std::string line = "on the air: " + source.Path();
        if (&source == &m_published)
            line += " (the published catalogue)";
        else if (!m_published.Path().empty())
            line += m_published.FileExists() ? " (the published file was refused)" : " (nothing is published)";
        return line + ": announcing " + Holding(source.Catalogue());
    }

    void WriteOnAir(const OnAir& onAir)
    {
        if (m_onAirFolder.Folder().empty())
            return;
        const int error = m_onAirFolder.Show(onAir);
        // A folder that cannot be written would repeat its error at every interval.
        if (error != 0 && error != m_onAirError)
            PrintLine("cannot write what is on the air into " + m_onAirFolder.Folder() + ": " + std::strerror(error));
        m_onAirError = error;
    }

    CCatalogueWatcher m_own;
    CCatalogueWatcher m_published;
    COnAirFolder m_onAirFolder;
    std::string m_reportedLine;
    std::string m_reportedText;
    int m_onAirError = 0;
};

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
    std::string lastSendError;
    bool sent = false;
    do {
        const AnnouncedRecords* catalogue = files.Poll();
        if (!catalogue) {
            if (options.once)
                return kExitFailure;
            continue;
        }
        std::string sendError;
        sent = broadcaster.Broadcast(*catalogue, sendError);
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
