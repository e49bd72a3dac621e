#include "channel/AnnouncementVerifier.h"

#include "channel/FrameFormat.h"
#include "channel/SignedLinkRecordFrame.h"

#include <algorithm>
#include <cstddef>

namespace kestrel {

const char* DropReasonText(DropReason reason)
{
    switch (reason) {
    case DropReason::NoUsableKey:
        return "no usable trusted key";
    case DropReason::Unsigned:
        return "unsigned";
    case DropReason::WrongLength:
        return "wrong length";
    case DropReason::WrongMagic:
        return "not a signature trailer";
    case DropReason::WrongAlgorithm:
        return "unknown algorithm";
    case DropReason::ReservedSet:
        return "flags or reserved bytes set";
    case DropReason::UnknownKey:
        return "unknown key";
    case DropReason::Replayed:
        return "replayed counter";
    case DropReason::TooOld:
        return "counter too old";
    case DropReason::TooManyNames:
        return "too many names";
    case DropReason::OverBudget:
        return "over the check budget";
    case DropReason::BadSignature:
        return "bad signature";
    case DropReason::OtherPort:
        return "bound to another port";
    }
    return "?";
}

namespace {

DropReason ReasonFor(TrailerFault fault)
{
    switch (fault) {
    case TrailerFault::NoTrailer:
        return DropReason::Unsigned;
    case TrailerFault::WrongMagic:
        return DropReason::WrongMagic;
    case TrailerFault::WrongAlgorithm:
        return DropReason::WrongAlgorithm;
    case TrailerFault::ReservedSet:
        return DropReason::ReservedSet;
    case TrailerFault::WrongLength:
    case TrailerFault::None:
        break;
    }
    return DropReason::WrongLength;
}

} // namespace

void CAnnouncementVerifier::Trust(const std::vector<TrustedKey>& keys)
{
    m_keyCount = 0;
    for (const TrustedKey& key : keys) {
        if (m_keyCount == static_cast<int>(kMaxTrustedKeys))
            break;
        m_highest[m_keyCount] = 0;
        m_stateCounter[m_keyCount] = 0;
        m_forgottenFloor[m_keyCount] = 0;
        m_keys[m_keyCount++] = key;
    }
    m_nameCount = 0;
}

void CAnnouncementVerifier::RestoreHighest(const KeyId& id, std::uint64_t counter)
{
    const int key = FindKey(id);
    if (key >= 0)
        Raise(key, counter);
    if (key >= 0 && counter > m_stateCounter[key])
        m_stateCounter[key] = counter;
}

void CAnnouncementVerifier::Raise(int key, std::uint64_t counter)
{
    if (counter > m_highest[key])
        m_highest[key] = counter;
}

bool CAnnouncementVerifier::TooOld(int key, std::uint64_t counter) const
{
    return m_highest[key] > kCounterWindow && counter < m_highest[key] - kCounterWindow;
}

int CAnnouncementVerifier::FindKey(const KeyId& id) const
{
    for (int key = 0; key < m_keyCount; ++key) {
        if (m_keys[key].id == id)
            return key;
    }
    return -1;
}

int CAnnouncementVerifier::FindName(int key, const LinkNameHash& name) const
{
    for (int i = 0; i < m_nameCount; ++i) {
        if (m_names[i].key == key && m_names[i].name == name)
            return i;
    }
    return -1;
}

int CAnnouncementVerifier::CheckedKey(const FrameView& frame, SignatureTrailer& trailer, DropReason& reason) const
{
    if (m_keyCount == 0) {
        reason = DropReason::NoUsableKey;
        return -1;
    }
    const TrailerFault fault = ReadSignatureTrailer(frame, trailer);
    if (fault != TrailerFault::None) {
        reason = ReasonFor(fault);
        return -1;
    }
    const int key = FindKey(trailer.keyId);
    if (key < 0) {
        reason = DropReason::UnknownKey;
        return -1;
    }
    if (frame.BoundPort() != 0 && frame.BoundPort() != m_channelPort) {
        reason = DropReason::OtherPort;
        return -1;
    }
    return key;
}

bool CAnnouncementVerifier::SignatureAdmitted(const FrameView& frame, int key, std::uint32_t source,
                                              std::int64_t nowMs, DropReason& reason)
{
    if (!m_budget.Take(source, nowMs)) {
        reason = DropReason::OverBudget;
        return false;
    }
    if (!SignatureVerifies(frame, m_keys[key].publicKey)) {
        reason = DropReason::BadSignature;
        return false;
    }
    m_budget.Verified(source, nowMs);
    return true;
}

bool CAnnouncementVerifier::Admit(const FrameView& frame, const LinkNameHash& name, std::uint32_t source,
                                  std::int64_t nowMs, DropReason& reason)
{
    SignatureTrailer trailer;
    const int key = CheckedKey(frame, trailer, reason);
    if (key < 0)
        return false;
    const int known = FindName(key, name);
    const bool replayed = known >= 0 ? trailer.counter <= m_names[known].counter
                                     : m_forgottenFloor[key] != 0 && trailer.counter <= m_forgottenFloor[key];
    if (replayed) {
        reason = DropReason::Replayed;
        return false;
    }
    if (TooOld(key, trailer.counter)) {
        reason = DropReason::TooOld;
        return false;
    }
    if (known < 0 && m_nameCount == kMaxNames) {
        reason = DropReason::TooManyNames;
        return false;
    }
    if (!SignatureAdmitted(frame, key, source, nowMs, reason))
        return false;
    NameCounter& entry = known >= 0 ? m_names[known] : m_names[m_nameCount++];
    entry.key = key;
    entry.name = name;
    entry.counter = trailer.counter;
    Raise(key, trailer.counter);
    return true;
}

bool CAnnouncementVerifier::AdmitState(const FrameView& frame, std::uint32_t source, std::int64_t nowMs,
                                       std::uint64_t& counter, DropReason& reason)
{
    SignatureTrailer trailer;
    const int key = CheckedKey(frame, trailer, reason);
    if (key < 0)
        return false;
    if (trailer.counter <= m_stateCounter[key]) {
        reason = DropReason::Replayed;
        return false;
    }
    if (TooOld(key, trailer.counter)) {
        reason = DropReason::TooOld;
        return false;
    }
    if (!SignatureAdmitted(frame, key, source, nowMs, reason))
        return false;
    m_stateCounter[key] = trailer.counter;
    Raise(key, trailer.counter);
    counter = trailer.counter;
    return true;
}

void CAnnouncementVerifier::KeepOnlyNames(const LinkNameHash* kept, int keptCount)
{
    int count = 0;
    for (int i = 0; i < m_nameCount; ++i) {
        const NameCounter& entry = m_names[i];
        if (std::find(kept, kept + keptCount, entry.name) != kept + keptCount) {
            m_names[count++] = entry;
        } else if (entry.counter > m_forgottenFloor[entry.key]) {
            m_forgottenFloor[entry.key] = entry.counter;
        }
    }
    m_nameCount = count;
}

} // namespace kestrel
