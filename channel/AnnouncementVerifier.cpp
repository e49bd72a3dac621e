#include "channel/AnnouncementVerifier.h"

#include "channel/FrameFormat.h"
#include "channel/SignedLinkRecordFrame.h"

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
        m_keys[m_keyCount++] = key;
    }
    m_nameCount = 0;
}

void CAnnouncementVerifier::RestoreHighest(const KeyId& id, std::uint64_t counter)
{
    const int key = FindKey(id);
    if (key >= 0 && counter > m_highest[key])
        m_highest[key] = counter;
}

int CAnnouncementVerifier::FindKey(const KeyId& id) const
{
    for (int key = 0; key < m_keyCount; ++key) {
        if (m_keys[key].id == id)
            return key;
    }
    return -1;
}

int CAnnouncementVerifier::FindName(int key, const LinkNameKey& name) const
{
    for (int i = 0; i < m_nameCount; ++i) {
        if (m_names[i].key == key && m_names[i].name == name)
            return i;
    }
    return -1;
}

bool CAnnouncementVerifier::Admit(const FrameView& frame, const LinkNameKey& name, std::uint32_t source,
                                  std::int64_t nowMs, DropReason& reason)
{
    if (m_keyCount == 0) {
        reason = DropReason::NoUsableKey;
        return false;
    }
    SignatureTrailer trailer;
    const TrailerFault fault = ReadSignatureTrailer(frame, trailer);
    if (fault != TrailerFault::None) {
        reason = ReasonFor(fault);
        return false;
    }
    const int key = FindKey(trailer.keyId);
    if (key < 0) {
        reason = DropReason::UnknownKey;
        return false;
    }
    const int known = FindName(key, name);
    if (known >= 0 && trailer.counter <= m_names[known].counter) {
        reason = DropReason::Replayed;
        return false;
    }
    if (m_highest[key] > kCounterWindow && trailer.counter < m_highest[key] - kCounterWindow) {
        reason = DropReason::TooOld;
        return false;
    }
    if (known < 0 && m_nameCount == kMaxNames) {
        reason = DropReason::TooManyNames;
        return false;
    }
    if (!m_budget.Take(source, nowMs)) {
        reason = DropReason::OverBudget;
        return false;
    }
    if (!SignatureVerifies(frame, m_keys[key].publicKey)) {
        reason = DropReason::BadSignature;
        return false;
    }
    m_budget.Verified(source, nowMs);
    NameCounter& entry = known >= 0 ? m_names[known] : m_names[m_nameCount++];
    entry.key = key;
    entry.name = name;
    entry.counter = trailer.counter;
    if (trailer.counter > m_highest[key])
        m_highest[key] = trailer.counter;
    return true;
}

} // namespace kestrel
