#pragma once

#include "ui/SchemeGate.h"

#include <QPointer>
#include <QWebEnginePage>

class QMessageBox;

namespace kestrel {

class CLessonGate;

// The page inside the browser. Every main-frame navigation passes the scheme
// gate here, whoever asks for it (a record, a click, a script, a redirect, a
// form, the history), and the lesson gate after it; a local page cannot
// navigate to the network by itself. Requests for
// camera, microphone, location, notifications and the rest are refused at
// once, and the page's question whether to leave it is asked in Chinese.
// An upload's file chooser opens in the user's documents or home folder,
// never in the program's own.
class CWebPage : public QWebEnginePage {
    Q_OBJECT

public:
    CWebPage(QWebEngineProfile* profile, const CSchemeGate& gate, CLessonGate& lessonGate, QObject* parent);

    // Closes an open leave question as if the user had chosen to leave.
    void DismissLeaveQuestion();
    // An empty page, drawn by the program: the one data address let through.
    void DrawEmptyPage();

signals:
    void LeaveQuestionShown();
    void LeaveQuestionAnswered(bool leave);

protected:
    bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override;
    bool javaScriptConfirm(const QUrl& securityOrigin, const QString& message) override;
    QStringList chooseFiles(FileSelectionMode mode, const QStringList& oldFiles, const QStringList& acceptedMimeTypes) override;

private:
    bool AskWhetherToLeave();

    const CSchemeGate& m_gate;
    CLessonGate& m_lessonGate;
    QPointer<QMessageBox> m_leaveQuestion;
    bool m_bDrawingEmptyPage = false;
};

} // namespace kestrel
