#include "channel/SignatureBudget.h"

namespace kestrel {

void CSignatureBudget::StartSecond(std::int64_t second)
{
    m_second = second;
    m_checks = 0;
    m_newChecks = 0;
    for (Slot& slot : m_slots) {
        slot.checks = 0;
        if (slot.used && second - slot.lastSecond > kSourceMemorySeconds)
            slot = Slot{};
    }
    for (VerifiedSource& source : m_verified) {
        source.slot.checks = 0;
        if (source.slot.used && second - source.verifiedSecond > kVerifiedMemorySeconds)
            source = VerifiedSource{};
    }
}

CSignatureBudget::Slot& CSignatureBudget::SlotFor(std::uint32_t source)
{
    Slot* free = nullptr;
    for (int i = 0; i < kSourceSlots; ++i) {
        Slot& slot = m_slots[i];
        if (slot.used && slot.address == source)
            return slot;
        if (!slot.used && free == nullptr)
            free = &slot;
    }
    if (free == nullptr)
        return m_slots[kSourceSlots];
    free->used = true;
    free->address = source;
    return *free;
}

CSignatureBudget::VerifiedSource* CSignatureBudget::VerifiedFor(std::uint32_t source)
{
    for (VerifiedSource& verified : m_verified) {
        if (verified.slot.used && verified.slot.address == source)
            return &verified;
    }
    return nullptr;
}

bool CSignatureBudget::Grant(Slot& slot, int share)
{
    if (m_checks >= kChecksPerSecond || slot.checks >= share)
        return false;
    ++slot.checks;
    ++m_checks;
    return true;
}

bool CSignatureBudget::Take(std::uint32_t source, std::int64_t nowMs)
{
    const std::int64_t second = nowMs / 1000;
    if (second != m_second)
        StartSecond(second);
    // One pass: whether any source is verified, which one asks now, and
    // how many others asked lately and share with it.
    VerifiedSource* asker = nullptr;
    bool anyVerified = false;
    int othersAsking = 0;
    for (VerifiedSource& verified : m_verified) {
        if (!verified.slot.used)
            continue;
        anyVerified = true;
        if (verified.slot.address == source)
            asker = &verified;
        else
            othersAsking += second - verified.slot.lastSecond <= kSourceMemorySeconds;
    }
    if (asker != nullptr) {
        asker->slot.lastSecond = second;
        return Grant(asker->slot, kChecksPerSecond / (othersAsking + 1));
    }
    Slot& slot = SlotFor(source);
    slot.used = true;
    slot.lastSecond = second;
    int sources = 0;
    for (const Slot& each : m_slots)
        sources += each.used ? 1 : 0;
    const int pool = anyVerified ? kChecksPerSecond - kVerifiedReserve : kChecksPerSecond;
    if (m_newChecks >= pool || !Grant(slot, pool / sources))
        return false;
    ++m_newChecks;
    return true;
}

void CSignatureBudget::Verified(std::uint32_t source, std::int64_t nowMs)
{
    const std::int64_t second = nowMs / 1000;
    VerifiedSource* verified = VerifiedFor(source);
    if (verified == nullptr) {
        verified = &m_verified[0];
        for (VerifiedSource& each : m_verified) {
            if (!each.slot.used || (verified->slot.used && each.verifiedSecond < verified->verifiedSecond))
                verified = &each;
        }
        *verified = VerifiedSource{Slot{source, true, second, 0}, second};
        // Its slot among the new sources is free for another.
        for (int i = 0; i < kSourceSlots; ++i) {
            if (m_slots[i].used && m_slots[i].address == source)
                m_slots[i] = Slot{};
        }
    }
    verified->verifiedSecond = second;
}

} // namespace kestrel
