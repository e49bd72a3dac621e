#include "tests/support/TestHttpServer.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <list>
#include <netinet/in.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace kestrel::test {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kMaxConnections = 512;
constexpr std::size_t kRequestLimit = 64 * 1024;
constexpr std::chrono::seconds kRequestWait{30};
// The longest a connection is held: silent, delayed or held open.
constexpr std::chrono::minutes kLongestHold{10};
constexpr int kAcceptPollMs = 100;
constexpr std::chrono::milliseconds kSingleWorkerPoll{10};

const char* Reason(int status)
{
    switch (status) {
    case 200: return "OK";
    case 302: return "Found";
    case 401: return "Unauthorized";
    case 404: return "Not Found";
    default: return "Answer";
    }
}

std::string Hex(std::size_t value)
{
    char text[20];
    std::snprintf(text, sizeof text, "%zx", value);
    return text;
}

std::string Lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

std::string Trimmed(const std::string& text)
{
    const std::size_t first = text.find_first_not_of(" \t");
    return first == std::string::npos ? std::string() : text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

// The request head up to its blank line: the request line and the headers.
Request ParseHead(const std::string& head, const std::string& client)
{
    Request request;
    request.client = client;
    std::size_t lineEnd = head.find("\r\n");
    const std::string requestLine = head.substr(0, lineEnd);
    const std::size_t targetStart = requestLine.find(' ');
    if (targetStart != std::string::npos)
        request.target = requestLine.substr(targetStart + 1, requestLine.find(' ', targetStart + 1) - targetStart - 1);
    request.path = request.target.substr(0, request.target.find('?'));
    while (lineEnd != std::string::npos && lineEnd + 2 < head.size()) {
        const std::size_t start = lineEnd + 2;
        lineEnd = head.find("\r\n", start);
        const std::string line = head.substr(start, lineEnd - start);
        const std::size_t colon = line.find(':');
        if (colon != std::string::npos)
            request.headers.emplace_back(Lower(line.substr(0, colon)), Trimmed(line.substr(colon + 1)));
    }
    return request;
}

std::string Head(const Reply& reply)
{
    std::string head = "HTTP/1.1 " + std::to_string(reply.status) + " " + Reason(reply.status) + "\r\n";
    if (!reply.contentType.empty())
        head += "Content-Type: " + reply.contentType + "\r\n";
    head += reply.chunked ? std::string("Transfer-Encoding: chunked\r\n")
                          : "Content-Length: " + std::to_string(reply.length.value_or(reply.body.size())) + "\r\n";
    head += reply.headers + "Cache-Control: no-store\r\n";
    return head + (reply.singleWorker ? "\r\n" : "Connection: close\r\n\r\n");
}

} // namespace

std::string Request::Header(const std::string& name) const
{
    for (auto it = headers.rbegin(); it != headers.rend(); ++it)
        if (it->first == name)
            return it->second;
    return {};
}

// One accepted connection, plain or TLS, whose every wait ends when the
// server stops, the client goes or the deadline passes.
class CTestHttpServer::Connection {
public:
    Connection(int fd, int stopEvent, SSL_CTX* tls) : m_fd(fd), m_stopEvent(stopEvent)
    {
        if (tls != nullptr) {
            m_ssl = SSL_new(tls);
            SSL_set_fd(m_ssl, m_fd);
        }
    }
    ~Connection()
    {
        if (m_ssl != nullptr)
            SSL_shutdown(m_ssl);
        SSL_free(m_ssl);
        close(m_fd);
    }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    bool Handshake(Clock::time_point deadline)
    {
        if (m_ssl == nullptr)
            return true;
        int done = 0;
        while ((done = SSL_accept(m_ssl)) != 1 && Retry(done, POLLIN, deadline)) {
        }
        return done == 1;
    }

    // Some bytes; 0 when the client closed, -1 on error, stop or deadline.
    long Read(char* buffer, std::size_t size, Clock::time_point deadline)
    {
        for (;;) {
            const long got = m_ssl != nullptr ? SSL_read(m_ssl, buffer, int(size)) : recv(m_fd, buffer, size, MSG_DONTWAIT);
            if (got > 0)
                return got;
            if (m_ssl != nullptr ? SSL_get_error(m_ssl, int(got)) == SSL_ERROR_ZERO_RETURN : got == 0)
                return 0;
            if (!Retry(int(got), POLLIN, deadline))
                return -1;
        }
    }

    bool Write(const std::string& bytes, Clock::time_point deadline)
    {
        std::size_t sent = 0;
        while (sent < bytes.size()) {
            const long put = m_ssl != nullptr ? SSL_write(m_ssl, bytes.data() + sent, int(bytes.size() - sent))
                                              : send(m_fd, bytes.data() + sent, bytes.size() - sent, MSG_DONTWAIT | MSG_NOSIGNAL);
            if (put > 0)
                sent += std::size_t(put);
            else if (!Retry(int(put), POLLOUT, deadline))
                return false;
        }
        return true;
    }

    // Waits until the client closes, the server stops or the deadline passes.
    void WaitForClose(Clock::time_point deadline) { Wait(POLLRDHUP, deadline); }

    // Waits until the deadline; false when the server stopped or the client
    // went first.
    bool Sleep(Clock::time_point deadline) { return !Wait(POLLRDHUP, deadline) && Clock::now() >= deadline; }

private:
    // After a call that did nothing: waits as the call needs (a plain socket
    // for `events`); false when it cannot go on.
    bool Retry(int result, short events, Clock::time_point deadline)
    {
        if (m_ssl == nullptr)
            return result < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && Wait(events, deadline);
        switch (SSL_get_error(m_ssl, result)) {
        case SSL_ERROR_WANT_READ: return Wait(POLLIN, deadline);
        case SSL_ERROR_WANT_WRITE: return Wait(POLLOUT, deadline);
        default: return false;
        }
    }

    // False when the server stopped or the deadline passed first.
    bool Wait(short events, Clock::time_point deadline)
    {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            return false;
        pollfd watched[] = {{m_stopEvent, POLLIN, 0}, {m_fd, events, 0}};
        return poll(watched, 2, int(left)) > 0 && watched[0].revents == 0;
    }

    const int m_fd;
    const int m_stopEvent;
    SSL* m_ssl = nullptr;
};

struct CTestHttpServer::Worker {
    std::thread thread;
    std::atomic<bool> done{false};
};

CTestHttpServer::CTestHttpServer(const std::string& address, const std::string& certificateFile,
                                 const std::string& keyFile)
    : m_address(address)
{
    if (!certificateFile.empty()) {
        m_tls = SSL_CTX_new(TLS_server_method());
        if (SSL_CTX_use_certificate_chain_file(m_tls, certificateFile.c_str()) != 1
            || SSL_CTX_use_PrivateKey_file(m_tls, keyFile.c_str(), SSL_FILETYPE_PEM) != 1)
            return;
    }
    m_stopEvent = eventfd(0, EFD_CLOEXEC);
    m_listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in bound{};
    bound.sin_family = AF_INET;
    socklen_t length = sizeof bound;
    if (m_stopEvent < 0 || m_listener < 0 || inet_pton(AF_INET, address.c_str(), &bound.sin_addr) != 1
        || bind(m_listener, reinterpret_cast<sockaddr*>(&bound), sizeof bound) != 0 || listen(m_listener, SOMAXCONN) != 0
        || getsockname(m_listener, reinterpret_cast<sockaddr*>(&bound), &length) != 0) {
        close(m_listener);
        m_listener = -1;
        return;
    }
    m_port = ntohs(bound.sin_port);
    m_acceptor = std::thread(&CTestHttpServer::Accept, this);
}

CTestHttpServer::~CTestHttpServer()
{
    if (m_stopEvent >= 0)
        eventfd_write(m_stopEvent, 1);
    if (m_acceptor.joinable())
        m_acceptor.join();
    if (m_listener >= 0)
        close(m_listener);
    if (m_stopEvent >= 0)
        close(m_stopEvent);
    SSL_CTX_free(m_tls);
}

std::string CTestHttpServer::Url(const std::string& path) const
{
    return (m_tls != nullptr ? "https://" : "http://") + m_address + ":" + std::to_string(m_port) + path;
}

void CTestHttpServer::Answer(const std::string& path, Reply reply)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_table.insert_or_assign(path, std::move(reply));
}

void CTestHttpServer::AnswerOthers(Reply reply)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_others = std::move(reply);
}

std::string CTestHttpServer::AnswerAtNewPath(Reply reply)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const std::string path = "/answer" + std::to_string(m_table.size());
    m_table.insert_or_assign(path, std::move(reply));
    return path;
}

std::vector<Request> CTestHttpServer::Requests() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_log;
}

int CTestHttpServer::RequestCount(const std::string& path) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return int(std::count_if(m_log.begin(), m_log.end(), [&](const Request& request) { return request.path == path; }));
}

int CTestHttpServer::RequestCount() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return int(m_log.size());
}

std::string CTestHttpServer::Header(const std::string& path, const std::string& name) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto last = std::find_if(m_log.rbegin(), m_log.rend(), [&](const Request& request) { return request.path == path; });
    return last != m_log.rend() ? last->Header(name) : std::string();
}

void CTestHttpServer::Accept()
{
    // Signals go to the test's own threads: here they would only interrupt
    // waits, or end the process when a client goes while TLS writes. The
    // connections' threads inherit this.
    sigset_t all;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, nullptr);
    std::list<Worker> workers;
    pollfd watched[] = {{m_stopEvent, POLLIN, 0}, {m_listener, POLLIN, 0}};
    while (poll(watched, 2, kAcceptPollMs) >= 0 && watched[0].revents == 0) {
        workers.remove_if([](Worker& worker) {
            if (!worker.done)
                return false;
            worker.thread.join();
            return true;
        });
        if ((watched[1].revents & POLLIN) == 0)
            continue;
        sockaddr_in peer{};
        socklen_t length = sizeof peer;
        const int fd = accept4(m_listener, reinterpret_cast<sockaddr*>(&peer), &length, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) {
            // Out of descriptors, say: a pause, not a busy loop.
            poll(watched, 1, kAcceptPollMs);
            continue;
        }
        ++m_connections;
        if (workers.size() >= kMaxConnections) {
            close(fd);
            continue;
        }
        char client[INET_ADDRSTRLEN] = {};
        inet_ntop(AF_INET, &peer.sin_addr, client, sizeof client);
        Worker& worker = workers.emplace_back();
        // A list's elements stay where they are: the thread may mark its own.
        worker.thread = std::thread([this, fd, &done = worker.done, address = std::string(client)] {
            Connection connection(fd, m_stopEvent, m_tls);
            Serve(connection, address);
            done = true;
        });
    }
    for (Worker& worker : workers)
        worker.thread.join();
}

void CTestHttpServer::Serve(Connection& connection, const std::string& client)
{
    const auto requestDeadline = Clock::now() + kRequestWait;
    if (!connection.Handshake(requestDeadline))
        return;
    std::string bytes;
    std::size_t headEnd = std::string::npos;
    char buffer[4096];
    while ((headEnd = bytes.find("\r\n\r\n")) == std::string::npos) {
        const long got = bytes.size() < kRequestLimit ? connection.Read(buffer, sizeof buffer, requestDeadline) : -1;
        if (got <= 0)
            return;
        bytes.append(buffer, std::size_t(got));
    }
    const Reply reply = ReplyFor(ParseHead(bytes.substr(0, headEnd + 2), client));
    const auto holdDeadline = Clock::now() + kLongestHold;
    if (reply.silent) {
        connection.WaitForClose(holdDeadline);
        return;
    }
    if (!connection.Sleep(std::min(Clock::now() + reply.delay, holdDeadline))
        || (reply.singleWorker && !TakeSingleWorker(connection, holdDeadline)))
        return;
    const std::string body = reply.chunked ? Hex(reply.body.size()) + "\r\n" + reply.body + "\r\n0\r\n\r\n" : reply.body;
    const std::size_t piece = std::max<std::size_t>(1, (body.size() + reply.pieces - 1) / std::max(1, reply.pieces));
    bool going = connection.Write(Head(reply), holdDeadline);
    for (std::size_t start = 0; going && start < body.size(); start += piece)
        going = connection.Sleep(Clock::now() + reply.pause) && connection.Write(body.substr(start, piece), holdDeadline);
    if (going && reply.holdOpen)
        connection.WaitForClose(holdDeadline);
    if (reply.singleWorker) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_singleWorkerBusy = false;
    }
}

Reply CTestHttpServer::ReplyFor(const Request& request)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_log.push_back(request);
    const auto entry = m_table.find(request.path);
    const Reply& reply = entry != m_table.end() ? entry->second : m_others;
    if (!reply.authorization.empty() && request.Header("authorization") != reply.authorization)
        return Reply("login", 401).Type("text/plain").Header("WWW-Authenticate: Basic realm=\"lessons\"");
    return reply;
}

bool CTestHttpServer::TakeSingleWorker(Connection& connection, Clock::time_point deadline)
{
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (!m_singleWorkerBusy)
                return m_singleWorkerBusy = true;
        }
        const auto next = Clock::now() + kSingleWorkerPoll;
        if (next > deadline || !connection.Sleep(next))
            return false;
    }
}

int RefusingPort()
{
    const int probe = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int port = 0;
    if (bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0
        && getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    close(probe);
    return port;
}

} // namespace kestrel::test
