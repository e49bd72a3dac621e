#pragma once

#include <QHash>
#include <QObject>
#include <QSet>
#include <QSslConfiguration>
#include <QTcpServer>
#include <QUrl>

#include <memory>

class QTcpSocket;

namespace kestrel {

// A small web server on 127.0.0.1 for the window tests: it serves the pages
// it was given, counts the requests for each path, and can hold a page
// that never finishes loading or cut one short, serve any content type and
// headers, and ask for a login. Given a TLS configuration, it serves https.
class PageServer : public QObject {
    Q_OBJECT

public:
    explicit PageServer(const QSslConfiguration& tls = QSslConfiguration());
    ~PageServer() override;

    bool IsListening() const { return m_server->isListening(); }
    QUrl Url(const QString& path) const;
    void AddPage(const QString& path, const QByteArray& html);
    // Serves `body` as `contentType` with `extraHeaders` ("Name: value\r\n" lines).
    void AddFile(const QString& path, const QByteArray& contentType, const QByteArray& body,
                 const QByteArray& extraHeaders = QByteArray());
    // The page answers 401 with a Basic challenge until a request carries
    // `user`:`password`.
    void RequireLogin(const QString& path, const QByteArray& user, const QByteArray& password);
    // The Authorization headers the requests for the path carried, in order.
    QList<QByteArray> Authorizations(const QString& path) const { return m_authorizations.value(path); }
    // Sends the headers and the start of the page, then nothing more.
    void AddEndlessPage(const QString& path);
    // Answers with a redirect to `location`.
    void AddRedirect(const QString& path, const QByteArray& location);
    // Reads the request and never answers it, not even with headers.
    void AddSilentPage(const QString& path);
    // Announces a longer body than it sends, then closes the connection.
    void AddCutPage(const QString& path, const QByteArray& body, qsizetype announcedLength);
    int RequestCount(const QString& path) const { return m_requests.value(path); }
    // The User-Agent of the last request for the path.
    QByteArray UserAgent(const QString& path) const { return m_userAgents.value(path); }
    // The Accept-Language of the last request for the path.
    QByteArray AcceptLanguage(const QString& path) const { return m_acceptLanguages.value(path); }

private:
    void OnNewConnection();
    void OnReadyRead(QTcpSocket* socket);
    void Answer(QTcpSocket* socket, const QString& path);

    std::unique_ptr<QTcpServer> m_server;
    bool m_bTls = false;
    QHash<QString, QByteArray> m_pages;
    QSet<QString> m_endlessPages;
    QSet<QString> m_silentPages;
    QHash<QString, qsizetype> m_announcedLengths;
    QHash<QString, QByteArray> m_redirects;
    QHash<QString, int> m_requests;
    QHash<QString, QByteArray> m_userAgents;
    QHash<QString, QByteArray> m_acceptLanguages;
    QHash<QString, QByteArray> m_contentTypes;
    QHash<QString, QByteArray> m_extraHeaders;
    QHash<QString, QByteArray> m_logins;
    QHash<QString, QList<QByteArray>> m_authorizations;
    QByteArray m_lastAuthorization;
    QHash<QTcpSocket*, QByteArray> m_pending;
};

} // namespace kestrel
