#include "ui/BurstSummary.h"

namespace kestrel {

namespace {

constexpr int kQuietMs = 1000;
constexpr qint64 kLongestWaitMs = 10000;

} // namespace

CBurstSummary::CBurstSummary(std::function<void()> print, QObject* parent)
    : QObject(parent)
{
    m_quiet.setSingleShot(true);
    connect(&m_quiet, &QTimer::timeout, this, std::move(print));
}

void CBurstSummary::Note()
{
    if (!m_quiet.isActive())
        m_sinceFirst.start();
    if (m_sinceFirst.elapsed() < kLongestWaitMs)
        m_quiet.start(kQuietMs);
}

} // namespace kestrel
