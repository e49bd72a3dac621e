#pragma once

#include "base/LinkRecord.h"
#include "tests/support/TestHttpServer.h"

#include <QByteArray>
#include <QString>

#include <string>

namespace kestrel {

// The broadcaster's web server on 127.0.0.1 for the link tests, and the
// records that point at it: lesson NAME opens /NAME.html and shows the
// pictures /hotC.bmp and /coolC.bmp of its colour C.
class LessonServer {
public:
    bool Started() const { return m_server.Started(); }
    std::string Url(const QString& path) const { return m_server.Url(path.toStdString()); }
    void Serve(const QString& path, const QByteArray& body);
    int Requests(const QString& path) const { return m_server.RequestCount(path.toStdString()); }
    test::CTestHttpServer& Server() { return m_server; }

    LinkRecord Lesson(const QString& name, int colour = 0) const;
    // Lesson k of twenty, its caption naming the change it carries.
    LinkRecord ChurnLink(int k, int change) const;

private:
    LinkRecord Record(const QString& name, const QString& caption, int colour) const;

    test::CTestHttpServer m_server;
};

} // namespace kestrel
