#pragma once

#include <QStringList>
#include <QTemporaryFile>

namespace kestrel {

// Catches what the program prints on standard output while it lives, so a
// test can see the lines the program writes; the test's own output goes on
// as before once it ends.
class PrintedLines {
public:
    PrintedLines();
    ~PrintedLines();
    PrintedLines(const PrintedLines&) = delete;
    PrintedLines& operator=(const PrintedLines&) = delete;

    // The program's lines printed so far (not the test framework's).
    QStringList Lines();
    // How many of them contain `text`.
    int Count(const QString& text);

private:
    QTemporaryFile m_file;
    int m_savedStdout = -1;
};

} // namespace kestrel
