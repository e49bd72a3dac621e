#include "ui/NewWindowLimit.h"

namespace kestrel {

bool CNewWindowLimit::Allow(bool userInitiated, std::int64_t nowMs)
{
    const bool tooSoon = m_anyOpened && nowMs - m_lastOpenedMs < kSpacingMs;
    if (!userInitiated || tooSoon || !HasRoom()) {
        ++m_refused;
        return false;
    }
    ++m_opened;
    m_anyOpened = true;
    m_lastOpenedMs = nowMs;
    return true;
}

int CNewWindowLimit::TakeRefused()
{
    const int refused = m_refused;
    m_refused = 0;
    return refused;
}

} // namespace kestrel
