#pragma once

#include <QObject>
#include <QSet>
#include <QString>

class QWebEngineDownloadRequest;
class QWebEngineProfile;

namespace kestrel {

// Saves what pages of the profile download, without a question, into the
// user's download folder (XDG) under the suggested name made unique. A
// saved file is never opened, run or left executable; refused names and
// kinds are cancelled. Each outcome is a line on standard output and a
// short Chinese line for the status bar.
class CDownloadSaver : public QObject {
    Q_OBJECT

public:
    // `on` false: every download is cancelled ("下载=关").
    CDownloadSaver(QWebEngineProfile* profile, bool on, QObject* parent);

signals:
    // Bytes received so far and the announced size (0 while unknown).
    void Progress(qint64 received, qint64 total);
    // A download was saved, refused or failed; `text` says which, in Chinese.
    void Outcome(const QString& text);

private:
    void OnRequested(QWebEngineDownloadRequest* request);
    void Refuse(QWebEngineDownloadRequest* request, const QString& why, const QString& text);
    void OnFinished(QWebEngineDownloadRequest* request);

    bool m_bOn;
    // Names given to downloads still under way: not on disk yet, but taken.
    QSet<QString> m_pendingPaths;
};

} // namespace kestrel
