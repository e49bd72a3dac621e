#include "app/ChineseLocale.h"

#include "base/ConsoleLine.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace kestrel {

void UseChineseLocale(QCoreApplication& app)
{
    const QLocale chinese(QLocale::Chinese, QLocale::China);
    // The engine takes its page language from the default locale at start.
    QLocale::setDefault(chinese);
    const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    for (const char* catalogue : {"qtbase", "qtwebengine"}) {
        auto* translator = new QTranslator(&app);
        if (translator->load(chinese, QString::fromLatin1(catalogue), QStringLiteral("_"), folder)) {
            QCoreApplication::installTranslator(translator);
        } else {
            PrintLine(QStringLiteral("No Chinese translation of Qt's %1 texts in %2").arg(QString::fromLatin1(catalogue), folder).toStdString());
            delete translator;
        }
    }
}

} // namespace kestrel
