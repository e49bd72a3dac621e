#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

struct MHD_Connection;
struct MHD_Daemon;

namespace kestrel {

// What the school network may ask of one of Kestrel's web servers. Every
// machine on it may be hostile, so each limit is enforced while reading,
// before anything is kept.
struct HttpServerLimits {
    // The request line and all headers together: the memory a connection
    // may hold, which also keeps the library's note of each header.
    std::size_t largestHead = 16 << 10;
    // Open connections from one address (browsers open six), and in all.
    // 127.0.0.1 counts only towards the total: it is this machine itself,
    // or a web server in front that passes on every pupil's requests.
    unsigned connectionsPerAddress = 16;
    unsigned connections = 2000;
    // A connection that sends or takes nothing for this long is closed.
    unsigned idleSeconds = 10;
    // 0: a thread for each connection, for handlers that may take a while
    // (a password check, a picture to re-encode); otherwise this many
    // threads share every connection, for quick answers to many browsers.
    unsigned threads = 0;
};

// One request, once its head is in (and, for the handler, its whole body).
class HttpRequest {
public:
    const std::string& Method() const { return m_method; }
    // The decoded path without the query; never holds a NUL or control
    // byte. For a path refused for holding one, its raw text with such
    // bytes shown as '?', for the log.
    const std::string& Path() const { return m_path; }
    const std::string& RemoteAddress() const { return m_remoteAddress; }
    // A header's value by its name in any letter case; empty when absent.
    std::string_view Header(const char* name) const;
    bool HasHeader(const char* name) const;
    // A query argument's decoded value; empty when absent.
    std::string_view Query(const char* name) const;
    // The body, at most the limit the admission gave it.
    const std::string& Body() const { return m_body; }

private:
    friend class CHttpServer;
    MHD_Connection* m_connection = nullptr;
    std::string m_method;
    std::string m_path;
    std::string m_remoteAddress;
    std::string m_body;
};

struct HttpResponse {
    int status = 200;
    std::string contentType;
    std::string body;
    // Instead of the body: `fileLength` bytes of an open file from
    // `fileOffset`; the server closes the descriptor.
    int fileDescriptor = -1;
    std::uint64_t fileOffset = 0;
    std::uint64_t fileLength = 0;
    std::vector<std::pair<std::string, std::string>> headers;
};

// An HTTP/1.1 server on libmicrohttpd: keep-alive and pipelined requests in
// order, bodies only with a Content-Length (no chunked or encoded request
// bodies), and "X-Content-Type-Options: nosniff" on every answer.
class CHttpServer {
public:
    // Called once a request's head is in, before any of its body is read:
    // true with the most body bytes it may send (0 for none), or false with
    // `refusal` filled, to answer at once and read nothing more.
    using Admission = std::function<bool(const HttpRequest& head, std::size_t& largestBody, HttpResponse& refusal)>;
    // Answers a request whose body is in.
    using Handler = std::function<void(const HttpRequest& request, HttpResponse& response)>;
    // Sees every answer once it is sent, for the log.
    using Logger = std::function<void(const HttpRequest& request, int status)>;

    CHttpServer(HttpServerLimits limits, Admission admission, Handler handler, Logger logger = nullptr);
    ~CHttpServer();
    CHttpServer(const CHttpServer&) = delete;
    CHttpServer& operator=(const CHttpServer&) = delete;

    // Listens on address:port (IPv4), over TLS when a PEM certificate and
    // key are given. False with `error` set when it cannot.
    bool Start(const std::string& address, int port, std::string& error, const std::string& certificatePem = "",
        const std::string& keyPem = "");
    void Stop();

private:
    // libmicrohttpd's callbacks, which see the request's insides.
    struct Callbacks;
    struct Exchange;

    HttpServerLimits m_limits;
    Admission m_admission;
    Handler m_handler;
    Logger m_logger;
    MHD_Daemon* m_daemon = nullptr;
    // Open connections by IPv4 address, for the limit per address.
    std::mutex m_addressesMutex;
    std::map<std::uint32_t, unsigned> m_connectionsByAddress;
};

} // namespace kestrel
