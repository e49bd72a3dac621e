#pragma once

#include <QObject>

#include <memory>

class QPrinter;
class QWidget;

namespace kestrel {

class CWebBrowser;

// Prints the browser's page after the print dialog, one print at a time:
// the engine prints into the printer after the dialog has closed.
class CPagePrinter : public QObject {
    Q_OBJECT

public:
    CPagePrinter(CWebBrowser* browser, QWidget* dialogParent);
    ~CPagePrinter() override;

    void Print();

private:
    CWebBrowser* const m_browser;
    QWidget* const m_dialogParent;
    std::unique_ptr<QPrinter> m_printer;
};

} // namespace kestrel
