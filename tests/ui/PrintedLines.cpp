#include "tests/ui/PrintedLines.h"

#include <cstdio>
#include <unistd.h>

namespace kestrel {

PrintedLines::PrintedLines()
{
    std::fflush(stdout);
    if (!m_file.open())
        return;
    m_savedStdout = dup(STDOUT_FILENO);
    dup2(m_file.handle(), STDOUT_FILENO);
}

PrintedLines::~PrintedLines()
{
    if (m_savedStdout < 0)
        return;
    std::fflush(stdout);
    dup2(m_savedStdout, STDOUT_FILENO);
    close(m_savedStdout);
    // What was caught still shows in the test's log.
    for (const QString& line : Lines())
        std::printf("%s\n", qPrintable(line));
    std::fflush(stdout);
}

QStringList PrintedLines::Lines()
{
    std::fflush(stdout);
    QFile file(m_file.fileName());
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

int PrintedLines::Count(const QString& text)
{
    int count = 0;
    for (const QString& line : Lines())
        count += line.contains(text);
    return count;
}

} // namespace kestrel
