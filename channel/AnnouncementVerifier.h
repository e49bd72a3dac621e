#pragma once

#include "base/LinkRecord.h"
#include "channel/FrameView.h"
#include "channel/SignatureBudget.h"
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
    Replayed,        // counter not above the last accepted for key and name
    TooOld,          // more than ten minutes below the key's highest
    TooManyNames,
    OverBudget,
    BadSignature,
};
constexpr int kDropReasonCount = static_cast<int>(DropReason::BadSignature) + 1;

// Words for the reason in the dropped-frame summary.
const char* DropReasonText(DropReason reason);

// Decides which link-record frames a pupil machine obeys when keys are
// configured: only those signed by a trusted key whose counter is fresh for
// that key and link name. The cheap checks come first; the signature check
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
    // The highest counter accepted from a key in an earlier run.
    void RestoreHighest(const KeyId& id, std::uint64_t counter);

    // Whether the frame (a link-record frame) may reach the store; `reason`
    // says why not. `name` is its record's name, as read from the frame;
    // `source` is the IPv4 address (network order) of the datagram that
    // completed it.
    bool Admit(const FrameView& frame, const LinkNameKey& name, std::uint32_t source, std::int64_t nowMs,
               DropReason& reason);

    int KeyCount() const { return m_keyCount; }
    const KeyId& KeyIdAt(int key) const { return m_keys[key].id; }
    // The highest counter accepted from key `key`, 0 before any.
    std::uint64_t HighestAt(int key) const { return m_highest[key]; }

private:
    struct NameCounter {
        int key = 0;
        LinkNameKey name;
        std::uint64_t counter = 0;
    };

    int FindKey(const KeyId& id) const;
    int FindName(int key, const LinkNameKey& name) const;

    TrustedKey m_keys[kMaxTrustedKeys];
    std::uint64_t m_highest[kMaxTrustedKeys] = {};
    int m_keyCount = 0;
    NameCounter m_names[kMaxNames];
    int m_nameCount = 0;
    CSignatureBudget m_budget;
};

} // namespace kestrel
