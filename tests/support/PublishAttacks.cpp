#include "tests/support/PublishAttacks.h"

#include <arpa/inet.h>
#include <chrono>
#include <nlohmann/json.hpp>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace kestrel::test {
namespace {

using Clock = std::chrono::steady_clock;
using nlohmann::json;
constexpr std::chrono::seconds kAnswerTimeout{5};

struct Answer {
    int status = 0; // 0: none came
    std::string setCookie;
    std::string body;
};

// A keep-alive connection to the page on 127.0.0.1 from `from`, one
// request at a time.
class PageConnection {
public:
    PageConnection(int port, const char* from) : m_port(port)
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in local{};
        local.sin_family = AF_INET;
        ::inet_pton(AF_INET, from, &local.sin_addr);
        sockaddr_in server{};
        server.sin_family = AF_INET;
        server.sin_port = htons(static_cast<std::uint16_t>(port));
        ::inet_pton(AF_INET, "127.0.0.1", &server.sin_addr);
        if (m_fd >= 0
            && (::bind(m_fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0
                || ::connect(m_fd, reinterpret_cast<sockaddr*>(&server), sizeof server) != 0)) {
            ::close(m_fd);
            m_fd = -1;
        }
    }
    ~PageConnection()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    PageConnection(const PageConnection&) = delete;
    PageConnection& operator=(const PageConnection&) = delete;

    // The head of a request with the page's Host and Origin, and `headers`
    // (each ending in CRLF); the body's length is given, the body not sent.
    bool SendHead(const char* method, const char* path, const std::string& headers, std::size_t length)
    {
        const std::string host = "127.0.0.1:" + std::to_string(m_port);
        return Send(std::string(method) + " " + path + " HTTP/1.1\r\nHost: " + host + "\r\nOrigin: http://" + host
            + "\r\n" + headers + "Content-Length: " + std::to_string(length) + "\r\n\r\n");
    }

    Answer Exchange(const char* method, const char* path, const std::string& headers = "", const std::string& body = "")
    {
        if (!SendHead(method, path, headers, body.size()) || !Send(body))
            return {};
        return Read();
    }

    // One answer, read as far as its Content-Length.
    Answer Read()
    {
        Answer answer;
        const Clock::time_point deadline = Clock::now() + kAnswerTimeout;
        std::size_t headEnd = std::string::npos;
        std::size_t length = 0;
        while (headEnd == std::string::npos || m_buffer.size() < headEnd + 4 + length) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            pollfd ready{m_fd, POLLIN, 0};
            char chunk[16384];
            const ssize_t got = left > 0 && ::poll(&ready, 1, static_cast<int>(left)) == 1
                ? ::recv(m_fd, chunk, sizeof chunk, 0)
                : -1;
            if (got <= 0)
                return answer;
            m_buffer.append(chunk, static_cast<std::size_t>(got));
            if (headEnd == std::string::npos && (headEnd = m_buffer.find("\r\n\r\n")) != std::string::npos)
                length = std::stoul("0" + HeaderValue(m_buffer.substr(0, headEnd), "content-length"));
        }
        const std::string head = m_buffer.substr(0, headEnd);
        answer.status = std::atoi(head.c_str() + 9);
        answer.setCookie = HeaderValue(head, "set-cookie");
        answer.body = m_buffer.substr(headEnd + 4, length);
        m_buffer.erase(0, headEnd + 4 + length);
        return answer;
    }

private:
    static std::string HeaderValue(const std::string& head, const std::string& lowerName)
    {
        std::string lower = head;
        for (char& c : lower)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        const std::size_t at = lower.find("\r\n" + lowerName + ":");
        if (at == std::string::npos)
            return "";
        const std::size_t start = head.find_first_not_of(' ', at + 3 + lowerName.size());
        return head.substr(start, head.find("\r\n", start) - start);
    }

    bool Send(const std::string& bytes)
    {
        for (std::size_t sent = 0; sent < bytes.size();) {
            const ssize_t wrote = m_fd < 0 ? -1 : ::send(m_fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
            if (wrote <= 0)
                return false;
            sent += static_cast<std::size_t>(wrote);
        }
        return m_fd >= 0;
    }

    int m_port;
    int m_fd = -1;
    std::string m_buffer;
};

std::string TokenOf(const Answer& answer)
{
    const json state = json::parse(answer.body, nullptr, false);
    return state.is_object() && state.contains("csrf") && state["csrf"].is_string() ? state["csrf"].get<std::string>()
                                                                                       : "";
}

// A signed-in teacher's headers, or "" when signing in failed.
std::string SignIn(PageConnection& connection, const char* password = kAttackPassword, int* status = nullptr)
{
    const std::string token = TokenOf(connection.Exchange("GET", "/api/state"));
    const Answer answer = connection.Exchange("POST", "/api/sign-in",
        "Content-Type: application/json\r\nX-CSRF-Token: " + token + "\r\n",
        json{{"user", kAttackTeacher}, {"password", password}}.dump());
    if (status != nullptr)
        *status = answer.status;
    if (answer.status != 200)
        return "";
    return "Cookie: " + answer.setCookie.substr(0, answer.setCookie.find(';')) + "\r\nX-CSRF-Token: "
        + TokenOf(answer) + "\r\n";
}

std::string Seconds(Clock::duration time)
{
    return std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(time).count() / 1000.0).substr(0, 4)
        + " s";
}

// Finding 9: cookie-less requests once pushed out the sessions of pages
// not yet signed in.
AttackOutcome CookieLessStateFlood(const AttackTarget& target)
{
    constexpr int kRequests = 30000;
    PageConnection teacher(target.port, "127.0.0.3");
    const std::string signedIn = SignIn(teacher);
    const std::string token = TokenOf(teacher.Exchange("GET", "/api/state"));
    PageConnection pupil(target.port, "127.0.0.2");
    const Clock::time_point start = Clock::now();
    int answered = 0;
    for (; answered < kRequests && Clock::now() - start < std::chrono::seconds(12); ++answered) {
        if (pupil.Exchange("GET", "/api/state").status != 200)
            break;
    }
    const Clock::duration took = Clock::now() - start;
    // A new connection: the server closes one idle for its time-out.
    PageConnection later(target.port, "127.0.0.3");
    const json state = json::parse(later.Exchange("GET", "/api/state", signedIn).body, nullptr, false);
    const bool stillSignedIn = !signedIn.empty() && state.is_object() && state.value("user", "") == kAttackTeacher;
    const int signIn = later.Exchange("POST", "/api/sign-in",
        "Content-Type: application/json\r\nX-CSRF-Token: " + token + "\r\n",
        json{{"user", kAttackTeacher}, {"password", kAttackPassword}}.dump()).status;
    return {stillSignedIn && signIn == 200,
        std::to_string(answered) + " cookie-less GET /api/state in " + Seconds(took) + "; the teacher "
            + (stillSignedIn ? "stayed" : "was not") + " signed in; a token from before signed in with "
            + std::to_string(signIn)};
}

// Password guessing on one account from one address: held back, and the
// teacher is never locked out from another address.
AttackOutcome SignInFlood(const AttackTarget& target)
{
    constexpr int kGuesses = 200;
    PageConnection pupil(target.port, "127.0.0.2");
    const std::string token = TokenOf(pupil.Exchange("GET", "/api/state"));
    int checked = 0;
    int heldBack = 0;
    int other = 0;
    const Clock::time_point start = Clock::now();
    for (int i = 0; i < kGuesses && Clock::now() - start < std::chrono::seconds(12); ++i) {
        const int status = pupil.Exchange("POST", "/api/sign-in",
            "Content-Type: application/json\r\nX-CSRF-Token: " + token + "\r\n",
            json{{"user", kAttackTeacher}, {"password", "guess" + std::to_string(i)}}.dump()).status;
        (status == 403 ? checked : status == 429 ? heldBack : other) += 1;
    }
    PageConnection teacher(target.port, "127.0.0.3");
    int teacherStatus = 0;
    SignIn(teacher, kAttackPassword, &teacherStatus);
    return {other == 0 && checked <= 5 && teacherStatus == 200,
        std::to_string(checked) + " guesses checked, " + std::to_string(heldBack) + " held back, "
            + std::to_string(other) + " otherwise answered in " + Seconds(Clock::now() - start)
            + "; the teacher signed in from another address with " + std::to_string(teacherStatus)};
}

// Finding 4: a full catalogue (twenty links, 60-character Chinese
// captions, every character escaped) got 413.
AttackOutcome FullCatalogueEdit(const AttackTarget& target)
{
    PageConnection teacher(target.port, "127.0.0.2");
    const std::string signedIn = SignIn(teacher);
    std::string links;
    for (int i = 0; i < 20; ++i) {
        std::string caption;
        for (int c = 0; c < 60; ++c)
            caption += "\\u" + std::to_string(8000 + c + 1000 * (i % 2)); // CJK, each with a GBK form
        const std::string address = "http://school.lan/lessons/" + std::string(160, 'a' + i) + "/";
        links += std::string(i ? "," : "") + "{\"name\":\"lesson" + std::to_string(i) + "\",\"caption\":\"" + caption
            + "\",\"url\":\"" + address + "\",\"picture\":\"" + address + "p.bmp\",\"coolPicture\":\"\"}";
    }
    const std::string edit = "{\"home\":\"http://school.lan/\",\"links\":[" + links + "]}";
    const Answer answer
        = teacher.Exchange("POST", "/api/publish", signedIn + "Content-Type: application/json\r\n", edit);
    return {!signedIn.empty() && edit.size() > (14 << 10) && answer.status == 200,
        "a " + std::to_string(edit.size() / 1024) + " KiB edit of 20 links was answered "
            + std::to_string(answer.status) + (answer.status == 200 ? "" : ": " + answer.body.substr(0, 200))};
}

// Bodies announced before signing in are refused on their head, and none
// of their bytes is waited for.
AttackOutcome HugeBodiesBeforeSignIn(const AttackTarget& target)
{
    const std::pair<const char*, const char*> requests[] = {
        {"/api/sign-in", "Content-Type: application/json\r\n"},
        {"/api/picture", "Content-Type: image/png\r\n"},
        {"/api/publish", "Content-Type: application/json\r\n"},
    };
    std::string detail;
    bool harmless = true;
    for (const auto& [path, headers] : requests) {
        PageConnection pupil(target.port, "127.0.0.2");
        const std::string token = TokenOf(pupil.Exchange("GET", "/api/state"));
        const Clock::time_point start = Clock::now();
        const Answer answer = pupil.SendHead("POST", path, headers + ("X-CSRF-Token: " + token + "\r\n"), 1ull << 30)
            ? pupil.Read()
            : Answer();
        const bool refused = answer.status >= 400 && answer.status < 500;
        harmless = harmless && refused;
        detail += std::string(detail.empty() ? "" : "; ") + path + " with 1 GiB announced: "
            + std::to_string(answer.status) + " after " + Seconds(Clock::now() - start);
    }
    return {harmless, detail};
}

} // namespace

const std::vector<HttpAttack>& PublishPageAttacks()
{
    static const std::vector<HttpAttack> attacks = {
        {"CookieLessStateFlood", &CookieLessStateFlood},
        {"SignInFlood", &SignInFlood},
        {"FullCatalogueEdit", &FullCatalogueEdit},
        {"HugeBodiesBeforeSignIn", &HugeBodiesBeforeSignIn},
    };
    return attacks;
}

} // namespace kestrel::test
