#include "tests/ui/LessonServer.h"

#include "tests/support/LinkRecordBuilder.h"

namespace kestrel {

void LessonServer::Serve(const QString& path, const QByteArray& body)
{
    m_server.Answer(path.toStdString(), test::Reply(body.toStdString()));
}

LinkRecord LessonServer::Lesson(const QString& name, int colour) const
{
    return Record(name, "caption of " + name, colour);
}

LinkRecord LessonServer::ChurnLink(int k, int change) const
{
    const QString name = QStringLiteral("lesson%1").arg(k);
    return Record(name, QStringLiteral("caption %1 of %2").arg(change).arg(name), k);
}

LinkRecord LessonServer::Record(const QString& name, const QString& caption, int colour) const
{
    return test::LinkRecordBuilder(name.toStdString())
        .Caption(caption.toStdString())
        .Url(Url("/" + name + ".html"))
        .HotPicture(Url(QStringLiteral("/hot%1.bmp").arg(colour)))
        .CoolPicture(Url(QStringLiteral("/cool%1.bmp").arg(colour)));
}

} // namespace kestrel
