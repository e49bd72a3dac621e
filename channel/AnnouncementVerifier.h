#pragma once

#include "base/ClassroomState.h"
#include "base/LinkRecord.h"
#include "channel/FrameView.h"
#include "channel/SignatureBudget.h"
#include "channel/SignedLinkRecordFrame.h"
#include "channel/TrustedKeys.h"

#include <cstdint>
#include <vector>

namespace kestrel {

// Why a link-record frame did not reach the store while keys are configured.
enum class DropReason {
    NoUsableKey,     // the trusted-keys file was refused
    Unsigned,
    WrongLength,
    WrongMagic,
    WrongAlgorithm,
    ReservedSet,
    UnknownKey,
    Replayed,        // counter not above the last accepted for key and name (or state)
    TooOld,          // more than ten minutes below the key's highest
    TooManyNames,
    OverBudget,
    BadSignature,
    OtherPort,       // bound to a channel port other than this one
};
constexpr int kDropReasonCount = static_cast<int>(DropReason::OtherPort) + 1;

// Words for the reason in the dropped-frame summary.
const char* DropReasonText(DropReason reason);

// Decides which link-record and classroom-state frames a pupil machine
// obeys when keys are configured: only those signed by a trusted key, bound
// to no port or to this channel's, whose counter is fresh for that key and
// link name (or for that key's states). The cheap checks come first; the signature check
// runs within the shared budget, and counters move only once it verified.
// Fixed tables: nothing is allocated per frame.
class CAnnouncementVerifier {
public:
    // A counter may lie this far below the key's highest and still count
    // (milliseconds, as announcers count).
    static constexpr std::uint64_t kCounterWindow = 600000;
    // Counters kept per key and name; a record store holds thirty names.
    static constexpr int kMaxNames = 64;

    // Replaces the trusted keys and forgets every counter. No keys: every
    // frame is dropped.
    void Trust(const std::vector<TrustedKey>& keys);
    // The highest counter accepted from a key in an earlier run. A state
    // must exceed it: a recorded pause cannot cover a browser just started.
    void RestoreHighest(const KeyId& id, std::uint64_t counter);
    // The channel port signed frames may be bound to, besides 0.
    void SetChannelPort(std::uint16_t port) { m_channelPort = port; }

    // Whether the frame (a link-record frame) may reach the store; `reason`
    // says why not. `name` is the hash of its record's name, as read from
    // the frame; `source` is the IPv4 address (network order) of the
    // datagram that completed it.
    bool Admit(const FrameView& frame, const LinkNameHash& name, std::uint32_t source, std::int64_t nowMs,
               DropReason& reason);
    // The same for a classroom-state frame, read without fault; `counter`
    // receives its counter when admitted.
    bool AdmitState(const FrameView& frame, std::uint32_t source, std::int64_t nowMs, std::uint64_t& counter,
                    DropReason& reason);
    // Forgets the counters of every name not among `kept`. Each key keeps
    // the highest counter it forgot as a floor that a forgotten name's next
    // frame must exceed, so the table never fills and no old frame returns.
    void KeepOnlyNames(const LinkNameHash* kept, int keptCount);

    int KeyCount() const { return m_keyCount; }
    const KeyId& KeyIdAt(int key) const { return m_keys[key].id; }
    // The highest counter accepted from key `key`, 0 before any.
    std::uint64_t HighestAt(int key) const { return m_highest[key]; }

private:
    struct NameCounter {
        int key = 0;
        LinkNameHash name{};
        std::uint64_t counter = 0;
    };

    // The checks both kinds share up to the counters: the trailer, its key
    // and the bound port. Returns the key's index, or -1 with `reason`.
    int CheckedKey(const FrameView& frame, SignatureTrailer& trailer, DropReason& reason) const;
    // The checks after the counters: the budget, then the signature.
    bool SignatureAdmitted(const FrameView& frame, int key, std::uint32_t source, std::int64_t nowMs,
                           DropReason& reason);
    bool TooOld(int key, std::uint64_t counter) const;
    void Raise(int key, std::uint64_t counter);
    int FindKey(const KeyId& id) const;
    int FindName(int key, const LinkNameHash& name) const;

    TrustedKey m_keys[kMaxTrustedKeys];
    std::uint64_t m_highest[kMaxTrustedKeys] = {};
    // The last state counter accepted, or the highest of an earlier run.
    std::uint64_t m_stateCounter[kMaxTrustedKeys] = {};
    // The highest counter of a name forgotten, per key.
    std::uint64_t m_forgottenFloor[kMaxTrustedKeys] = {};
    std::uint16_t m_channelPort = 0;
    int m_keyCount = 0;
    NameCounter m_names[kMaxNames];
    int m_nameCount = 0;
    CSignatureBudget m_budget;
};

} // namespace kestrel
