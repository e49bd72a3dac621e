#pragma once

#include <QString>
#include <QUrl>

namespace kestrel {

// The one rule for which addresses the program opens, so that nothing a
// broadcast or a page sends can show local files or start another program:
// http and https, and file addresses only inside the one folder the
// settings may name. A refusal prints a line saying why.
class CSchemeGate {
public:
    // `localFolder` is the folder as the settings name it; empty for none.
    // A folder that does not exist opens nothing, and a line says so.
    explicit CSchemeGate(const QString& localFolder = QString());

    // Whether the browser may show `url`.
    bool MayNavigate(const QUrl& url) const;
    // Whether `url` names the local folder or something in it, symbolic
    // links resolved. Silent.
    bool IsInsideLocalFolder(const QUrl& url) const;
    // The folder's real path; empty when local files are off.
    const QString& LocalFolder() const { return m_folder; }

private:
    QString m_folder;
};

// Whether a new window may show `url` in the desktop's own browser: http and
// https only, since a file handed to the desktop could run as a program.
bool MayOpenOutside(const QUrl& url);

} // namespace kestrel
