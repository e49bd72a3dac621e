#include "ui/SchemeGate.h"

#include "base/ConsoleLine.h"

#include <QFileInfo>

namespace kestrel {

namespace {

bool IsWebAddress(const QUrl& url)
{
    return url.isValid() && (url.scheme() == QLatin1String("http") || url.scheme() == QLatin1String("https"));
}

void Refuse(const QString& line)
{
    PrintLine(line.toStdString());
}

} // namespace

CSchemeGate::CSchemeGate(const QString& localFolder)
{
    if (localFolder.isEmpty())
        return;
    const QFileInfo folder(localFolder);
    if (folder.isDir())
        m_folder = folder.canonicalFilePath();
    else
        Refuse(QStringLiteral("Local folder \"%1\" is not a folder: no local files are opened").arg(localFolder));
}

bool CSchemeGate::IsInsideLocalFolder(const QUrl& url) const
{
    if (m_folder.isEmpty() || !url.isValid() || !url.isLocalFile() || !url.host().isEmpty())
        return false;
    // The real path, so that neither ".." nor a link leads out of the folder.
    const QString path = QFileInfo(url.toLocalFile()).canonicalFilePath();
    return !path.isEmpty()
        && (path == m_folder || path.startsWith(m_folder.endsWith(QLatin1Char('/')) ? m_folder : m_folder + QLatin1Char('/')));
}

bool CSchemeGate::MayNavigate(const QUrl& url) const
{
    if (IsWebAddress(url) || IsInsideLocalFolder(url))
        return true;
    if (url.isLocalFile() && !m_folder.isEmpty())
        Refuse(QStringLiteral("Not opened: \"%1\" is not inside the local folder %2").arg(url.toString(), m_folder));
    else
        Refuse(QStringLiteral("Not opened: \"%1\" is not an address of http, https").arg(url.toString()));
    return false;
}

bool MayOpenOutside(const QUrl& url)
{
    if (IsWebAddress(url))
        return true;
    Refuse(QStringLiteral("New window not opened: \"%1\" is not an address of http, https").arg(url.toString()));
    return false;
}

} // namespace kestrel
