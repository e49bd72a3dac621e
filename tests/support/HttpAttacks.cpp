#include "tests/support/HttpAttacks.h"

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <future>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <zlib.h>

namespace kestrel::test {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr std::size_t kMiB = 1 << 20;

class Connection {
public:
    Connection(const std::string& from, int port) : m_fd(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0))
    {
        sockaddr_in local = {};
        local.sin_family = AF_INET;
        inet_pton(AF_INET, from.c_str(), &local.sin_addr);
        sockaddr_in server = {};
        server.sin_family = AF_INET;
        server.sin_port = htons(static_cast<std::uint16_t>(port));
        server.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        // A server that stops reading makes a send wait this long at most.
        const timeval wait = {1, 0};
        if (m_fd >= 0
            && (setsockopt(m_fd, SOL_SOCKET, SO_SNDTIMEO, &wait, sizeof wait) != 0
                || bind(m_fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0
                || connect(m_fd, reinterpret_cast<sockaddr*>(&server), sizeof server) != 0)) {
            close(m_fd);
            m_fd = -1;
        }
    }
    ~Connection()
    {
        if (m_fd >= 0)
            close(m_fd);
    }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // What was sent of `data`: less when the server closed or stopped reading.
    std::size_t Send(const std::string& data)
    {
        std::size_t sent = 0;
        ssize_t n = 0;
        while (m_fd >= 0 && sent < data.size() && (n = send(m_fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL)) > 0)
            sent += static_cast<std::size_t>(n);
        return sent;
    }

    // Waits up to `timeout` for more bytes; false at the end or on a reset.
    bool Receive(std::chrono::milliseconds timeout)
    {
        pollfd ready = {m_fd, POLLIN, 0};
        char buffer[64 << 10];
        const ssize_t n = m_fd >= 0 && poll(&ready, 1, static_cast<int>(timeout.count())) > 0
            ? recv(m_fd, buffer, sizeof buffer, 0)
            : 0;
        m_received.append(buffer, static_cast<std::size_t>(std::max<ssize_t>(n, 0)));
        return n > 0;
    }

    // Neither closed by the server nor reset.
    bool StillOpen()
    {
        pollfd ready = {m_fd, POLLIN, 0};
        char byte;
        return m_fd >= 0 && (poll(&ready, 1, 0) <= 0 || recv(m_fd, &byte, 1, MSG_PEEK) > 0);
    }

    std::string& Received() { return m_received; }

private:
    int m_fd;
    std::string m_received;
};

std::string HeaderValue(const std::string& head, const std::string& name)
{
    const char* at = strcasestr(head.c_str(), ("\r\n" + name + ":").c_str());
    if (at == nullptr)
        return std::string();
    const std::size_t start = std::min(head.find_first_not_of(' ', at - head.c_str() + name.size() + 3), head.size());
    return head.substr(start, head.find("\r\n", start) - start);
}

// Takes one whole answer off the front of what the connection received,
// reading more until `deadline`. Status 0 when none came whole.
Answer ReadAnswer(Connection& connection, Clock::time_point deadline)
{
    Answer answer;
    std::string& received = connection.Received();
    const auto readUntil = [&](const std::function<bool()>& done) {
        while (!done()) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0 || !connection.Receive(left))
                return false;
        }
        return true;
    };
    if (!readUntil([&] { return received.find("\r\n\r\n") != std::string::npos; }))
        return answer;
    const std::size_t bodyStart = received.find("\r\n\r\n") + 4;
    answer.head = received.substr(0, bodyStart - 2);
    const std::size_t length = std::strtoull(HeaderValue(answer.head, "content-length").c_str(), nullptr, 10);
    if (!readUntil([&] { return received.size() >= bodyStart + length; }))
        return answer;
    answer.body = received.substr(bodyStart, length);
    received.erase(0, bodyStart + length);
    if (answer.head.compare(0, 9, "HTTP/1.1 ") == 0 || answer.head.compare(0, 9, "HTTP/1.0 ") == 0)
        answer.status = std::atoi(answer.head.c_str() + 9);
    return answer;
}

// A request's head without the blank line that ends it.
std::string Head(const char* method, const std::string& path, const std::string& headers = "")
{
    return std::string(method) + " " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + headers;
}

std::string Get(const std::string& path, const std::string& headers = "")
{
    return Head("GET", path, headers) + "\r\n";
}

bool IsRefusal(int status)
{
    return status >= 400 && status < 500;
}

// One request, refused, and not answered as a web page.
AttackOutcome Refused(const AttackTarget& target, const std::string& request)
{
    const Answer answer = Ask(target.attacker, target.port, request, 5s);
    const std::string type = HeaderValue(answer.head, "content-type");
    return {IsRefusal(answer.status) && type.find("html") == std::string::npos,
        "answered " + std::to_string(answer.status) + " as \"" + type + "\""};
}

// Sends `head`, then `piece` again and again up to `total` bytes, until the
// server answers or stops taking them. Harmless when it refused or stopped
// reading before the end.
AttackOutcome Flood(const AttackTarget& target, const std::string& head, const std::string& piece, std::size_t total)
{
    Connection connection(target.attacker, target.port);
    std::size_t sent = connection.Send(head);
    const auto deadline = Clock::now() + 10s;
    bool answered = connection.Receive(300ms);
    for (std::size_t n = piece.size(); !answered && n == piece.size() && sent < total && Clock::now() < deadline;) {
        sent += n = connection.Send(piece);
        answered = connection.Receive(0ms);
    }
    const int status = ReadAnswer(connection, Clock::now() + 1s).status;
    return {IsRefusal(status) || (status == 0 && sent < total),
        "sent " + std::to_string(sent / kMiB) + " of " + std::to_string(total / kMiB) + " MiB, answered "
            + std::to_string(status)};
}

// 64 MiB of zeros in about 64 KB of gzip.
std::string GzipBomb()
{
    z_stream stream = {};
    deflateInit2(&stream, 9, Z_DEFLATED, 15 + 16, 9, Z_DEFAULT_STRATEGY);
    std::string zeros(kMiB, '\0');
    std::string body(256 << 10, '\0');
    stream.next_out = reinterpret_cast<Bytef*>(body.data());
    stream.avail_out = static_cast<uInt>(body.size());
    for (int i = 0; i < 64; ++i) {
        stream.next_in = reinterpret_cast<Bytef*>(zeros.data());
        stream.avail_in = static_cast<uInt>(zeros.size());
        deflate(&stream, i == 63 ? Z_FINISH : Z_NO_FLUSH);
    }
    body.resize(stream.total_out);
    deflateEnd(&stream);
    return body;
}

// Holds `count` connections from the attacker, each sent `head`, then each
// `line` every 4 s `lines` times (or waits 1 s without any); how many the
// server kept open.
int HeldOpen(const AttackTarget& target, int count, const std::string& head, int lines)
{
    std::deque<Connection> held;
    for (int i = 0; i < count; ++i)
        held.emplace_back(target.attacker, target.port).Send(head);
    std::this_thread::sleep_for(lines ? 0s : 1s);
    for (int line = 0; line < lines; ++line) {
        std::this_thread::sleep_for(4s);
        for (Connection& connection : held)
            connection.Send("X-Slow-" + std::to_string(line) + ": 1\r\n");
    }
    return static_cast<int>(std::count_if(held.begin(), held.end(), [](Connection& c) { return c.StillOpen(); }));
}

AttackOutcome Pipelined(const AttackTarget& target)
{
    std::string five;
    for (int i = 0; i < 5; ++i)
        five += Get(target.path);
    std::deque<Connection> connections;
    for (int i = 0; i < 12; ++i)
        connections.emplace_back(target.attacker, target.port).Send(five);
    const auto deadline = Clock::now() + 10s;
    int answered = 0;
    for (Connection& connection : connections) {
        for (int i = 0; i < 5; ++i)
            answered += ReadAnswer(connection, deadline).status == 200 ? 1 : 0;
    }
    return {answered == 60, std::to_string(answered) + " of 60 answered 200"};
}

AttackOutcome ManyRanges(const AttackTarget& target)
{
    const std::size_t size = Ask(target.attacker, target.port, Get(target.path), 5s).body.size();
    std::string ranges = "Range: bytes=0-";
    for (int i = 1; i < 50; ++i)
        ranges += ",0-";
    const Answer answer = Ask(target.attacker, target.port, Get(target.path, ranges + "\r\n"), 5s);
    return {(answer.status == 200 && answer.body.size() == size) || IsRefusal(answer.status),
        "answered " + std::to_string(answer.status) + " with " + std::to_string(answer.body.size()) + " bytes for a "
            + std::to_string(size) + "-byte file"};
}

long StatusKib(pid_t process, const char* field)
{
    std::ifstream status("/proc/" + std::to_string(process) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.compare(0, std::strlen(field), field) == 0)
            return std::atol(line.c_str() + std::strlen(field) + 1);
    }
    return -1;
}

} // namespace

const std::vector<HttpAttack>& WebLayerAttacks()
{
    using T = const AttackTarget&;
    static const std::vector<HttpAttack> kAttacks = {
        {"chunked body of 64 MiB",
            [](T t) {
                return Flood(t, Head("POST", t.postPath, "Transfer-Encoding: chunked\r\n\r\n"),
                    "10000\r\n" + std::string(0x10000, 'x') + "\r\n", 64 * kMiB);
            }},
        {"gzip bomb body",
            [](T t) {
                const std::string body = GzipBomb();
                return Refused(t, Head("POST", t.postPath, "Content-Encoding: gzip\r\nContent-Type: application/json\r\n")
                        + "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body);
            }},
        {"request line of 200 MiB", [](T t) { return Flood(t, "GET /", std::string(0x10000, 'a'), 200 * kMiB); }},
        {"100 MiB of 8 KB headers",
            [](T t) { return Flood(t, Head("GET", t.path), "X-Filler: " + std::string(8000, 'a') + "\r\n", 100 * kMiB); }},
        {"Content-Length of 1 GiB",
            [](T t) {
                return Flood(t, Head("POST", t.postPath, "Content-Length: 1073741824\r\n\r\n"), std::string(0x10000, 'x'),
                    64 * kMiB);
            }},
        // The ordinary requests beside them are the test.
        {"ten slow clients",
            [](T t) {
                return AttackOutcome{true, std::to_string(HeldOpen(t, 10, Head("GET", t.path), 2)) + " of 10 open after 8 s"};
            }},
        {"300 connections from one address",
            [](T t) {
                const int kept = HeldOpen(t, 300, "", 0);
                return AttackOutcome{kept <= 64, std::to_string(kept) + " of 300 connections kept after 1 s"};
            }},
        {"5 pipelined requests on 12 connections", Pipelined},
        {"50 ranges", ManyRanges},
        {"%00 in the path", [](T t) { return Refused(t, Get(t.path + "%00.html")); }},
        {"symbolic link in the folder",
            [](T t) { return t.linkPath.empty() ? AttackOutcome{true, "no served folder"} : Refused(t, Get(t.linkPath)); }},
        {"POST without Content-Length", [](T t) { return Refused(t, Head("POST", t.postPath) + "\r\nname=x"); }},
    };
    return kAttacks;
}

Answer Ask(const std::string& from, int port, const std::string& request, std::chrono::milliseconds timeout)
{
    Connection connection(from, port);
    connection.Send(request);
    return ReadAnswer(connection, Clock::now() + timeout);
}

int OrdinaryGet(int port, const std::string& path, std::chrono::milliseconds timeout)
{
    return Ask("127.0.0.3", port, Get(path, "Connection: close\r\n"), timeout).status;
}

AttackReport RunAttack(const HttpAttack& attack, AttackTarget target, pid_t server)
{
    static std::atomic<int> attacks{0};
    target.attacker = "127.0.1." + std::to_string(attacks++ % 250 + 1);
    AttackReport report;
    long idle = -1;
    if (server > 0) {
        // Resets the peak, so that it is this attack's.
        std::ofstream("/proc/" + std::to_string(server) + "/clear_refs") << "5";
        idle = StatusKib(server, "VmRSS:");
    }
    auto running = std::async(std::launch::async, attack.run, target);
    do {
        const auto start = Clock::now();
        const int status = OrdinaryGet(target.port, target.path, 3s);
        ++report.ordinaryRequests;
        report.ordinaryUnanswered += status == 200 ? 0 : 1;
        report.longestOrdinaryAnswer = std::max(report.longestOrdinaryAnswer,
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start));
    } while (running.wait_for(100ms) != std::future_status::ready);
    report.outcome = running.get();
    report.answeredAfterwards = OrdinaryGet(target.port, target.path, 3s) == 200;
    if (server > 0 && idle >= 0)
        report.peakKibAboveIdle = StatusKib(server, "VmHWM:") - idle;
    return report;
}

} // namespace kestrel::test
