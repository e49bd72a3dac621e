#include "publish/PublishServer.h"

#include "tests/support/TemporaryFolder.h"

#include <gd.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <thread>
#include <unistd.h>

namespace kestrel {
namespace {

constexpr const char* kPassword = "correct horse";

class PublishServerTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        s_users = new test::TemporaryFolder;
        ASSERT_EQ(CTeacherAccounts(s_users->Path() + "/users").SetPassword("anna", kPassword), "");
    }
    static void TearDownTestSuite() { delete s_users; }

    void SetUp() override
    {
        m_options.port = 20000 + ::getpid() % 20000;
        m_options.hostName = m_options.address;
        m_options.pictureUrl = "http://pictures.school:8080/";
        ASSERT_EQ(m_store.Open(), "");
        m_server = std::make_unique<CPublishServer>(m_options, m_store, m_accounts);
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
    void Remember(const httplib::Result& result)
    {
        ASSERT_TRUE(result);
        const std::string cookie = result->get_header_value("Set-Cookie");
        if (!cookie.empty())
            m_session = cookie.substr(16, cookie.find(';') - 16);
        const std::size_t csrf = result->body.find("\"csrf\":\"");
        if (csrf != std::string::npos)
            m_csrf = result->body.substr(csrf + 8, 64);
    }

    void OpenSession() { Remember(m_client.Get("/api/state")); }

    int SignIn(const std::string& password)
    {
        const httplib::Result result
            = m_client.Post("/api/sign-in", Headers(), httplib::Params{{"user", "anna"}, {"password", password}});
        Remember(result);
        return result ? result->status : -1;
    }

    static test::TemporaryFolder* s_users;
    test::TemporaryFolder m_state;
    PublishOptions m_options;
    CPublishStore m_store{m_state.Path(), ""};
    CTeacherAccounts m_accounts{s_users->Path() + "/users"};
    std::unique_ptr<CPublishServer> m_server;
    httplib::Client m_client{"127.0.0.1", 20000 + ::getpid() % 20000};
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
    EXPECT_EQ(page->body.find("<script>"), std::string::npos);
    const std::string cookie = m_client.Get("/api/state")->get_header_value("Set-Cookie");
    EXPECT_NE(cookie.find("HttpOnly"), std::string::npos);
    EXPECT_NE(cookie.find("SameSite=Strict"), std::string::npos);
}

TEST_F(PublishServerTest, APostWithoutTokenOrFromAnotherOriginIsRefused)
{
    OpenSession();
    ASSERT_EQ(SignIn(kPassword), 200);
    const httplib::Params edit{{"home", "http://school/"}, {"name0", "x"}, {"caption0", ""}, {"url0", ""}, {"picture0", ""}};
    EXPECT_EQ(m_client.Post("/api/publish", Headers(false), edit)->status, 403);
    httplib::Headers wrongToken = Headers(false);
    wrongToken.emplace("X-CSRF-Token", std::string(64, '0'));
    EXPECT_EQ(m_client.Post("/api/publish", wrongToken, edit)->status, 403);
    httplib::Headers foreign = Headers();
    foreign.erase("Origin");
    foreign.emplace("Origin", "http://attacker.example");
    EXPECT_EQ(m_client.Post("/api/publish", foreign, edit)->status, 403);
    httplib::Headers noOrigin = Headers();
    noOrigin.erase("Origin");
    EXPECT_EQ(m_client.Post("/api/publish", noOrigin, edit)->status, 403);
    EXPECT_TRUE(m_store.History().empty());
    EXPECT_EQ(m_client.Post("/api/publish", Headers(), edit)->status, 200);
    EXPECT_EQ(m_store.History().size(), 1u);
}

TEST_F(PublishServerTest, TheSixthQuickSignInIsHeldBackEvenWithTheRightPassword)
{
    OpenSession();
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(SignIn("wrong password"), 403) << i;
    EXPECT_EQ(SignIn(kPassword), 429);
}

TEST_F(PublishServerTest, NothingChangesWithoutSigningInAndSigningOutEndsTheSession)
{
    OpenSession();
    const httplib::Params edit{{"name0", "x"}, {"caption0", ""}, {"url0", ""}, {"picture0", ""}};
    EXPECT_EQ(m_client.Post("/api/publish", Headers(), edit)->status, 401);
    const std::string before = m_session;
    ASSERT_EQ(SignIn(kPassword), 200);
    EXPECT_NE(m_session, before) << "signing in starts a new session";
    const std::string signedIn = m_session;
    const std::string token = m_csrf;
    Remember(m_client.Post("/api/sign-out", Headers(), httplib::Params{}));
    m_session = signedIn;
    m_csrf = token;
    EXPECT_EQ(m_client.Post("/api/publish", Headers(), edit)->status, 401);
}

TEST_F(PublishServerTest, AnUploadIsStoredOnlyAsTheReEncodedButtonPicture)
{
    OpenSession();
    ASSERT_EQ(SignIn(kPassword), 200);
    gdImagePtr image = gdImageCreateTrueColor(100, 100);
    int size = 0;
    void* png = gdImagePngPtr(image, &size);
    const std::string upload(static_cast<const char*>(png), static_cast<std::size_t>(size));
    gdFree(png);
    gdImageDestroy(image);
    const httplib::Result result = m_client.Post("/api/picture", Headers(),
        httplib::MultipartFormDataItems{{"picture", upload, "lesson.png", "image/png"}});
    ASSERT_EQ(result->status, 200) << result->body;
    const std::size_t at = result->body.find("http://pictures.school:8080/");
    ASSERT_NE(at, std::string::npos) << result->body;
    const std::string file = result->body.substr(at + 28, 36);
    const httplib::Result served = m_client.Get("/pictures/" + file);
    ASSERT_EQ(served->status, 200);
    EXPECT_EQ(served->body.size(), 54u + 24 * 72);
    EXPECT_EQ(served->get_header_value("Content-Type"), "image/bmp");
    const httplib::Result script = m_client.Post("/api/picture", Headers(),
        httplib::MultipartFormDataItems{{"picture", "<script>alert(1)</script>", "x.png", "image/png"}});
    EXPECT_EQ(script->status, 400);
}

TEST_F(PublishServerTest, TextsComeBackEscaped)
{
    OpenSession();
    ASSERT_EQ(SignIn(kPassword), 200);
    const httplib::Result result = m_client.Post("/api/publish", Headers(),
        httplib::Params{{"home", ""}, {"name0", "x"}, {"caption0", "<script>alert(\"x\")</script>"}, {"url0", ""},
            {"picture0", ""}});
    ASSERT_EQ(result->status, 200) << result->body;
    EXPECT_EQ(result->body.find("<script>"), std::string::npos);
    EXPECT_NE(result->body.find("\\u003cscript\\u003ealert(\\\"x\\\")"), std::string::npos) << result->body;
}

TEST(TeacherSessions, ASessionIdleTooLongIsForgotten)
{
    CTeacherSessions sessions(std::chrono::milliseconds(100));
    CTeacherSessions::Session session;
    const std::string idle = sessions.SignIn("", "anna", session);
    const std::string used = sessions.SignIn("", "bo", session);
    for (int i = 0; i < 3; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        EXPECT_TRUE(sessions.Find(used, session));
    }
    EXPECT_FALSE(sessions.Find(idle, session));
    EXPECT_EQ(session.user, "bo");
}

} // namespace
} // namespace kestrel
