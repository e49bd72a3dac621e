#include "tests/ui/PageServer.h"

#include <QSslServer>
#include <QTcpSocket>

namespace kestrel {

namespace {

constexpr int kMaxRequestSize = 16 * 1024;

QByteArray Response(const QByteArray& status, const QByteArray& body, qsizetype announcedLength,
                    const QByteArray& contentType = "text/html; charset=utf-8", const QByteArray& extraHeaders = QByteArray())
{
    return "HTTP/1.1 " + status + "\r\nContent-Type: " + contentType + "\r\nContent-Length: " +
        QByteArray::number(announcedLength) + "\r\n" + extraHeaders +
        "Cache-Control: no-store\r\nConnection: close\r\n\r\n" + body;
}

} // namespace

PageServer::PageServer(const QSslConfiguration& tls)
    : m_bTls(!tls.localCertificate().isNull())
{
    if (m_bTls) {
        auto* secure = new QSslServer;
        secure->setSslConfiguration(tls);
        m_server.reset(secure);
        connect(secure, &QSslServer::pendingConnectionAvailable, this, &PageServer::OnNewConnection);
    } else {
        m_server = std::make_unique<QTcpServer>();
        connect(m_server.get(), &QTcpServer::newConnection, this, &PageServer::OnNewConnection);
    }
    m_server->listen(QHostAddress::LocalHost, 0);
}

PageServer::~PageServer()
{
    // Connections still open (a silent or endless page) belong to the
    // listening server and close with it, after this object's own members
    // are gone: they must not report to it any more.
    for (QTcpSocket* socket : m_server->findChildren<QTcpSocket*>())
        disconnect(socket, nullptr, this, nullptr);
}

QUrl PageServer::Url(const QString& path) const
{
    return QUrl(QStringLiteral("%1://127.0.0.1:%2%3")
                    .arg(m_bTls ? QStringLiteral("https") : QStringLiteral("http"))
                    .arg(m_server->serverPort())
                    .arg(path));
}

void PageServer::AddPage(const QString& path, const QByteArray& html)
{
    m_pages.insert(path, html);
}

void PageServer::AddFile(const QString& path, const QByteArray& contentType, const QByteArray& body,
                         const QByteArray& extraHeaders)
{
    m_pages.insert(path, body);
    m_contentTypes.insert(path, contentType);
    m_extraHeaders.insert(path, extraHeaders);
}

void PageServer::RequireLogin(const QString& path, const QByteArray& user, const QByteArray& password)
{
    m_logins.insert(path, "Basic " + (user + ':' + password).toBase64());
}

void PageServer::AddEndlessPage(const QString& path)
{
    m_endlessPages.insert(path);
}

void PageServer::AddRedirect(const QString& path, const QByteArray& location)
{
    m_redirects.insert(path, location);
}

void PageServer::AddSilentPage(const QString& path)
{
    m_silentPages.insert(path);
}

void PageServer::AddCutPage(const QString& path, const QByteArray& body, qsizetype announcedLength)
{
    m_pages.insert(path, body);
    m_announcedLengths.insert(path, announcedLength);
}

void PageServer::OnNewConnection()
{
    while (QTcpSocket* socket = m_server->nextPendingConnection()) {
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { OnReadyRead(socket); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            m_pending.remove(socket);
            socket->deleteLater();
        });
    }
}

void PageServer::OnReadyRead(QTcpSocket* socket)
{
    QByteArray& request = m_pending[socket];
    request += socket->readAll();
    if (request.size() > kMaxRequestSize) {
        socket->abort();
        return;
    }
    const qsizetype headerEnd = request.indexOf("\r\n\r\n");
    if (headerEnd < 0)
        return;
    // "GET /path HTTP/1.1"
    const QList<QByteArray> requestLine = request.left(request.indexOf("\r\n")).split(' ');
    const QString path = requestLine.size() >= 2 ? QUrl(QString::fromLatin1(requestLine[1])).path() : QString();
    m_lastAuthorization.clear();
    for (const QByteArray& line : request.left(headerEnd).split('\n')) {
        if (line.toLower().startsWith("user-agent:"))
            m_userAgents[path] = line.mid(int(sizeof "user-agent:") - 1).trimmed();
        if (line.toLower().startsWith("accept-language:"))
            m_acceptLanguages[path] = line.mid(int(sizeof "accept-language:") - 1).trimmed();
        if (line.toLower().startsWith("authorization:")) {
            m_lastAuthorization = line.mid(int(sizeof "authorization:") - 1).trimmed();
            m_authorizations[path].append(m_lastAuthorization);
        }
    }
    request.clear();
    ++m_requests[path];
    Answer(socket, path);
}

void PageServer::Answer(QTcpSocket* socket, const QString& path)
{
    if (m_silentPages.contains(path))
        return;
    if (m_endlessPages.contains(path)) {
        socket->write(Response("200 OK", "<html><body><p>loading", 1000000));
        return;
    }
    if (m_redirects.contains(path)) {
        socket->write("HTTP/1.1 302 Found\r\nLocation: " + m_redirects.value(path) +
                      "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
        socket->disconnectFromHost();
        return;
    }
    if (!m_pages.contains(path)) {
        socket->write(Response("404 Not Found", "not here", 8));
        socket->disconnectFromHost();
        return;
    }
    if (m_logins.contains(path) && m_lastAuthorization != m_logins.value(path)) {
        socket->write(Response("401 Unauthorized", "login", 5, "text/plain",
                               "WWW-Authenticate: Basic realm=\"lessons\"\r\n"));
        socket->disconnectFromHost();
        return;
    }
    const QByteArray& page = m_pages.value(path);
    socket->write(Response("200 OK", page, m_announcedLengths.value(path, page.size()),
                           m_contentTypes.value(path, "text/html; charset=utf-8"), m_extraHeaders.value(path)));
    socket->disconnectFromHost();
}

} // namespace kestrel
