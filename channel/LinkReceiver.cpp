#include "channel/LinkReceiver.h"

#include "base/ConsoleLine.h"
#include "base/StateFolder.h"
#include "base/SteadyClock.h"
#include "channel/ClassroomStateFrame.h"
#include "channel/HighestCounters.h"
#include "channel/LinkRecordFrame.h"
#include "channel/TrustedKeys.h"

#include <algorithm>
#include <cstring>

namespace kestrel {

CLinkReceiver::~CLinkReceiver()
{
    SaveCounters(false);
}

void CLinkReceiver::RequireSignatures(const std::string& trustedKeysPath, const std::string& stateFolder)
{
    if (trustedKeysPath.empty()) {
        PrintLine("Announcements are not signed: any computer on the network can change the links");
        return;
    }
    const TrustedKeysRead read = ReadTrustedKeys(trustedKeysPath);
    for (const std::string& problem : read.lineProblems)
        PrintLine(problem);
    RequireSignaturesOf(read.keys);
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

void CLinkReceiver::RequireSignaturesOf(const std::vector<TrustedKey>& keys)
{
    m_signaturesRequired = true;
    // The check budget, the summary of drops and the reports go by sender.
    KeepDatagramSources(true);
    m_verifier.Trust(keys);
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
        if (m_heardState.reportAddress == 0)
            m_heardState.reportAddress = DatagramSource();
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
