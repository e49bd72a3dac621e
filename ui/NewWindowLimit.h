#pragma once

#include <cstdint>

namespace kestrel {

// Which of a page's requests for a new window are let through: only those
// the engine reports as the user's own doing (a click), at most one a
// second and ten for the page shown; a page that fires windows by script
// gets none. Refusals are counted so that one line can sum them up.
class CNewWindowLimit {
public:
    static constexpr int kPerPage = 10;
    static constexpr std::int64_t kSpacingMs = 1000;

    // Whether a request made at `nowMs` (a steady clock) may open a window;
    // counts it as opened or refused.
    bool Allow(bool userInitiated, std::int64_t nowMs);
    // Whether one more window would be within the page's ten.
    bool HasRoom() const { return m_opened < kPerPage; }
    // Another page is shown: it starts with ten windows again.
    void NewPage() { m_opened = 0; }
    // The refusals since the last call, for the summary line.
    int TakeRefused();

private:
    int m_opened = 0;
    int m_refused = 0;
    bool m_anyOpened = false;
    std::int64_t m_lastOpenedMs = 0;
};

} // namespace kestrel
