#pragma once

#include <cstdint>

namespace kestrel {

// At most 500 signature checks a second, shared out among the addresses
// that ask: each of the sources heard in the last few seconds may use its
// equal share of the second, so a flood from one address cannot use up the
// share of the announcer beside it. A source whose frame verified moves to
// a table of its own and is remembered for hours: new sources together
// never get more than the unreserved checks while one is remembered, so a
// flood from ever new (spoofed) addresses cannot take a verified
// announcer's checks, whenever it began. Fixed tables; new sources beyond
// theirs share one last slot.
class CSignatureBudget {
public:
    static constexpr int kChecksPerSecond = 500;
    // Checks of each second that new sources cannot have while a verified
    // source is remembered: more than the thirty frames of a round.
    static constexpr int kVerifiedReserve = 250;
    static constexpr int kSourceSlots = 16;
    // Announcers on one network; the one verified longest ago gives way.
    static constexpr int kVerifiedSlots = 4;
    // Seconds a new source keeps its slot without asking: more than the
    // announcer's pause between two rounds.
    static constexpr std::int64_t kSourceMemorySeconds = 5;
    // Seconds a verified source is remembered after its last verified frame:
    // twice the announcer's longest --interval (3600 s), so that it keeps
    // its share from one round to the next. Meanwhile new sources have the
    // unreserved checks only, which is plenty for another announcer.
    static constexpr std::int64_t kVerifiedMemorySeconds = 7200;

    // Whether one more check may run now for the IPv4 source address (in
    // network order); counts it when it may.
    bool Take(std::uint32_t source, std::int64_t nowMs);
    // The frame of `source` just passed its signature check.
    void Verified(std::uint32_t source, std::int64_t nowMs);

private:
    struct Slot {
        std::uint32_t address = 0;
        bool used = false;
        std::int64_t lastSecond = 0;
        int checks = 0;
    };
    struct VerifiedSource {
        Slot slot;
        std::int64_t verifiedSecond = 0;
    };

    void StartSecond(std::int64_t second);
    Slot& SlotFor(std::uint32_t source);
    VerifiedSource* VerifiedFor(std::uint32_t source);
    // Counts a check for `slot` when its share and the second's checks
    // both allow one more.
    bool Grant(Slot& slot, int share);

    std::int64_t m_second = -1;
    int m_checks = 0;
    // Checks of this second that went to sources not verified.
    int m_newChecks = 0;
    // The last slot is the shared one.
    Slot m_slots[kSourceSlots + 1];
    VerifiedSource m_verified[kVerifiedSlots];
};

} // namespace kestrel
