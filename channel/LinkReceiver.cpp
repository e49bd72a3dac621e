#include "channel/LinkReceiver.h"

#include "base/ConsoleLine.h"
#include "base/StateFolder.h"
#include "channel/ClassroomStateFrame.h"
#include "channel/HighestCounters.h"
#include "channel/LinkRecordFrame.h"
#include "channel/TrustedKeys.h"

#include <algorithm>
#include <chrono>
#include <cstring>

namespace kestrel {

namespace {

std::int64_t SteadyMilliseconds()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

CLinkReceiver::~CLinkReceiver()
{
    SaveCounters(false);
}

void CLinkReceiver::RequireSignatures(const std::string& trustedKeysPath, const std::string& stateFolder)
{
    m_signaturesRequired = !trustedKeysPath.empty();
    // The check budget and the summary of drops go by sender.
    KeepDatagramSources(m_signaturesRequired);
    if (!m_signaturesRequired) {
        PrintLine("Announcements are not signed: any computer on the network can change the links");
        return;
    }
    const TrustedKeysRead read = ReadTrustedKeys(trustedKeysPath);
    for (const std::string& problem : read.lineProblems)
        PrintLine(problem);
    m_verifier.Trust(read.keys);
    if (!read.refusal.empty()) {
        PrintLine(read.refusal);
        return;
    }
    PrintLine("Announcements must be signed by " + std::string(read.keys.size() == 1 ? "the key" : "one of the "
        + std::to_string(read.keys.size()) + " keys") + " in " + trustedKeysPath);
    if (stateFolder.empty())
        return;
    if (const int error = MakeFolders(stateFolder)) {
        PrintLine(stateFolder + ": " + std::strerror(error) + "; counters are not kept across restarts");
        return;
    }
    m_countersPath = stateFolder + "/announcement-counters";
    LoadHighestCounters(m_countersPath, m_verifier);
    for (int key = 0; key < m_verifier.KeyCount(); ++key)
        m_savedHighest[key] = m_verifier.HighestAt(key);
}

void CLinkReceiver::OnFrame(FrameView frame)
{
    if (frame.Type() == kClassroomStateFrameType) {
        OnStateFrame(frame);
        return;
    }
    // The record is turned back from its inverted wire form here, once:
    // everything after this reads it plain.
    LinkRecord record;
    if (!ReadLinkRecordFrame(frame, record))
        return;
    if (m_signaturesRequired) {
        const std::int64_t now = SteadyMilliseconds();
        DropReason reason;
        if (!m_verifier.Admit(frame, HashLinkName(FieldText(record.name)), DatagramSource(), now, reason)) {
            m_drops.Count(reason, DatagramSource());
            m_drops.ReportIfDue(now);
            return;
        }
        SaveCounters(true);
    }
    m_store.AddRecord(record);
}

void CLinkReceiver::OnStateFrame(FrameView frame)
{
    // Read into a scratch member, so that a refused frame leaves the state
    // waiting for the window as it was.
    if (ReadClassroomStateFrame(frame, m_heardState) != StateFault::None)
        return;
    if (m_signaturesRequired) {
        const std::int64_t now = SteadyMilliseconds();
        DropReason reason;
        if (!m_verifier.AdmitState(frame, DatagramSource(), now, m_heardState.counter, reason)) {
            m_drops.Count(reason, DatagramSource());
            m_drops.ReportIfDue(now);
            return;
        }
        m_heardState.signedByTrustedKey = true;
        // While paused each state's counter is kept at once (one small write
        // a round): after a restart no recorded pause frame passes it.
        SaveCounters(m_heardState.mode != ClassroomMode::Paused);
    } else {
        // A machine that trusts no key takes only the list: nobody unknown
        // may limit or pause it, nor have it send reports.
        m_heardState.mode = ClassroomMode::Open;
        m_heardState.pauseCountdownSeconds = 0;
        m_heardState.reportAddress = 0;
        m_heardState.reportPort = 0;
        m_heardState.counter = 0;
        m_heardState.signedByTrustedKey = false;
    }
    m_state = m_heardState;
    m_stateWaiting = true;
    KeepOnly(m_state);
}

bool CLinkReceiver::TakeState(ClassroomState& state)
{
    if (!m_stateWaiting)
        return false;
    state = m_state;
    m_stateWaiting = false;
    return true;
}

void CLinkReceiver::KeepOnly(const ClassroomState& state)
{
    static const LinkNameHash homeHash = HashLinkName("home");
    LinkNameHash kept[kMaxLinks + 1];
    const int listed = std::clamp(state.linkCount, 0, kMaxLinks);
    std::copy_n(state.nameHashes.begin(), listed, kept);
    const int keptCount = listed + (state.hasHome ? 1 : 0);
    kept[listed] = homeHash;
    m_store.KeepOnly(kept, keptCount);
    m_verifier.KeepOnlyNames(kept, keptCount);
}

void CLinkReceiver::ReportDrops()
{
    m_drops.ReportIfDue(SteadyMilliseconds());
}

void CLinkReceiver::SaveCounters(bool onlyWhenDue)
{
    if (m_countersPath.empty() || m_saveFailed)
        return;
    bool changed = false;
    bool due = false;
    for (int key = 0; key < m_verifier.KeyCount(); ++key) {
        const std::uint64_t highest = m_verifier.HighestAt(key);
        changed = changed || highest != m_savedHighest[key];
        // The first counter of a key is kept at once: it closes the window
        // for replays on the next start.
        due = due || (highest != 0 && (m_savedHighest[key] == 0 || highest >= m_savedHighest[key] + kCounterSaveStep));
    }
    if (!changed || (onlyWhenDue && !due))
        return;
    if (const int error = SaveHighestCounters(m_countersPath, m_verifier)) {
        // Said once: the channel goes on, only a restart loses the counters.
        PrintLine(m_countersPath + ": " + std::strerror(error) + "; counters are not kept across restarts");
        m_saveFailed = true;
        return;
    }
    for (int key = 0; key < m_verifier.KeyCount(); ++key)
        m_savedHighest[key] = m_verifier.HighestAt(key);
}

} // namespace kestrel
