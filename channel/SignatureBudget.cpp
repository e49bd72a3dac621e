#include "channel/SignatureBudget.h"

namespace kestrel {

void CSignatureBudget::StartSecond(std::int64_t second)
{
    m_second = second;
    m_checks = 0;
    for (Slot& slot : m_slots) {
        slot.checks = 0;
        if (slot.used && second - slot.lastSecond > kSourceMemorySeconds)
            slot = Slot{};
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

bool CSignatureBudget::Take(std::uint32_t source, std::int64_t nowMs)
{
    const std::int64_t second = nowMs / 1000;
    if (second != m_second)
        StartSecond(second);
    Slot& slot = SlotFor(source);
    slot.used = true;
    slot.lastSecond = second;
    int sources = 0;
    for (const Slot& each : m_slots)
        sources += each.used ? 1 : 0;
    const int share = kChecksPerSecond / sources;
    if (m_checks >= kChecksPerSecond || slot.checks >= share)
        return false;
    ++slot.checks;
    ++m_checks;
    return true;
}

} // namespace kestrel
