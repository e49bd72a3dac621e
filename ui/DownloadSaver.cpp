#include "ui/DownloadSaver.h"

#include "base/ConsoleLine.h"
#include "ui/DownloadFileName.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QWebEngineDownloadRequest>
#include <QWebEngineProfile>

namespace kestrel {

namespace {

// Read and write for the owner, read for the rest; never executable.
constexpr QFile::Permissions kSavedPermissions =
    QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther;

} // namespace

CDownloadSaver::CDownloadSaver(QWebEngineProfile* profile, bool on, QObject* parent)
    : QObject(parent)
    , m_bOn(on)
{
    connect(profile, &QWebEngineProfile::downloadRequested, this, &CDownloadSaver::OnRequested);
}

void CDownloadSaver::OnRequested(QWebEngineDownloadRequest* request)
{
    const QString name = request->suggestedFileName();
    if (!m_bOn) {
        Refuse(request, QStringLiteral("downloads are off (下载=关)"), QStringLiteral("下载已关闭，未保存：%1").arg(name));
        return;
    }
    switch (CheckDownloadName(name.toStdString())) {
    case DownloadRefusal::kSaved:
        break;
    case DownloadRefusal::kNoName:
        Refuse(request, QStringLiteral("it has no file name"), QStringLiteral("未保存：下载的文件没有名字"));
        return;
    case DownloadRefusal::kPathParts:
        Refuse(request, QStringLiteral("its name holds path parts"), QStringLiteral("未保存：文件名不允许：%1").arg(name));
        return;
    case DownloadRefusal::kRefusedKind:
        Refuse(request, QStringLiteral("programs, scripts and packages are not saved"),
               QStringLiteral("未保存：不允许下载程序或安装包：%1").arg(name));
        return;
    }
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
    if (folder.isEmpty() || !QDir().mkpath(folder)) {
        Refuse(request, QStringLiteral("there is no download folder"), QStringLiteral("未保存：没有下载文件夹：%1").arg(name));
        return;
    }
    const QDir dir(folder);
    const QString unique = QString::fromStdString(UniqueDownloadName(name.toStdString(), [&](const std::string& candidate) {
        const QString path = dir.filePath(QString::fromStdString(candidate));
        return QFileInfo::exists(path) || m_pendingPaths.contains(path);
    }));
    if (unique.isEmpty()) {
        Refuse(request, QStringLiteral("every numbered name is taken"), QStringLiteral("未保存：同名文件太多：%1").arg(name));
        return;
    }
    m_pendingPaths.insert(dir.filePath(unique));
    request->setDownloadDirectory(folder);
    request->setDownloadFileName(unique);
    connect(request, &QWebEngineDownloadRequest::receivedBytesChanged, this, [this, request] {
        emit Progress(request->receivedBytes(), qMax<qint64>(request->totalBytes(), 0));
    });
    connect(request, &QWebEngineDownloadRequest::isFinishedChanged, this, [this, request] { OnFinished(request); });
    request->accept();
}

void CDownloadSaver::Refuse(QWebEngineDownloadRequest* request, const QString& why, const QString& text)
{
    PrintLine(QStringLiteral("Download not saved: \"%1\": %2").arg(request->suggestedFileName(), why).toStdString());
    request->cancel();
    emit Outcome(text);
}

void CDownloadSaver::OnFinished(QWebEngineDownloadRequest* request)
{
    const QString path = QDir(request->downloadDirectory()).filePath(request->downloadFileName());
    m_pendingPaths.remove(path);
    if (request->state() == QWebEngineDownloadRequest::DownloadCompleted) {
        // The engine leaves the umask's bits; a saved file must never run.
        QFile::setPermissions(path, kSavedPermissions);
        PrintLine(QStringLiteral("Download saved: %1").arg(path).toStdString());
        emit Outcome(QStringLiteral("已保存到下载文件夹：%1").arg(request->downloadFileName()));
    } else {
        PrintLine(QStringLiteral("Download failed: %1: %2").arg(path, request->interruptReasonString()).toStdString());
        emit Outcome(QStringLiteral("下载失败：%1").arg(request->downloadFileName()));
    }
}

} // namespace kestrel
