#pragma once

#include <cstdint>

namespace kestrel {

// At most 500 signature checks a second, shared out among the addresses
// that ask: each of the sources heard in the last few seconds may use its
// equal share of the second, so a flood from one address cannot use up the
// share of the announcer beside it. A fixed table; sources beyond it share
// one last slot.
class CSignatureBudget {
public:
    static constexpr int kChecksPerSecond = 500;
    static constexpr int kSourceSlots = 16;
    // Seconds a source keeps its slot without asking: more than the
    // announcer's pause between two rounds.
    static constexpr std::int64_t kSourceMemorySeconds = 5;

    // Whether one more check may run now for the IPv4 source address (in
    // network order); counts it when it may.
    bool Take(std::uint32_t source, std::int64_t nowMs);

private:
    struct Slot {
        std::uint32_t address = 0;
        bool used = false;
        std::int64_t lastSecond = 0;
        int checks = 0;
    };

    void StartSecond(std::int64_t second);
    Slot& SlotFor(std::uint32_t source);

    std::int64_t m_second = -1;
    int m_checks = 0;
    // The last slot is the shared one.
    Slot m_slots[kSourceSlots + 1];
};

} // namespace kestrel
