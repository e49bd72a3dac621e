#include "tests/support/PublishAttacks.h"

#include <chrono>
#include <httplib.h>
#include <nlohmann/json.hpp>
#include <string>

namespace kestrel::test {
namespace {

using Clock = std::chrono::steady_clock;
using nlohmann::json;
using namespace std::chrono_literals;

constexpr const char* kTeacher = "127.0.0.3";

// A browser with the page open on its own machine (`from`), keeping its
// connection, its session cookie and its CSRF token as the page does.
class PageClient {
public:
    PageClient(int port, const std::string& from)
        : m_client("127.0.0.1", port), m_origin("http://127.0.0.1:" + std::to_string(port))
    {
        m_client.set_interface(from);
        m_client.set_keep_alive(true);
        m_client.set_tcp_nodelay(true);
        m_client.set_read_timeout(5, 0);
        OpenPage();
    }

    // GET /api/state, keeping the token; its status.
    int OpenPage()
    {
        const httplib::Result result = m_client.Get("/api/state", Headers());
        Keep(result);
        return result ? result->status : 0;
    }

    int Post(const char* path, const std::string& body)
    {
        const httplib::Result result = m_client.Post(path, Headers(), body, "application/json");
        Keep(result);
        return result ? result->status : 0;
    }

    int SignIn(const char* password = kAttackPassword)
    {
        return Post("/api/sign-in", json{{"user", kAttackTeacher}, {"password", password}}.dump());
    }

    const std::string& User() const { return m_user; }
    const std::string& Token() const { return m_token; }
    void UseToken(const std::string& token) { m_token = token; }

private:
    httplib::Headers Headers() const
    {
        return {{"Origin", m_origin}, {"X-CSRF-Token", m_token}, {"Cookie", m_cookie}};
    }

    void Keep(const httplib::Result& result)
    {
        if (!result)
            return;
        const std::string cookie = result->get_header_value("Set-Cookie");
        if (!cookie.empty())
            m_cookie = cookie.substr(0, cookie.find(';'));
        const json state = json::parse(result->body, nullptr, false);
        if (state.is_object() && state.contains("csrf")) {
            m_token = state.value("csrf", "");
            m_user = state.value("user", "");
        }
    }

    httplib::Client m_client;
    std::string m_origin;
    std::string m_cookie;
    std::string m_token;
    std::string m_user;
};

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
    PageClient signedIn(target.port, kTeacher);
    signedIn.SignIn();
    PageClient notYet(target.port, kTeacher);
    PageClient pupil(target.port, target.attacker);
    const Clock::time_point start = Clock::now();
    int answered = 0;
    while (answered < kRequests && Clock::now() - start < 12s && pupil.OpenPage() == 200)
        ++answered;
    const Clock::duration took = Clock::now() - start;
    signedIn.OpenPage();
    const int signIn = notYet.SignIn();
    return {signedIn.User() == kAttackTeacher && signIn == 200,
        std::to_string(answered) + " cookie-less GET /api/state in " + Seconds(took) + "; the teacher signed in before "
            + (signedIn.User() == kAttackTeacher ? "stayed" : "was not") + " signed in; a page from before signed in with "
            + std::to_string(signIn)};
}

// Password guessing on one account from one address: held back, and the
// teacher is never locked out from another address.
AttackOutcome SignInFlood(const AttackTarget& target)
{
    constexpr int kGuesses = 200;
    PageClient pupil(target.port, target.attacker);
    const std::string token = pupil.Token();
    int checked = 0;
    int heldBack = 0;
    int other = 0;
    const Clock::time_point start = Clock::now();
    for (int i = 0; i < kGuesses && Clock::now() - start < 12s; ++i) {
        pupil.UseToken(token);
        const int status = pupil.SignIn(("guess" + std::to_string(i)).c_str());
        (status == 403 ? checked : status == 429 ? heldBack : other) += 1;
    }
    const int signIn = PageClient(target.port, kTeacher).SignIn();
    return {other == 0 && checked <= 5 && signIn == 200,
        std::to_string(checked) + " guesses checked, " + std::to_string(heldBack) + " held back, "
            + std::to_string(other) + " otherwise answered in " + Seconds(Clock::now() - start)
            + "; the teacher signed in from another address with " + std::to_string(signIn)};
}

// Finding 4: a full catalogue (twenty links, 60-character Chinese
// captions, here with every character escaped) got 413.
AttackOutcome FullCatalogueEdit(const AttackTarget& target)
{
    PageClient teacher(target.port, target.attacker);
    const int signIn = teacher.SignIn();
    std::string links;
    for (int i = 0; i < 20; ++i) {
        std::string caption;
        for (int c = 0; c < 60; ++c)
            caption += "\\u" + std::to_string(8000 + c + 1000 * (i % 2)); // CJK, each with a GBK form
        const std::string address = "http://school.lan/lessons/" + std::string(160, static_cast<char>('a' + i)) + "/";
        links += std::string(i ? "," : "") + "{\"name\":\"lesson" + std::to_string(i) + "\",\"caption\":\"" + caption
            + "\",\"url\":\"" + address + "\",\"picture\":\"" + address + "p.bmp\",\"coolPicture\":\"\"}";
    }
    const std::string edit = "{\"home\":\"http://school.lan/\",\"links\":[" + links + "]}";
    const int status = teacher.Post("/api/publish", edit);
    return {signIn == 200 && edit.size() > (14 << 10) && status == 200,
        "a " + std::to_string(edit.size() / 1024) + " KiB edit of 20 links was answered " + std::to_string(status)};
}

// Bodies of 1 GiB announced before signing in, the sign-in's with a good
// token: each is refused on its head, and none of its bytes waited for.
AttackOutcome HugeBodiesBeforeSignIn(const AttackTarget& target)
{
    const PageClient pupil(target.port, target.attacker);
    const std::string host = "127.0.0.1:" + std::to_string(target.port);
    std::string detail;
    bool harmless = true;
    for (const char* path : {"/api/sign-in", "/api/picture", "/api/publish"}) {
        const int status = Ask(target.attacker, target.port,
            std::string("POST ") + path + " HTTP/1.1\r\nHost: " + host + "\r\nOrigin: http://" + host
                + "\r\nX-CSRF-Token: " + pupil.Token() + "\r\nContent-Type: application/json\r\n"
                + "Content-Length: 1073741824\r\n\r\n",
            2s).status;
        harmless = harmless && status >= 400 && status < 500;
        detail += std::string(detail.empty() ? "" : "; ") + path + ": " + std::to_string(status);
    }
    return {harmless, "1 GiB announced, answered before the body: " + detail};
}

AttackOutcome OneSignIn(const AttackTarget& target)
{
    const int status = PageClient(target.port, kTeacher).SignIn();
    return {status == 200, "signed in with " + std::to_string(status)};
}

} // namespace

const HttpAttack kOneSignIn = {"one sign-in, for comparison", &OneSignIn};

const std::vector<HttpAttack>& PublishPageAttacks()
{
    static const std::vector<HttpAttack> attacks = {
        {"30 000 cookie-less GET /api/state", &CookieLessStateFlood},
        {"200 guesses of one password", &SignInFlood},
        {"full catalogue of 20 links", &FullCatalogueEdit},
        {"1 GiB bodies before signing in", &HugeBodiesBeforeSignIn},
    };
    return attacks;
}

} // namespace kestrel::test
