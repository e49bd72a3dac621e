#include "tests/support/HttpAttacks.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdlib>
#include <arpa/inet.h>
#include <cstring>
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

constexpr const char* kPupil = "127.0.0.3";
constexpr std::size_t kMiB = 1 << 20;

class Connection {
public:
    Connection(const std::string& from, int port)
    {
        m_fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in local = {};
        local.sin_family = AF_INET;
        inet_pton(AF_INET, from.c_str(), &local.sin_addr);
        sockaddr_in server = {};
        server.sin_family = AF_INET;
        server.sin_port = htons(static_cast<std::uint16_t>(port));
        server.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        // A server that stops reading makes a send wait this long at most.
        const timeval wait = {1, 0};
        if (m_fd < 0 || setsockopt(m_fd, SOL_SOCKET, SO_SNDTIMEO, &wait, sizeof wait) != 0
            || bind(m_fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0
            || connect(m_fd, reinterpret_cast<sockaddr*>(&server), sizeof server) != 0)
            Close();
    }
    ~Connection() { Close(); }
    Connection(Connection&& other) noexcept : m_fd(other.m_fd), m_received(std::move(other.m_received))
    {
        other.m_fd = -1;
    }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    bool IsOpen() const { return m_fd >= 0; }
    void Close()
    {
        if (m_fd >= 0)
            close(m_fd);
        m_fd = -1;
    }

    // What was sent of `data`: less when the server closed or stopped reading.
    std::size_t Send(const std::string& data)
    {
        std::size_t sent = 0;
        while (m_fd >= 0 && sent < data.size()) {
            const ssize_t n = send(m_fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
            if (n <= 0)
                break;
            sent += static_cast<std::size_t>(n);
        }
        return sent;
    }

    // Waits up to `timeout` for more bytes; false at the end or on a reset.
    bool Receive(std::chrono::milliseconds timeout)
    {
        pollfd ready = {m_fd, POLLIN, 0};
        if (m_fd < 0 || poll(&ready, 1, static_cast<int>(timeout.count())) <= 0)
            return false;
        char buffer[64 << 10];
        const ssize_t n = recv(m_fd, buffer, sizeof buffer, 0);
        if (n <= 0)
            return false;
        m_received.append(buffer, static_cast<std::size_t>(n));
        return true;
    }

    // Closed by the server (or reset) without a word more.
    bool ClosedByServer()
    {
        pollfd ready = {m_fd, POLLIN, 0};
        if (poll(&ready, 1, 0) <= 0)
            return false;
        char byte;
        return recv(m_fd, &byte, 1, MSG_PEEK) <= 0;
    }

    std::string& Received() { return m_received; }

private:
    int m_fd = -1;
    std::string m_received;
};

struct Answer {
    int status = 0;
    std::string head;
    std::string body;
};

std::string HeaderValue(const std::string& head, const std::string& name)
{
    std::string lower = head;
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
    const std::size_t at = lower.find("\r\n" + name + ":");
    if (at == std::string::npos)
        return std::string();
    const std::size_t start = std::min(head.find_first_not_of(' ', at + name.size() + 3), head.size());
    return head.substr(start, head.find("\r\n", start) - start);
}

// Takes one whole answer off the front of what the connection received,
// reading more until `deadline`. Status 0 when none came whole.
Answer ReadAnswer(Connection& connection, Clock::time_point deadline)
{
    Answer answer;
    std::string& received = connection.Received();
    std::size_t headEnd = std::string::npos;
    while ((headEnd = received.find("\r\n\r\n")) == std::string::npos) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0 || !connection.Receive(left))
            return answer;
    }
    answer.head = received.substr(0, headEnd + 2);
    const std::string length = HeaderValue(answer.head, "content-length");
    const std::size_t bodyLength = std::strtoull(length.c_str(), nullptr, 10);
    while (received.size() < headEnd + 4 + bodyLength) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0 || !connection.Receive(left))
            return answer;
    }
    answer.body = received.substr(headEnd + 4, bodyLength);
    received.erase(0, headEnd + 4 + bodyLength);
    if (answer.head.compare(0, 9, "HTTP/1.1 ") == 0 || answer.head.compare(0, 9, "HTTP/1.0 ") == 0)
        answer.status = std::atoi(answer.head.c_str() + 9);
    return answer;
}

std::string Get(const std::string& path, const std::string& headers = "")
{
    return "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + headers + "\r\n";
}

Answer Ask(const std::string& from, int port, const std::string& request, std::chrono::milliseconds timeout)
{
    Connection connection(from, port);
    connection.Send(request);
    return ReadAnswer(connection, Clock::now() + timeout);
}

bool IsRefusal(int status)
{
    return status >= 400 && status < 500;
}

std::string Mib(std::size_t bytes)
{
    return std::to_string(bytes / kMiB) + " MiB";
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
    while (!answered && sent < total && Clock::now() < deadline) {
        const std::size_t n = connection.Send(piece);
        sent += n;
        answered = connection.Receive(0ms);
        if (n < piece.size())
            break;
    }
    const Answer answer = ReadAnswer(connection, Clock::now() + 1s);
    AttackOutcome outcome;
    outcome.harmless = IsRefusal(answer.status) || (answer.status == 0 && sent < total);
    outcome.detail = "sent " + Mib(sent) + " of " + Mib(total) + ", answered " + std::to_string(answer.status);
    return outcome;
}

AttackOutcome ChunkedBody(const AttackTarget& target)
{
    return Flood(target,
        "POST " + target.postPath + " HTTP/1.1\r\nHost: 127.0.0.1\r\nTransfer-Encoding: chunked\r\n\r\n",
        "10000\r\n" + std::string(0x10000, 'x') + "\r\n", 64 * kMiB);
}

// 64 MiB of zeros in about 64 KB.
AttackOutcome GzipBomb(const AttackTarget& target)
{
    z_stream stream = {};
    deflateInit2(&stream, 9, Z_DEFLATED, 15 + 16, 9, Z_DEFAULT_STRATEGY);
    const std::string zeros(kMiB, '\0');
    std::string body;
    for (int i = 0; i < 64; ++i) {
        stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(zeros.data()));
        stream.avail_in = static_cast<uInt>(zeros.size());
        do {
            unsigned char out[16 << 10];
            stream.next_out = out;
            stream.avail_out = sizeof out;
            deflate(&stream, i == 63 ? Z_FINISH : Z_NO_FLUSH);
            body.append(reinterpret_cast<char*>(out), sizeof out - stream.avail_out);
        } while (stream.avail_out == 0);
    }
    deflateEnd(&stream);
    const Answer answer = Ask(target.attacker, target.port,
        "POST " + target.postPath + " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Encoding: gzip\r\n"
            "Content-Type: application/json\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body,
        5s);
    return {IsRefusal(answer.status), std::to_string(body.size()) + " bytes, answered " + std::to_string(answer.status)};
}

AttackOutcome LongRequestLine(const AttackTarget& target)
{
    return Flood(target, "GET /", std::string(0x10000, 'a'), 200 * kMiB);
}

AttackOutcome ManyLargeHeaders(const AttackTarget& target)
{
    return Flood(target, "GET " + target.path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n",
        "X-Filler: " + std::string(8000, 'a') + "\r\n", 100 * kMiB);
}

AttackOutcome HugeContentLength(const AttackTarget& target)
{
    return Flood(target, "POST " + target.postPath + " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 1073741824\r\n\r\n",
        std::string(0x10000, 'x'), 64 * kMiB);
}

// Ten connections each sending one header line every 4 s; the ordinary
// requests beside them are the test.
AttackOutcome SlowClients(const AttackTarget& target)
{
    std::vector<Connection> slow;
    for (int i = 0; i < 10; ++i) {
        slow.emplace_back(target.attacker, target.port);
        slow.back().Send("GET " + target.path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n");
    }
    for (int line = 0; line < 2; ++line) {
        std::this_thread::sleep_for(4s);
        for (Connection& connection : slow)
            connection.Send("X-Slow-" + std::to_string(line) + ": 1\r\n");
    }
    int open = 0;
    for (Connection& connection : slow)
        open += connection.IsOpen() && !connection.ClosedByServer() ? 1 : 0;
    return {true, std::to_string(open) + " of 10 still open after 8 s"};
}

// Held open from one address, without a word.
AttackOutcome ConnectionFlood(const AttackTarget& target)
{
    std::vector<Connection> flood;
    for (int i = 0; i < 300; ++i)
        flood.emplace_back(target.attacker, target.port);
    std::this_thread::sleep_for(1s);
    int open = 0;
    for (Connection& connection : flood)
        open += connection.IsOpen() && !connection.ClosedByServer() ? 1 : 0;
    return {open <= 64, std::to_string(open) + " of 300 connections kept after 1 s"};
}

AttackOutcome Pipelined(const AttackTarget& target)
{
    std::vector<Connection> connections;
    std::string five;
    for (int i = 0; i < 5; ++i)
        five += Get(target.path);
    for (int i = 0; i < 12; ++i) {
        connections.emplace_back(target.attacker, target.port);
        connections.back().Send(five);
    }
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

AttackOutcome NulInPath(const AttackTarget& target)
{
    const Answer answer = Ask(target.attacker, target.port, Get(target.path + "%00.html"), 5s);
    const std::string type = HeaderValue(answer.head, "content-type");
    return {IsRefusal(answer.status) && type.find("html") == std::string::npos,
        "answered " + std::to_string(answer.status) + " as \"" + type + "\""};
}

AttackOutcome SymbolicLink(const AttackTarget& target)
{
    if (target.linkPath.empty())
        return {true, "no served folder"};
    const Answer answer = Ask(target.attacker, target.port, Get(target.linkPath), 5s);
    return {IsRefusal(answer.status), "answered " + std::to_string(answer.status)};
}

AttackOutcome PostWithoutLength(const AttackTarget& target)
{
    const Answer answer = Ask(target.attacker, target.port,
        "POST " + target.postPath + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\nname=x", 5s);
    return {IsRefusal(answer.status), "answered " + std::to_string(answer.status)};
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
    static const std::vector<HttpAttack> kAttacks = {
        {"chunked body of 64 MiB", ChunkedBody},
        {"gzip bomb body", GzipBomb},
        {"request line of 200 MiB", LongRequestLine},
        {"100 MiB of 8 KB headers", ManyLargeHeaders},
        {"Content-Length of 1 GiB", HugeContentLength},
        {"ten slow clients", SlowClients},
        {"300 connections from one address", ConnectionFlood},
        {"5 pipelined requests on 12 connections", Pipelined},
        {"50 ranges", ManyRanges},
        {"%00 in the path", NulInPath},
        {"symbolic link in the folder", SymbolicLink},
        {"POST without Content-Length", PostWithoutLength},
    };
    return kAttacks;
}

int OrdinaryGet(int port, const std::string& path, std::chrono::milliseconds timeout)
{
    return Ask(kPupil, port, Get(path, "Connection: close\r\n"), timeout).status;
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
        const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
        ++report.ordinaryRequests;
        report.ordinaryUnanswered += status == 200 ? 0 : 1;
        report.longestOrdinaryAnswer = std::max(report.longestOrdinaryAnswer, took);
    } while (running.wait_for(100ms) != std::future_status::ready);
    report.outcome = running.get();
    report.answeredAfterwards = OrdinaryGet(target.port, target.path, 3s) == 200;
    if (server > 0 && idle >= 0)
        report.peakKibAboveIdle = StatusKib(server, "VmHWM:") - idle;
    return report;
}

} // namespace kestrel::test
