#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <functional>

namespace kestrel {

// One line for a whole burst of refusals: the summary is written once the
// burst has been quiet for a second, and at the latest ten seconds after its
// first refusal, so a steady stream still reports.
class CBurstSummary : public QObject {
public:
    // `print` writes the line for the refusals counted so far.
    CBurstSummary(std::function<void()> print, QObject* parent);

    // One more refusal of the burst.
    void Note();

private:
    QTimer m_quiet;
    QElapsedTimer m_sinceFirst;
};

} // namespace kestrel
