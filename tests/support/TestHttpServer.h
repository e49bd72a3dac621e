#pragma once

#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

typedef struct ssl_ctx_st SSL_CTX;

namespace kestrel::test {

// How the test server answers one path: the status, headers and body, and
// the faults a careless or slow server commits.
struct Reply {
    explicit Reply(std::string body = {}, int status = 200) : status(status), body(std::move(body)) {}

    Reply& Type(std::string value) { contentType = std::move(value); return *this; }
    // One more header line, without its "\r\n".
    Reply& Header(const std::string& line) { headers += line + "\r\n"; return *this; }
    // A Content-Length other than the body's: longer, shorter or negative.
    Reply& Length(long long announced) { length = announced; return *this; }
    // The body as one chunk, without a Content-Length.
    Reply& Chunked() { chunked = true; return *this; }
    Reply& Delay(std::chrono::milliseconds wait) { delay = wait; return *this; }
    // Reads the request and never answers, not even with a head.
    Reply& Silent() { silent = true; return *this; }
    // The body in `count` pieces, each after a pause.
    Reply& Slowly(int count, std::chrono::milliseconds each) { pieces = count; pause = each; return *this; }
    // After the answer the connection stays open until the client closes it.
    Reply& HoldOpen() { holdOpen = true; return *this; }
    // Keep-alive, from a server with a single worker: such answers come one
    // at a time, each holding the worker until its client closes.
    Reply& SingleWorker() { singleWorker = holdOpen = true; return *this; }
    // Requests without this Authorization value get 401 and a Basic challenge.
    Reply& Login(std::string value) { authorization = std::move(value); return *this; }

    int status;
    std::string body;
    std::string contentType = "text/html; charset=utf-8";
    std::string headers;
    std::optional<long long> length;
    bool chunked = false;
    std::chrono::milliseconds delay{0};
    bool silent = false;
    int pieces = 1;
    std::chrono::milliseconds pause{0};
    bool holdOpen = false;
    bool singleWorker = false;
    std::string authorization;
};

// One request as the server read it.
struct Request {
    std::string target; // as on the request line, query included
    std::string path;   // the target without its query
    std::string client; // the peer's address
    std::vector<std::pair<std::string, std::string>> headers; // names in lower case

    // The value of the named header (lower case), empty when it was not sent.
    std::string Header(const std::string& name) const;
};

// A scripted HTTP server for tests and benchmarks on its own threads, one
// per connection: paths answered from a table, every request logged with its
// headers. It listens on 127.0.0.1 unless given another address (an end-to-end
// test's own network namespace), serves https when given a certificate and
// key (PEM files), and stops promptly with connections still open.
class CTestHttpServer {
public:
    explicit CTestHttpServer(const std::string& address = "127.0.0.1", const std::string& certificateFile = {},
                             const std::string& keyFile = {});
    ~CTestHttpServer();
    CTestHttpServer(const CTestHttpServer&) = delete;
    CTestHttpServer& operator=(const CTestHttpServer&) = delete;

    bool Started() const { return m_listener >= 0; }
    int Port() const { return m_port; }
    // "http://ADDRESS:PORT" (https with a certificate) followed by path.
    std::string Url(const std::string& path) const;

    void Answer(const std::string& path, Reply reply);
    // The answer for paths not in the table; by default 404.
    void AnswerOthers(Reply reply);
    // Answers `reply` at a path of its own, which it returns.
    std::string AnswerAtNewPath(Reply reply);

    std::vector<Request> Requests() const;
    int RequestCount(const std::string& path) const;
    int RequestCount() const;
    // The named header (lower case) of the last request for path; empty when
    // it was not sent or the path not asked for.
    std::string Header(const std::string& path, const std::string& name) const;
    int Connections() const { return m_connections; }

private:
    class Connection;
    struct Worker;

    void Accept();
    void Serve(Connection& connection, const std::string& client);
    // Logs the request and picks its answer.
    Reply ReplyFor(const Request& request);
    // False when the client went or the server stopped first.
    bool TakeSingleWorker(Connection& connection, std::chrono::steady_clock::time_point deadline);

    const std::string m_address;
    int m_listener = -1;
    int m_port = 0;
    // Readable once the server stops: every wait watches it.
    int m_stopEvent = -1;
    SSL_CTX* m_tls = nullptr;
    std::atomic<int> m_connections{0};
    std::thread m_acceptor;

    mutable std::mutex m_mutex;
    std::map<std::string, Reply> m_table;
    Reply m_others{"not here", 404};
    std::vector<Request> m_log;
    bool m_singleWorkerBusy = false;
};

// A loopback port on which nobody listens.
int RefusingPort();

} // namespace kestrel::test
