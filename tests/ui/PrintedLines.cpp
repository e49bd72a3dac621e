#include "tests/ui/PrintedLines.h"

#include <QRegularExpression>

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
    QFile file(m_file.fileName());
    if (file.open(QIODevice::ReadOnly)) {
        const QByteArray caught = file.readAll();
        std::fwrite(caught.constData(), 1, size_t(caught.size()), stdout);
    }
    std::fflush(stdout);
}

QStringList PrintedLines::Lines()
{
    std::fflush(stdout);
    QFile file(m_file.fileName());
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QStringList lines;
    for (const QString& line : QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        // Qt Test writes the messages of Qt and the engine here too.
        static const QRegularExpression testMessage(QStringLiteral("^Q[A-Z]+ *: "));
        if (!testMessage.match(line).hasMatch())
            lines << line;
    }
    return lines;
}

int PrintedLines::Count(const QString& text)
{
    int count = 0;
    for (const QString& line : Lines())
        count += line.contains(text);
    return count;
}

} // namespace kestrel
