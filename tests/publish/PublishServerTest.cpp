#include "base/WholeFile.h"
#include "publish/JsonText.h"
#include "publish/PublishServer.h"
#include "publish/RoomAnswer.h"
#include "publish/TlsCertificate.h"
#include "tools/RoomFolders.h"
#include "tools/RoomSummary.h"

#include "tests/support/PublishAttacks.h"
#include "tests/support/ScopedTimeZone.h"
#include "tests/support/TemporaryFolder.h"

#include <filesystem>
#include <gd.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <nlohmann/json.hpp>
#include <regex>
#include <thread>
#include <unistd.h>

namespace kestrel {
namespace {

using nlohmann::json;
constexpr const char* kPassword = test::kAttackPassword;

int TestPort(int offset = 0)
{
    return 20000 + (::getpid() + offset) % 20000;
}

class PublishServerTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        s_users = new test::TemporaryFolder;
        ASSERT_EQ(CTeacherAccounts(s_users->Path() + "/users").SetPassword(test::kAttackTeacher, kPassword), "");
    }
    static void TearDownTestSuite() { delete s_users; }

    void SetUp() override
    {
        m_options.port = TestPort();
        m_options.hostName = m_options.address;
        m_options.pictureUrl = "http://pictures.school:8080/pictures/";
        m_options.onAirFolder = m_state.Path();
        ASSERT_EQ(m_store.Open(), "");
        Serve(m_oneRoom);
    }

    void Serve(const CPublishRooms& rooms)
    {
        m_server = std::make_unique<CPublishServer>(m_options, rooms, m_accounts);
        std::string error;
        ASSERT_TRUE(m_server->Start("", "", error)) << error;
        m_origin = "http://127.0.0.1:" + std::to_string(m_options.port);
    }

    httplib::Headers Headers(bool withToken = true) const
    {
        httplib::Headers headers{{"Origin", m_origin}, {"Cookie", "kestrel_session=" + m_session}};
        if (withToken)
            headers.emplace("X-CSRF-Token", m_csrf);
        return headers;
    }

    // Keeps the session cookie and the CSRF token the server handed out.
    json Remember(const httplib::Result& result)
    {
        if (!result)
            return json();
        const std::string cookie = result->get_header_value("Set-Cookie");
        if (!cookie.empty())
            m_session = cookie.substr(16, cookie.find(';') - 16);
        const json answer = json::parse(result->body, nullptr, false);
        if (answer.contains("csrf"))
            m_csrf = answer["csrf"];
        return answer;
    }

    void OpenPage() { Remember(m_client.Get("/api/state")); }

    httplib::Result Post(const char* path, const json& body, httplib::Headers headers)
    {
        return m_client.Post(path, headers, body.dump(), "application/json");
    }
    httplib::Result Post(const char* path, const json& body) { return Post(path, body, Headers()); }

    int SignIn(const std::string& password, const std::string& user = "anna")
    {
        const httplib::Result result = Post("/api/sign-in", {{"user", user}, {"password", password}});
        Remember(result);
        return result ? result->status : -1;
    }

    static json OneLink(const std::string& caption = "")
    {
        return {{"home", "http://school/"}, {"links", {{{"name", "x"}, {"caption", caption}}}}};
    }

    static test::TemporaryFolder* s_users;
    test::TemporaryFolder m_state;
    PublishOptions m_options;
    CPublishStore m_store{m_state.Path(), "", m_state.Path()};
    CPublishRooms m_oneRoom{m_store, m_state.Path()};
    CTeacherAccounts m_accounts{s_users->Path() + "/users"};
    std::unique_ptr<CPublishServer> m_server;
    httplib::Client m_client{"127.0.0.1", TestPort()};
    std::string m_origin;
    std::string m_session;
    std::string m_csrf;
};

test::TemporaryFolder* PublishServerTest::s_users = nullptr;

TEST_F(PublishServerTest, AForeignHostHeaderIsRefused)
{
    EXPECT_EQ(m_client.Get("/", {{"Host", "attacker.example:" + std::to_string(m_options.port)}})->status, 421);
    EXPECT_EQ(m_client.Get("/api/state", {{"Host", "attacker.example"}})->status, 421);
    EXPECT_EQ(m_client.Get("/")->status, 200);
    EXPECT_EQ(m_client.Get("/", {{"Host", "localhost:" + std::to_string(m_options.port)}})->status, 200);
}

TEST_F(PublishServerTest, ThePageForbidsInlineScriptAndTheCookieStaysWithThePage)
{
    const httplib::Result page = m_client.Get("/");
    const std::string policy = page->get_header_value("Content-Security-Policy");
    EXPECT_NE(policy.find("script-src 'self'"), std::string::npos);
    EXPECT_EQ(policy.find("unsafe-inline"), std::string::npos);
    EXPECT_NE(policy.find("frame-ancestors 'none'"), std::string::npos);
    EXPECT_EQ(page->get_header_value("X-Content-Type-Options"), "nosniff");
    EXPECT_FALSE(page->has_header("Strict-Transport-Security")) << "plain HTTP";
    EXPECT_EQ(page->body.find("<script>"), std::string::npos);
    const httplib::Result state = m_client.Get("/api/state");
    EXPECT_FALSE(state->has_header("Set-Cookie")) << "no session before signing in";
    Remember(state);
    const std::string cookie = m_client.Post("/api/sign-in", Headers(),
        json{{"user", "anna"}, {"password", kPassword}}.dump(), "application/json")->get_header_value("Set-Cookie");
    EXPECT_NE(cookie.find("HttpOnly"), std::string::npos);
    EXPECT_NE(cookie.find("SameSite=Strict"), std::string::npos);
}

TEST_F(PublishServerTest, APostWithoutTokenOrFromAnotherOriginIsRefused)
{
    OpenPage();
    ASSERT_EQ(SignIn(kPassword), 200);
    EXPECT_EQ(Post("/api/publish", OneLink(), Headers(false))->status, 403);
    httplib::Headers wrongToken = Headers(false);
    wrongToken.emplace("X-CSRF-Token", std::string(64, '0'));
    EXPECT_EQ(Post("/api/publish", OneLink(), wrongToken)->status, 403);
    httplib::Headers foreign = Headers();
    foreign.erase("Origin");
    foreign.emplace("Origin", "http://attacker.example");
    EXPECT_EQ(Post("/api/publish", OneLink(), foreign)->status, 403);
    httplib::Headers noOrigin = Headers();
    noOrigin.erase("Origin");
    EXPECT_EQ(Post("/api/publish", OneLink(), noOrigin)->status, 403);
    EXPECT_EQ(m_client.Post("/api/publish", Headers(), OneLink().dump(), "application/x-www-form-urlencoded")->status,
        415);
    EXPECT_TRUE(m_store.History().empty());
    EXPECT_EQ(Post("/api/publish", OneLink())->status, 200);
    EXPECT_EQ(m_store.History().size(), 1u);
}

TEST_F(PublishServerTest, ASignInBodyNotOfTheFormIsRefusedBeforeAnyPasswordIsChecked)
{
    OpenPage();
    const std::string nested = std::string(2000, '[') + std::string(2000, ']');
    for (const std::string& body : {"{\"user\": \"anna\", \"password\": " + nested + "}",
             std::string(R"({"user": ["anna"], "password": "x"})"), std::string("{\"user\": ")}) {
        const httplib::Result result = m_client.Post("/api/sign-in", Headers(), body, "application/json");
        EXPECT_EQ(result->status, 400) << body;
        EXPECT_EQ(json::parse(result->body)["error"], "请求的格式不对，请刷新页面");
    }
    // None of them counted as a failed sign-in.
    EXPECT_EQ(SignIn(kPassword), 200);
}

TEST_F(PublishServerTest, TheSixthQuickSignInFromAnAddressIsHeldBackEvenWithTheRightPassword)
{
    OpenPage();
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(SignIn("wrong password", "teacher" + std::to_string(i)), 403) << i;
    EXPECT_EQ(SignIn(kPassword), 429);
}

TEST_F(PublishServerTest, AFailedSignInDelaysTheNextTryOfThatAccountUntilItsTimeHasPassed)
{
    OpenPage();
    EXPECT_EQ(SignIn("wrong password"), 403);
    const httplib::Result held = Post("/api/sign-in", {{"user", "anna"}, {"password", kPassword}});
    EXPECT_EQ(held->status, 429);
    EXPECT_EQ(json::parse(held->body)["error"], "登录尝试太频繁，请 1 秒后再试");
    std::this_thread::sleep_for(CSignInLimiter::kFirstDelay + std::chrono::milliseconds(100));
    EXPECT_EQ(SignIn(kPassword), 200);
}

TEST_F(PublishServerTest, NothingChangesWithoutSigningInAndSigningOutEndsTheSession)
{
    OpenPage();
    EXPECT_EQ(Post("/api/publish", OneLink())->status, 401);
    ASSERT_EQ(SignIn(kPassword), 200);
    const std::string signedIn = m_session;
    const std::string token = m_csrf;
    const httplib::Result out = Post("/api/sign-out", json::object());
    EXPECT_EQ(Remember(out)["user"], "");
    m_session = signedIn;
    m_csrf = token;
    EXPECT_EQ(Post("/api/publish", OneLink())->status, 401);
}

TEST_F(PublishServerTest, AnUploadIsStoredOnlyAsTheReEncodedButtonPicture)
{
    OpenPage();
    ASSERT_EQ(SignIn(kPassword), 200);
    gdImagePtr image = gdImageCreateTrueColor(100, 100);
    int size = 0;
    void* png = gdImagePngPtr(image, &size);
    const std::string upload(static_cast<const char*>(png), static_cast<std::size_t>(size));
    gdFree(png);
    gdImageDestroy(image);
    const httplib::Result result = m_client.Post("/api/picture", Headers(), upload, "image/png");
    ASSERT_EQ(result->status, 200) << result->body;
    const std::string address = json::parse(result->body)["picture"];
    ASSERT_EQ(address.rfind(m_options.pictureUrl, 0), 0u) << address;
    const httplib::Result served = m_client.Get("/pictures/" + address.substr(m_options.pictureUrl.size()));
    ASSERT_EQ(served->status, 200);
    EXPECT_EQ(served->body.size(), 54u + 24 * 72);
    EXPECT_EQ(served->get_header_value("Content-Type"), "image/bmp");
    EXPECT_EQ(m_client.Post("/api/picture", Headers(), "<script>alert(1)</script>", "image/png")->status, 400);
    EXPECT_EQ(m_client.Post("/api/picture", Headers(), upload, "text/html")->status, 415);
}

TEST_F(PublishServerTest, TextsComeBackEscaped)
{
    OpenPage();
    ASSERT_EQ(SignIn(kPassword), 200);
    const httplib::Result result = Post("/api/publish", OneLink("<script>alert(\"x\")</script>&"));
    ASSERT_EQ(result->status, 200) << result->body;
    EXPECT_EQ(result->body.find("<script>"), std::string::npos);
    EXPECT_NE(result->body.find("\\u003cscript\\u003ealert(\\\"x\\\")\\u003c/script\\u003e\\u0026"), std::string::npos)
        << result->body;
}

TEST_F(PublishServerTest, ThePageShowsWhatIsOnTheAirAndWhyThePublishedFileWasRefused)
{
    m_state.Write(m_state.Path() + "/on-air.ini", "[link]\nname = 语文\nurl = http://school/\n");
    m_state.Write(m_state.Path() + "/on-air.status", "source=/etc/kestrel/catalogue.ini\nrefused=line 3: no name\n");
    OpenPage();
    ASSERT_EQ(SignIn(kPassword), 200);
    const json state = json::parse(m_client.Get("/api/state", Headers())->body);
    EXPECT_EQ(state["published"]["links"][0]["name"], "语文");
    EXPECT_EQ(state["refusal"], "line 3: no name");
}

// The room view's summary: a signed-in teacher's only, with its age, and
// a clear answer when there is none.
TEST_F(PublishServerTest, TheRoomIsForSignedInTeachersAndAMissingOrOversizedSummaryIsNamed)
{
    OpenPage();
    const auto room = [this] { return json::parse(m_client.Get("/api/room", Headers())->body); };
    EXPECT_EQ(m_client.Get("/api/room", Headers())->status, 401);
    ASSERT_EQ(SignIn(kPassword), 200);
    EXPECT_NE(room()["why"].get<std::string>().find("还没有教室的报告"), std::string::npos);
    m_state.Write(m_state.Path() + "/room.json", std::string(kLargestRoomSummary + 1, ' '));
    EXPECT_NE(room()["why"].get<std::string>().find("太大"), std::string::npos);
    m_state.Write(m_state.Path() + "/room.json", R"({"written": 1, "machines": [{"name": "pc01"}]})");
    const json read = room();
    EXPECT_EQ(read["room"]["machines"][0]["name"], "pc01");
    EXPECT_GT(read["age"], 1000000000) << "written in 1970";
}

// The history names each version's links and set and marks the one on the
// air; a version can be looked at, a set deleted; names that are not there,
// or not names, are refused.
TEST_F(PublishServerTest, TheHistoryIsReadableAndSetsCanBeDeleted)
{
    OpenPage();
    ASSERT_EQ(SignIn(kPassword), 200);
    ASSERT_EQ(Post("/api/save-set", {{"set", "周一"}, {"links", {{{"name", "古诗"}}}}})->status, 200);
    ASSERT_EQ(Post("/api/publish-set", {{"set", "周一"}})->status, 200);
    std::this_thread::sleep_for(std::chrono::milliseconds(2)); // a new history id
    const json state = Remember(Post("/api/publish", OneLink()));
    ASSERT_EQ(state["history"].size(), 2u);
    EXPECT_EQ(state["history"][0]["names"], json::array({"x"}));
    EXPECT_TRUE(state["history"][0]["onAir"]);
    EXPECT_EQ(state["history"][1]["set"], "周一");
    EXPECT_FALSE(state["history"][1]["onAir"]);
    const httplib::Result version = Post("/api/version", {{"id", state["history"][1]["id"]}});
    EXPECT_EQ(json::parse(version->body)["edit"]["links"][0]["name"], "古诗");
    const std::pair<const char*, json> refused[] = {
        {"/api/version", {{"id", "../sets/x"}}},
        {"/api/version", {{"id", 5}}},
        {"/api/delete-set", {{"set", "英语"}}},
        {"/api/delete-set", {{"set", std::string(65, 'x')}}},
        {"/api/delete-set", {{"set", {"周一"}}}},
    };
    for (const auto& [path, body] : refused)
        EXPECT_EQ(Post(path, body)->status, 400) << path << body;
    EXPECT_EQ(Remember(Post("/api/delete-set", {{"set", "周一"}}))["sets"], json::array());
    const json misplaced = json::parse(Post("/api/check", {{"links", {{{"name", "a"}, {"url", "www.x"}}}}})->body);
    EXPECT_EQ(misplaced["field"], "url");
    EXPECT_EQ(misplaced["link"], 0);
}

// Each body the page would never send is refused, in Chinese, and nothing
// is published.
TEST_F(PublishServerTest, AnEditOfTheWrongShapeIsRefusedInChinese)
{
    OpenPage();
    ASSERT_EQ(SignIn(kPassword), 200);
    json tooMany = OneLink();
    for (int i = 0; i < 64; ++i)
        tooMany["links"].push_back({{"name", std::to_string(i)}});
    const std::pair<std::string, const char*> bodies[] = {
        {"{\"home\": ", "请求的格式不对"},
        {"[]", "请求的格式不对"},
        {"\"text\"", "请求的格式不对"},
        {R"({"home": 5})", "请求的格式不对"},
        {R"({"links": {"name": "x"}})", "请求的格式不对"},
        {R"({"links": [{"name": "x"}, 7]})", "第 2 个链接：请求的格式不对"},
        {R"({"links": [{"name": 5}]})", "第 1 个链接：请求的格式不对"},
        {R"({"links": [{"name": ["x"]}]})", "请求的格式不对"},
        {"{\"home\": " + std::string(10000, '[') + std::string(10000, ']') + "}", "请求的格式不对"},
        {tooMany.dump(), "链接太多"},
        {R"({"links": [{"name": "x\ud800"}]})", "请求的格式不对"},
    };
    for (const auto& [body, says] : bodies) {
        const httplib::Result result = m_client.Post("/api/publish", Headers(), body, "application/json");
        EXPECT_EQ(result->status, 400) << body;
        EXPECT_NE(json::parse(result->body)["error"].get<std::string>().find(says), std::string::npos) << body;
    }
    EXPECT_TRUE(m_store.History().empty());
}

// A zone whose clock shows about noon now, so that a slot of the whole day
// runs for the rest of the test.
std::string NoonZone()
{
    const std::time_t now = std::time(nullptr);
    std::tm utc = {};
    gmtime_r(&now, &utc);
    return "NOON" + std::to_string(utc.tm_hour - 12);
}

// The timetable's requests: slots saved, overlaps refused under their
// field, a week switched off; a publish and a pause during a slot hold for
// that slot only.
TEST_F(PublishServerTest, TheTimetableIsEditedOnThePageAndWhatIsDoneDuringASlotHoldsForItOnly)
{
    const test::ScopedTimeZone noon(NoonZone().c_str());
    OpenPage();
    EXPECT_EQ(m_client.Get("/api/timetable", Headers())->status, 401);
    ASSERT_EQ(SignIn(kPassword), 200);
    ASSERT_EQ(Post("/api/save-set", {{"set", "语文"}, {"links", {{{"name", "古诗"}}}}, {"hosts", "a.org"}})->status, 200);
    const json day = {{"action", "save"}, {"id", 0}, {"days", "1 2 3 4 5 6 7"}, {"start", "00:00"}, {"end", "23:59"},
        {"set", "语文"}, {"mode", "lesson"}};
    json timetable = json::parse(Post("/api/timetable", day)->body);
    ASSERT_EQ(timetable["slots"].size(), 1u);
    EXPECT_EQ(timetable["slots"][0]["days"].size(), 7u);
    EXPECT_EQ(timetable["running"]["set"], "语文");
    EXPECT_EQ(m_store.Classroom().mode, ClassroomMode::LessonOnly);
    EXPECT_EQ(m_store.Classroom().hosts, "a.org");

    const std::pair<json, const char*> refused[] = {
        {{{"days", "3"}, {"start", "10:00"}, {"end", "11:00"}}, "start"},
        {{{"set", "数学"}}, "set"},
        {{{"start", "8点"}}, "start"},
        {{{"days", ""}}, "days"},
        {{{"id", 9}}, ""},
        {{{"id", "x"}}, ""},
        {{{"action", "stop"}}, ""},
    };
    for (const auto& [change, field] : refused) {
        json form = day;
        form.update(change);
        const httplib::Result result = Post("/api/timetable", form);
        EXPECT_EQ(result->status, 400) << change;
        EXPECT_EQ(json::parse(result->body)["field"], field) << change;
    }

    const json edit = {{"home", "http://school/"}, {"links", {{{"name", "实验"}}}}};
    ASSERT_EQ(Post("/api/publish", edit)->status, 200);
    std::string lesson;
    EXPECT_EQ(ReadWholeFile(m_state.Path() + "/lesson.ini", 1 << 14, lesson).state, WholeFileRead::State::Loaded);
    EXPECT_EQ(lesson.rfind("# lesson: " + timetable["running"]["key"].get<std::string>() + "\n", 0), 0u);
    EXPECT_NE(ReadWholeFile(m_state.Path() + "/catalogue.ini", 1 << 14, lesson).state, WholeFileRead::State::Loaded)
        << "the standing catalogue stays";
    const json paused = Remember(Post("/api/mode", {{"mode", "paused"}, {"message", ""}, {"untilLessonEnd", true}}));
    EXPECT_NEAR(paused["classroom"]["secondsLeft"].get<int>(), timetable["running"]["secondsLeft"].get<int>(), 1);
    EXPECT_EQ(m_store.Classroom().lesson, timetable["running"]["key"]);

    timetable = json::parse(Post("/api/timetable", {{"action", "off"}, {"id", 1}})->body);
    EXPECT_TRUE(timetable["running"].is_null());
    EXPECT_TRUE(timetable["slots"][0]["offThisWeek"]);
    EXPECT_EQ(m_store.Classroom().mode, ClassroomMode::Open) << "the slot's pause ended with it";
    EXPECT_EQ(Post("/api/mode", {{"mode", "paused"}, {"message", ""}, {"untilLessonEnd", true}})->status, 400);
    EXPECT_EQ(Post("/api/delete-set", {{"set", "语文"}})->status, 400) << "a slot still names the set";
    timetable = json::parse(Post("/api/timetable", {{"action", "delete"}, {"id", 1}})->body);
    EXPECT_TRUE(timetable["slots"].empty());
    EXPECT_EQ(Post("/api/delete-set", {{"set", "语文"}})->status, 200);
}

// The mode buttons' request: a teacher's press writes the state file at
// once; bodies the page never sends, and presses out of the rules, are
// refused and change nothing; extra hosts are checked at their field.
TEST_F(PublishServerTest, AModePressWritesTheStateFileAndBadPressesAreRefused)
{
    OpenPage();
    EXPECT_EQ(Post("/api/mode", {{"mode", "paused"}})->status, 401);
    ASSERT_EQ(SignIn(kPassword), 200);
    const json paused = Remember(Post("/api/mode", {{"mode", "paused"}, {"message", "请看黑板"}, {"minutes", 5}}));
    EXPECT_EQ(paused["classroom"]["mode"], "paused");
    EXPECT_GT(paused["classroom"]["secondsLeft"], 295);
    const auto stateFile = [this] {
        std::string text;
        ReadWholeFile(m_store.StatePath(), 1 << 14, text);
        return text;
    };
    const std::string written = stateFile();
    const std::pair<std::string, const char*> refused[] = {
        {R"({"mode": "closed"})", "请求的格式不对"},
        {R"({"message": "x"})", "请求的格式不对"},
        {R"({"mode": "paused", "minutes": "5"})", "请求的格式不对"},
        {R"({"mode": "paused", "message": ["x"]})", "请求的格式不对"},
        {R"({"mode": "paused", "minutes": 99999999999999999999})", "请求的格式不对"},
        {R"({"mode": "paused", "minutes": -3})", "分钟数"},
        {R"({"mode": "paused", "message": "a\nb"})", "一行"},
        {"{\"mode\": \"paused\", \"message\": \"" + std::string(128, 'x') + "\"}", "太长"},
        {"{\"mode\": " + std::string(1000, '[') + std::string(1000, ']') + "}", "请求的格式不对"},
    };
    for (const auto& [body, says] : refused) {
        const httplib::Result result = m_client.Post("/api/mode", Headers(), body, "application/json");
        EXPECT_EQ(result->status, 400) << body;
        EXPECT_NE(json::parse(result->body)["error"].get<std::string>().find(says), std::string::npos) << body;
    }
    EXPECT_EQ(stateFile(), written);
    EXPECT_EQ(m_client.Post("/api/mode", Headers(), std::string(5000, ' '), "application/json")->status, 413);
    const json hosts = json::parse(Post("/api/check", {{"hosts", "cdn.school.cn WWW.x.cn"}})->body);
    EXPECT_EQ(hosts["field"], "hosts");
    EXPECT_EQ(hosts["link"], -1);
}

class PublishPageUnderAttack : public PublishServerTest, public ::testing::WithParamInterface<test::HttpAttack> {};

TEST_P(PublishPageUnderAttack, IsRefusedOrHarmlessAndOtherTeachersAreStillAnswered)
{
    test::AttackTarget target;
    target.port = m_options.port;
    target.postPath = "/api/sign-in";
    // The page runs in this process; a password check alone takes argon2id's 64 MiB.
    const test::AttackReport report = test::RunAttack(GetParam(), target, ::getpid());
    EXPECT_TRUE(report.outcome.harmless) << report.outcome.detail;
    EXPECT_EQ(report.ordinaryUnanswered, 0) << report.outcome.detail;
    EXPECT_TRUE(report.answeredAfterwards);
    EXPECT_LT(report.peakKibAboveIdle, 128 << 10);
}

std::string AttackName(const ::testing::TestParamInfo<test::HttpAttack>& info)
{
    return std::regex_replace(info.param.name, std::regex("[^A-Za-z0-9]"), "_");
}

INSTANTIATE_TEST_SUITE_P(WebLayer, PublishPageUnderAttack, ::testing::ValuesIn(test::WebLayerAttacks()), AttackName);
INSTANTIATE_TEST_SUITE_P(PageOnly, PublishPageUnderAttack, ::testing::ValuesIn(test::PublishPageAttacks()), AttackName);

TEST_F(PublishServerTest, OverHttpsTheCookieIsSecureAndHstsComesOnlyWithTheCertificateItStaffGave)
{
    std::string certificate;
    std::string key;
    ASSERT_EQ(EnsureCertificate(m_state.Path() + "/keys", "127.0.0.1", "127.0.0.1", certificate, key), "");
    for (const bool givenByStaff : {false, true}) {
        PublishOptions options = m_options;
        options.port = TestPort(11 + givenByStaff);
        options.certificatePath = givenByStaff ? certificate : "";
        options.certificateKeyPath = givenByStaff ? key : "";
        CPublishServer server(options, m_oneRoom, m_accounts);
        std::string error;
        ASSERT_TRUE(server.Start(certificate, key, error)) << error;
        httplib::SSLClient browser("127.0.0.1", options.port);
        browser.enable_server_certificate_verification(false);
        const httplib::Result page = browser.Get("/");
        ASSERT_TRUE(page) << httplib::to_string(page.error());
        EXPECT_EQ(page->has_header("Strict-Transport-Security"), givenByStaff);
        const httplib::Result signIn = browser.Post("/api/sign-in",
            {{"Origin", "https://127.0.0.1:" + std::to_string(options.port)},
                {"X-CSRF-Token", json::parse(browser.Get("/api/state")->body)["csrf"]}},
            json{{"user", "anna"}, {"password", kPassword}}.dump(), "application/json");
        ASSERT_TRUE(signIn);
        EXPECT_NE(signIn->get_header_value("Set-Cookie").find("; Secure"), std::string::npos);
    }
}

// Two rooms from rooms.ini, and today's published files from before rooms,
// which move into the first. bo controls r302 only.
class PublishRoomsTest : public PublishServerTest {
protected:
    static void SetUpTestSuite()
    {
        PublishServerTest::SetUpTestSuite();
        CTeacherAccounts accounts(s_users->Path() + "/users");
        ASSERT_EQ(accounts.SetPassword("bo", kPassword), "");
        ASSERT_EQ(accounts.SetRooms("bo", "r302"), "");
    }

    void SetUp() override
    {
        m_options.port = TestPort();
        m_options.hostName = m_options.address;
        m_options.stateFolder = m_state.Path() + "/state";
        m_options.onAirFolder = m_state.Path() + "/on-air";
        m_options.roomsPath = m_state.Path() + "/rooms.ini";
        m_state.Write(m_options.roomsPath, "[room]\nid = r302\nname = 三年二班\nport = 9302\nto = 239.255.93.2\n"
                                           "[room]\nid = r303\nname = 三年三班\nport = 9303\nto = 239.255.93.3\n");
        CPublishStore before(m_options.stateFolder, "");
        ASSERT_EQ(before.Open(), "");
        CatalogueEdit edit;
        edit.links.emplace_back();
        edit.links.back().name = "古诗";
        edit.links.back().url = "http://school/poem";
        ASSERT_EQ(before.SaveSet("周一", edit), "");
        ASSERT_EQ(before.PublishEdit(edit, "anna"), "");
        std::vector<std::string> journal;
        ASSERT_EQ(m_rooms.Open(m_options, journal), "");
        ASSERT_EQ(journal.size(), 1u);
        EXPECT_NE(journal[0].find("in the first room now"), std::string::npos) << journal[0];
        Serve(m_rooms);
    }

    json StateOf(const std::string& room) { return Remember(m_client.Get("/api/state?room=" + room, Headers())); }

    CPublishRooms m_rooms;
};

TEST_F(PublishRoomsTest, TodaysCatalogueSetsAndHistoryMoveIntoTheFirstRoomOnce)
{
    OpenPage();
    ASSERT_EQ(SignIn(kPassword), 200);
    const json first = StateOf("r302");
    EXPECT_EQ(first["published"]["links"][0]["name"], "古诗");
    EXPECT_EQ(first["sets"][0]["name"], "周一");
    EXPECT_EQ(first["history"].size(), 1u);
    EXPECT_EQ(StateOf("r303")["history"], json::array());
    for (const char* moved : {"/catalogue.ini", "/sets", "/history"})
        EXPECT_FALSE(std::filesystem::exists(m_options.stateFolder + moved)) << moved;
    m_state.Write(m_options.stateFolder + "/catalogue.ini", "[link]\nname = x\n");
    std::string error;
    EXPECT_TRUE(MoveIntoFirstRoom(m_options.stateFolder, "r302", error)
        && std::filesystem::exists(m_options.stateFolder + "/catalogue.ini")) << "only on the first start";
}

// Every kind of request about a room: refused for a room not the teacher's
// (or no room, or one that is not there), and answered for their own.
TEST_F(PublishRoomsTest, EveryRequestAboutAnotherRoomIsRefusedAndAboutOnesOwnAnswered)
{
    OpenPage();
    ASSERT_EQ(SignIn(kPassword, "bo"), 200);
    const std::string version = StateOf("r302")["history"][0]["id"];
    const std::vector<std::pair<const char*, json>> posts = {
        {"/api/publish", OneLink()},
        {"/api/check", OneLink()},
        {"/api/save-set", {{"set", "周二"}, {"links", {{{"name", "x"}}}}}},
        {"/api/publish-set", {{"set", "周一"}}},
        {"/api/timetable", {{"action", "save"}, {"id", 0}, {"days", "1"}, {"start", "08:00"}, {"end", "08:45"},
                               {"set", "周一"}, {"mode", "lesson"}}},
        {"/api/republish", {{"id", version}}},
        {"/api/version", {{"id", version}}},
        {"/api/delete-set", {{"set", "周二"}}},
        {"/api/mode", {{"mode", "paused"}, {"minutes", 5}}},
    };
    const auto refused = [](const httplib::Result& result) {
        return result->status == 403 && json::parse(result->body)["error"] == "无权管理这个教室";
    };
    for (const char* get : {"/api/state", "/api/room", "/api/timetable"}) {
        for (const char* room : {"r303", "r999", "R302"})
            EXPECT_TRUE(refused(m_client.Get(get + std::string("?room=") + room, Headers()))) << get << room;
        EXPECT_EQ(m_client.Get(get + std::string("?room=r302"), Headers())->status, 200) << get;
    }
    for (const auto& [path, body] : posts) {
        for (const json& room : {json("r303"), json("r999"), json()}) {
            json aimed = body;
            if (!room.is_null())
                aimed["room"] = room;
            EXPECT_TRUE(refused(Post(path, aimed))) << path << aimed;
        }
        json own = body;
        own["room"] = "r302";
        EXPECT_EQ(Post(path, own)->status, 200) << path;
    }
    EXPECT_EQ(m_rooms.Find("r303")->store->History().size(), 0u);
    EXPECT_EQ(m_rooms.Find("r303")->store->Classroom().mode, ClassroomMode::Open);
    EXPECT_EQ(json::parse(m_client.Get("/api/rooms", Headers())->body),
        json::parse(R"({"admin": false, "rooms": [{"id": "r302", "name": "三年二班"}]})"));
}

TEST(JsonText, ARequestNestedDeeperThanItsFormIsRefusedWhole)
{
    json object;
    EXPECT_TRUE(ReadJsonObject(R"({"user": "anna", "password": "x"})", 1, object));
    EXPECT_FALSE(ReadJsonObject(R"({"user": "anna", "password": {"a": 1}})", 1, object));
    EXPECT_TRUE(ReadJsonObject(R"({"links": [{"name": "x"}]})", kEditJsonDepth, object));
    EXPECT_FALSE(ReadJsonObject(R"({"links": [{"name": ["x"]}]})", kEditJsonDepth, object));
    EXPECT_FALSE(ReadJsonObject("[]", 1, object));
}

TEST(TeacherSessions, ASessionEndsWhenIdleAndAfterTwelveHoursWhateverItsUse)
{
    using namespace std::chrono_literals;
    const CTeacherSessions::Clock::time_point start;
    CTeacherSessions sessions(30min);
    CTeacherSessions::Session session;
    const std::string idle = sessions.SignIn("anna", session, start);
    const std::string used = sessions.SignIn("bo", session, start);
    for (auto now = start; now < start + CTeacherSessions::kLifetime; now += 20min)
        ASSERT_TRUE(sessions.Find(used, session, now));
    EXPECT_FALSE(sessions.Find(used, session, start + CTeacherSessions::kLifetime + 1min));
    EXPECT_FALSE(sessions.Find(idle, session, start + 31min));
    const std::string looked = sessions.SignIn("cai", session, start);
    EXPECT_TRUE(sessions.Find(looked, session, start + 20min, CTeacherSessions::Touch::Look));
    EXPECT_FALSE(sessions.Find(looked, session, start + 31min)) << "a look is no use";
}

TEST(TeacherSessions, APreSignInTokenIsGoodForTwelveHoursFromThisProcessOnly)
{
    using namespace std::chrono_literals;
    const auto made = CTeacherSessions::Clock::now();
    CTeacherSessions sessions(30min);
    const std::string token = sessions.PreSignInToken(made);
    EXPECT_TRUE(sessions.IsPreSignInToken(token, made + CTeacherSessions::kLifetime - 1s));
    EXPECT_FALSE(sessions.IsPreSignInToken(token, made + CTeacherSessions::kLifetime + 1s));
    EXPECT_FALSE(sessions.IsPreSignInToken(token, made - 1s));
    EXPECT_FALSE(CTeacherSessions(30min).IsPreSignInToken(token, made)) << "another process's secret";
    std::string altered = token;
    altered[3] = altered[3] == '0' ? '1' : '0';
    EXPECT_FALSE(sessions.IsPreSignInToken(altered, made));
    EXPECT_FALSE(sessions.IsPreSignInToken("", made));
}

// Failures of one account from one address, at the given seconds, and
// whether a try of (address, account) at the end must wait.
struct LimiterCase {
    const char* what;
    std::vector<int> failures;
    const char* address;
    const char* account;
    int second;
    int wait;
};

TEST(SignInLimiter, FailuresDelayOnlyTheirAccountFromTheirAddressAndTheDelayDoubles)
{
    const LimiterCase cases[] = {
        {"first failure waits a second", {0}, "10.0.0.5", "anna", 0, 1},
        {"and then may try", {0}, "10.0.0.5", "anna", 1, 0},
        {"third failure waits four", {0, 1, 3}, "10.0.0.5", "anna", 3, 4},
        {"never more than the longest", {0, 1, 3, 7, 15, 31, 63, 127, 255, 511, 1023, 2047}, "10.0.0.5", "anna", 2047,
            600},
        {"another address is not delayed", {0, 1, 3}, "10.0.0.6", "anna", 3, 0},
        {"another account is not delayed", {0, 1, 3}, "10.0.0.5", "bo", 3, 0},
    };
    for (const LimiterCase& c : cases) {
        CSignInLimiter limiter;
        const CSignInLimiter::Clock::time_point start;
        for (const int second : c.failures)
            limiter.Record("10.0.0.5", "anna", false, start + std::chrono::seconds(second));
        EXPECT_EQ(limiter.SecondsToWait(c.address, c.account, start + std::chrono::seconds(c.second)), c.wait)
            << c.what;
    }
    CSignInLimiter limiter;
    limiter.Record("10.0.0.5", "anna", false);
    limiter.Record("10.0.0.5", "anna", true);
    EXPECT_EQ(limiter.SecondsToWait("10.0.0.5", "anna"), 0) << "success ends the wait";
}

} // namespace
} // namespace kestrel
