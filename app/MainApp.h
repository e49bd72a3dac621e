#pragma once

#include <QApplication>

namespace kestrel {

// The process: one instance per program name and user, then the main window
// until it ends.
class CMainApp {
public:
    CMainApp(int& argc, char** argv);
    ~CMainApp();
    CMainApp(const CMainApp&) = delete;
    CMainApp& operator=(const CMainApp&) = delete;

    // Runs the program; returns the process's exit status.
    int Run();

private:
    QApplication m_app;
};

} // namespace kestrel
