#pragma once

#include "base/ClassroomState.h"
#include "base/LinkRecord.h"
#include "channel/AnnouncementVerifier.h"
#include "channel/ChannelSocket.h"
#include "channel/DropSummary.h"
#include "channel/LinkRecordStore.h"

#include <cstdint>
#include <string>
#include <vector>

namespace kestrel {

// The one listener of the program: opens the channel where the settings
// file says and keeps every link-record frame's record in the
// received-record store, which the catalogue polls. With a trusted-keys
// file configured, only records signed by one of its keys with a fresh
// counter are kept; the others are counted and summarised.
// Classroom-state frames are read here too: the last accepted state waits
// for the window's TakeState, and its list has already trimmed the store.
class CLinkReceiver : public CChannelSocket {
public:
    // Counters are saved this far ahead of the last save at the latest, so a
    // busy channel writes the state file about once a minute.
    static constexpr std::uint64_t kCounterSaveStep = 60000;

    CLinkReceiver() = default;
    // Keeps the counters accepted since the last save.
    ~CLinkReceiver() override;

    // Chooses, once before Start, which frames count. An empty path: every
    // link-record frame, as always, which is said once on standard output.
    // Otherwise only frames signed by a key of that file; the highest
    // counter of each key is kept in a file in stateFolder (none when
    // empty). Problems with the file are printed, naming it.
    void RequireSignatures(const std::string& trustedKeysPath, const std::string& stateFolder);
    // The same with keys already read, quietly and without kept counters:
    // for receivers fed by another listener (the pupil simulator).
    void RequireSignaturesOf(const std::vector<TrustedKey>& keys);
    bool SignaturesRequired() const { return m_signaturesRequired; }

    // Opens the socket on the bind address, port and multicast group the
    // settings name, for the owner; what Open gives.
    bool Start(const std::string& bindAddress, long port, CSocketOwner* owner, const std::string& multicastGroup = {})
    {
        TakeFramesBoundTo(static_cast<std::uint16_t>(port & 0xFFFF));
        return Open(bindAddress.c_str(), port, owner, multicastGroup.c_str());
    }
    // The channel port signed frames may be bound to, besides none; Start
    // sets it, a receiver fed by another listener is told.
    void TakeFramesBoundTo(std::uint16_t port) { m_verifier.SetChannelPort(port); }

    // Prints the dropped-frame summary when one is due; the window calls it
    // with every merge pass, so that the last drops are not kept back.
    void ReportDrops();

    // The classroom state accepted since the last call, copied into `state`;
    // false, `state` untouched, when none was. Every accepted frame counts,
    // including repeats of the same state, so that the window can restart
    // its "valid for" wait and countdown. Without keys the state's mode is
    // always open and its report port 0. A signed state whose report
    // address is 0 gets its datagram's source there, so that a report goes
    // only to the sender of a state this machine trusts.
    bool TakeState(ClassroomState& state);

    // Keeps in the store only the records the state lists (and the home
    // record when its flag says the catalogue has one); the other slots
    // free, the rest keep their order. The verifier forgets the dropped
    // names' counters, keeping per key a floor above which a dropped name
    // must come back. The receiver calls it for each accepted state itself.
    void KeepOnly(const ClassroomState& state);

    bool AddRecord(const LinkRecord& record) { return m_store.AddRecord(record); }
    int GetCount() const { return m_store.GetCount(); }
    bool GetRecord(int index, LinkRecord& record) const { return m_store.GetRecord(index, record); }
    CLinkRecordStore& Store() { return m_store; }
    const CLinkRecordStore& Store() const { return m_store; }

protected:
    void OnFrame(FrameView frame) override;

private:
    void OnStateFrame(FrameView frame);
    void SaveCounters(bool onlyWhenDue);

    CLinkRecordStore m_store;
    bool m_signaturesRequired = false;
    CAnnouncementVerifier m_verifier;
    CDropSummary m_drops;
    std::string m_countersPath;
    std::uint64_t m_savedHighest[kMaxTrustedKeys] = {};
    bool m_saveFailed = false;
    ClassroomState m_heardState;
    ClassroomState m_state;
    bool m_stateWaiting = false;
};

} // namespace kestrel
