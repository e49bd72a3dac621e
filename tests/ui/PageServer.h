#pragma once

#include <QHash>
#include <QObject>
#include <QSet>
#include <QTcpServer>
#include <QUrl>

class QTcpSocket;

namespace kestrel {

// A small web server on 127.0.0.1 for the window tests: it serves the pages
// it was given, counts the requests for each path, and can hold a page
// that never finishes loading or cut one short.
class PageServer : public QObject {
    Q_OBJECT

public:
    PageServer();
    ~PageServer() override;

    bool IsListening() const { return m_server.isListening(); }
    QUrl Url(const QString& path) const;
    void AddPage(const QString& path, const QByteArray& html);
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

private:
    void OnNewConnection();
    void OnReadyRead(QTcpSocket* socket);
    void Answer(QTcpSocket* socket, const QString& path);

    QTcpServer m_server;
    QHash<QString, QByteArray> m_pages;
    QSet<QString> m_endlessPages;
    QSet<QString> m_silentPages;
    QHash<QString, qsizetype> m_announcedLengths;
    QHash<QString, QByteArray> m_redirects;
    QHash<QString, int> m_requests;
    QHash<QString, QByteArray> m_userAgents;
    QHash<QTcpSocket*, QByteArray> m_pending;
};

} // namespace kestrel
