#include "ui/PagePrinter.h"

#include "ui/WebBrowser.h"

#include <QPrintDialog>
#include <QPrinter>

namespace kestrel {

CPagePrinter::CPagePrinter(CWebBrowser* browser, QWidget* dialogParent)
    : QObject(dialogParent)
    , m_browser(browser)
    , m_dialogParent(dialogParent)
{
}

CPagePrinter::~CPagePrinter() = default;

void CPagePrinter::Print()
{
    if (m_printer)
        return;
    m_printer = std::make_unique<QPrinter>();
    QPrintDialog dialog(m_printer.get(), m_dialogParent);
    dialog.setObjectName(QStringLiteral("printDialog"));
    if (dialog.exec() != QDialog::Accepted) {
        m_printer.reset();
        return;
    }
    connect(m_browser, &QWebEngineView::printFinished, this, [this] { m_printer.reset(); }, Qt::SingleShotConnection);
    m_browser->print(m_printer.get());
}

} // namespace kestrel
