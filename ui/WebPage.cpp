#include "ui/WebPage.h"

#include "base/ConsoleLine.h"
#include "ui/LessonGate.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QStandardPaths>
#include <QMessageBox>
#include <QPushButton>
#include <QWebEngineFileSystemAccessRequest>
#include <QWebEngineRegisterProtocolHandlerRequest>

#include <utility>

namespace kestrel {

namespace {

// The text the engine hands to javaScriptConfirm when a page with unsaved
// work is about to go; nothing else tells that question from a confirm().
QString EngineLeaveQuestion()
{
    return QCoreApplication::translate("QWebEnginePage",
                                       "Are you sure you want to leave this page? Changes that you made may not be saved.");
}

// Where pupils keep their work; the program's own folder means nothing to them.
QString UploadFolder()
{
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    return !documents.isEmpty() && QDir(documents).exists() ? documents : QDir::homePath();
}

} // namespace

CWebPage::CWebPage(QWebEngineProfile* profile, const CSchemeGate& gate, CLessonGate& lessonGate, QObject* parent)
    : QWebEnginePage(profile, parent)
    , m_gate(gate)
    , m_lessonGate(lessonGate)
{
    connect(this, &QWebEnginePage::featurePermissionRequested, this,
            [this](const QUrl& origin, Feature feature) { setFeaturePermission(origin, feature, PermissionDeniedByUser); });
    connect(this, &QWebEnginePage::fileSystemAccessRequested, this,
            [](QWebEngineFileSystemAccessRequest request) { request.reject(); });
    connect(this, &QWebEnginePage::registerProtocolHandlerRequested, this,
            [](QWebEngineRegisterProtocolHandlerRequest request) { request.reject(); });
}

bool CWebPage::acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame)
{
    // Frames inside a page never replace what the pupil sees; the request
    // guard keeps local pages' frames off the network.
    if (!isMainFrame)
        return true;
    if (std::exchange(m_bDrawingEmptyPage, false) && url.scheme() == QLatin1String("data"))
        return true;
    if (!m_gate.MayNavigate(url) || !m_lessonGate.Admit(url))
        return false;
    // A local lesson stays off the network: only the program itself (a
    // record, a button, the history) leaves it for a web address.
    const bool programAsked = type == NavigationTypeTyped || type == NavigationTypeBackForward || type == NavigationTypeReload;
    if (this->url().isLocalFile() && !url.isLocalFile() && !programAsked) {
        PrintLine(QStringLiteral("Not opened: the local page \"%1\" may not open \"%2\"")
                      .arg(this->url().toString(), url.toString())
                      .toStdString());
        return false;
    }
    return true;
}

bool CWebPage::javaScriptConfirm(const QUrl& securityOrigin, const QString& message)
{
    if (message != EngineLeaveQuestion())
        return QWebEnginePage::javaScriptConfirm(securityOrigin, message);
    emit LeaveQuestionShown();
    const bool leave = AskWhetherToLeave();
    emit LeaveQuestionAnswered(leave);
    return leave;
}

QStringList CWebPage::chooseFiles(FileSelectionMode mode, const QStringList&, const QStringList&)
{
    QFileDialog chooser(qobject_cast<QWidget*>(parent()), QStringLiteral("选择要上传的文件"), UploadFolder());
    chooser.setObjectName(QStringLiteral("uploadChooser"));
    chooser.setFileMode(mode == FileSelectOpenMultiple ? QFileDialog::ExistingFiles : QFileDialog::ExistingFile);
    if (chooser.exec() != QDialog::Accepted)
        return QStringList();
    return chooser.selectedFiles();
}

bool CWebPage::AskWhetherToLeave()
{
    QMessageBox question(QMessageBox::Question, QStringLiteral("离开此网页？"),
                         QStringLiteral("您所做的更改可能不会保存。"), QMessageBox::NoButton,
                         qobject_cast<QWidget*>(parent()));
    question.setObjectName(QStringLiteral("leaveQuestion"));
    QPushButton* leave = question.addButton(QStringLiteral("离开"), QMessageBox::AcceptRole);
    QPushButton* stay = question.addButton(QStringLiteral("留下"), QMessageBox::RejectRole);
    question.setDefaultButton(stay);
    question.setEscapeButton(stay);
    m_leaveQuestion = &question;
    question.exec();
    return question.clickedButton() == leave;
}

void CWebPage::DrawEmptyPage()
{
    m_bDrawingEmptyPage = true;
    setHtml(QString());
}

void CWebPage::DismissLeaveQuestion()
{
    if (!m_leaveQuestion)
        return;
    for (QAbstractButton* button : m_leaveQuestion->buttons()) {
        if (m_leaveQuestion->buttonRole(button) == QMessageBox::AcceptRole)
            button->click();
    }
}

} // namespace kestrel
