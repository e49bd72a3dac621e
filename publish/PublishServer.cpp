#include "publish/PublishServer.h"

#include "base/ConsoleLine.h"
#include "base/WholeFile.h"
#include "publish/ButtonPicture.h"
#include "publish/JsonText.h"
#include "publish/PublishPage.h"

#include <cerrno>
#include <cstring>
#include <httplib.h>
#include <sodium.h>

namespace kestrel {
namespace {

constexpr const char* kCookieName = "kestrel_session";
// Far more than a catalogue holds, so that the catalogue rules name the limit.
constexpr std::size_t kMostFormLinks = 64;
// The whole edit of twenty links, or a picture, with room for the form.
constexpr std::size_t kLargestRequest = kLargestUpload + (64 << 10);

void SendJson(httplib::Response& response, int status, const std::string& json)
{
    response.status = status;
    response.set_content(json, "application/json; charset=utf-8");
}

void SendError(httplib::Response& response, int status, const std::string& text)
{
    SendJson(response, status, "{\"error\":" + JsonString(text) + "}");
}

std::string SessionCookie(const httplib::Request& request)
{
    const std::string cookies = request.get_header_value("Cookie");
    const std::string key = std::string(kCookieName) + "=";
    for (std::size_t start = 0; start < cookies.size();) {
        while (start < cookies.size() && cookies[start] == ' ')
            ++start;
        std::size_t end = cookies.find(';', start);
        end = end == std::string::npos ? cookies.size() : end;
        if (cookies.compare(start, key.size(), key) == 0)
            return cookies.substr(start + key.size(), end - start - key.size());
        start = end + 1;
    }
    return "";
}

// The edit as the page sends it: "home", then name, caption, url and
// picture (and cool-picture) of each link numbered from 0 in toolbar order
// ("name0", ...).
// Numbered, as the form reader keeps only one of two equal fields.
bool ReadEditForm(const httplib::Request& request, CatalogueEdit& edit, std::string& problem)
{
    edit.home = request.get_param_value("home");
    for (std::size_t i = 0; request.has_param("name" + std::to_string(i)); ++i) {
        if (i == kMostFormLinks) {
            problem = "表单太大";
            return false;
        }
        const std::string number = std::to_string(i);
        edit.links.push_back({request.get_param_value("name" + number), request.get_param_value("caption" + number),
            request.get_param_value("url" + number), request.get_param_value("picture" + number),
            request.get_param_value("coolPicture" + number)});
    }
    return true;
}

std::string EditJson(const CatalogueEdit& edit)
{
    std::string json = "{\"home\":" + JsonString(edit.home) + ",\"links\":[";
    for (std::size_t i = 0; i < edit.links.size(); ++i) {
        const CatalogueEdit::Link& link = edit.links[i];
        json += std::string(i ? "," : "") + "{\"name\":" + JsonString(link.name) + ",\"caption\":"
            + JsonString(link.caption) + ",\"url\":" + JsonString(link.url) + ",\"picture\":"
            + JsonString(link.picture) + ",\"coolPicture\":" + JsonString(link.coolPicture) + "}";
    }
    return json + "]}";
}

bool IsPictureFileName(const std::string& name)
{
    if (name.size() != 36 || name.compare(32, 4, ".bmp") != 0)
        return false;
    for (std::size_t i = 0; i < 32; ++i) {
        if (!((name[i] >= '0' && name[i] <= '9') || (name[i] >= 'a' && name[i] <= 'f')))
            return false;
    }
    return true;
}

} // namespace

CPublishServer::CPublishServer(const PublishOptions& options, CPublishStore& store, const CTeacherAccounts& accounts)
    : m_options(options), m_store(store), m_accounts(accounts), m_sessions(std::chrono::minutes(options.idleMinutes))
{
}

CPublishServer::~CPublishServer()
{
    Stop();
}

bool CPublishServer::Start(const std::string& certificatePath, const std::string& keyPath, std::string& error)
{
    m_tls = !certificatePath.empty();
    if (m_tls) {
        auto server = std::make_unique<httplib::SSLServer>(certificatePath.c_str(), keyPath.c_str());
        if (!server->is_valid()) {
            error = "cannot use the certificate " + certificatePath + " with the key " + keyPath;
            return false;
        }
        m_server = std::move(server);
    } else {
        m_server = std::make_unique<httplib::Server>();
    }
    Route();
    errno = 0;
    if (!m_server->bind_to_port(m_options.address, m_options.port)) {
        error = "cannot listen on " + m_options.address + ":" + std::to_string(m_options.port)
            + (errno != 0 ? std::string(": ") + std::strerror(errno) : std::string());
        return false;
    }
    m_thread = std::thread([this] { m_server->listen_after_bind(); });
    return true;
}

void CPublishServer::Stop()
{
    if (!m_thread.joinable())
        return;
    m_server->stop();
    m_thread.join();
}

bool CPublishServer::HostAllowed(const httplib::Request& request) const
{
    const std::string host = request.get_header_value("Host");
    const std::string port = ":" + std::to_string(m_options.port);
    if (host == m_options.hostName || host == m_options.hostName + port)
        return true;
    return IsLoopbackAddress(m_options.address)
        && (host == "localhost" || host == "localhost" + port || host == m_options.address + port);
}

std::string CPublishServer::CookieFor(const std::string& id) const
{
    return std::string(kCookieName) + "=" + id + "; Path=/; HttpOnly; SameSite=Strict" + (m_tls ? "; Secure" : "");
}

bool CPublishServer::Authorise(const httplib::Request& request, httplib::Response& response, Need need,
    CTeacherSessions::Session& session, std::string& sessionId)
{
    // The page's own origin only: a form on another site cannot post here,
    // even if it learnt a token.
    const std::string origin = (m_tls ? "https://" : "http://") + request.get_header_value("Host");
    const bool sameOrigin = request.has_header("Origin") ? request.get_header_value("Origin") == origin
                                                          : request.get_header_value("Sec-Fetch-Site") == "same-origin";
    if (!sameOrigin) {
        SendError(response, 403, "请求不是来自发布页面");
        return false;
    }
    sessionId = SessionCookie(request);
    if (!m_sessions.Find(sessionId, session)) {
        SendError(response, 401, "会话已过期，请重新登录");
        return false;
    }
    const std::string token = request.get_header_value("X-CSRF-Token");
    if (token.size() != session.csrf.size()
        || sodium_memcmp(token.data(), session.csrf.data(), token.size()) != 0) {
        SendError(response, 403, "缺少或错误的安全令牌，请刷新页面");
        return false;
    }
    if (need == Need::Teacher && session.user.empty()) {
        SendError(response, 401, "请先登录");
        return false;
    }
    return true;
}

std::string CPublishServer::StateJson(const CTeacherSessions::Session& session) const
{
    std::string json = "{\"csrf\":" + JsonString(session.csrf) + ",\"user\":" + JsonString(session.user);
    if (session.user.empty())
        return json + "}";
    json += ",\"pictureUrl\":" + JsonString(m_options.pictureUrl) + ",\"published\":" + EditJson(m_store.Published());
    json += ",\"sets\":[";
    bool first = true;
    for (const CPublishStore::LessonSet& set : m_store.Sets()) {
        json += std::string(first ? "" : ",") + "{\"name\":" + JsonString(set.name) + ",\"edit\":" + EditJson(set.edit)
            + "}";
        first = false;
    }
    json += "],\"history\":[";
    first = true;
    for (const CPublishStore::Publish& publish : m_store.History()) {
        json += std::string(first ? "" : ",") + "{\"id\":" + JsonString(publish.id) + ",\"user\":"
            + JsonString(publish.user) + ",\"time\":" + std::to_string(publish.timeMs) + "}";
        first = false;
    }
    return json + "]}";
}

void CPublishServer::SendState(const httplib::Request& request, httplib::Response& response)
{
    CTeacherSessions::Session session;
    const std::string id = SessionCookie(request);
    if (!m_sessions.Find(id, session))
        response.set_header("Set-Cookie", CookieFor(m_sessions.Start(session)));
    SendJson(response, 200, StateJson(session));
}

void CPublishServer::SignIn(const httplib::Request& request, httplib::Response& response)
{
    CTeacherSessions::Session session;
    std::string id;
    if (!Authorise(request, response, Need::AnySession, session, id))
        return;
    if (!m_limiter.Allow(request.remote_addr)) {
        SendError(response, 429, "登录尝试太频繁，请一分钟后再试");
        return;
    }
    const std::string user = request.get_param_value("user");
    bool valid = false;
    {
        std::lock_guard<std::mutex> lock(m_verifyMutex);
        valid = m_accounts.Verify(user, request.get_param_value("password"));
    }
    if (!valid) {
        PrintLine("publish: refused sign-in as \"" + (CTeacherAccounts::IsValidName(user) ? user : "?") + "\" from "
            + request.remote_addr);
        SendError(response, 403, "用户名或密码错误");
        return;
    }
    response.set_header("Set-Cookie", CookieFor(m_sessions.SignIn(id, user, session)));
    PrintLine("publish: " + user + " signed in from " + request.remote_addr);
    SendJson(response, 200, StateJson(session));
}

void CPublishServer::UploadPicture(const httplib::Request& request, httplib::Response& response)
{
    CTeacherSessions::Session session;
    std::string id;
    if (!Authorise(request, response, Need::Teacher, session, id))
        return;
    if (!request.has_file("picture")) {
        SendError(response, 400, "没有收到图片");
        return;
    }
    std::string bmp;
    std::string problem;
    std::string fileName;
    if (!EncodeButtonPicture(request.get_file_value("picture").content, bmp, problem)
        || !(problem = m_store.SavePicture(bmp, fileName)).empty()) {
        SendError(response, 400, problem);
        return;
    }
    SendJson(response, 200, "{\"picture\":" + JsonString(m_options.pictureUrl + fileName) + "}");
}

void CPublishServer::Route()
{
    httplib::Server& server = *m_server;
    server.set_payload_max_length(kLargestRequest);
    server.set_read_timeout(10, 0);
    server.set_default_headers({
        {"Content-Security-Policy",
            "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self'; connect-src 'self'; "
            "form-action 'self'; base-uri 'none'; frame-ancestors 'none'"},
        {"X-Content-Type-Options", "nosniff"},
        {"X-Frame-Options", "DENY"},
        {"Referrer-Policy", "no-referrer"},
        {"Cache-Control", "no-store"},
    });
    server.set_pre_routing_handler([this](const httplib::Request& request, httplib::Response& response) {
        if (HostAllowed(request))
            return httplib::Server::HandlerResponse::Unhandled;
        PrintLine("publish: refused the Host \"" + request.get_header_value("Host") + "\" from " + request.remote_addr);
        SendError(response, 421, "未知的主机名");
        return httplib::Server::HandlerResponse::Handled;
    });
    for (const PageFile& file : PageFiles()) {
        server.Get(file.path, [file](const httplib::Request&, httplib::Response& response) {
            response.set_content(file.content.data(), file.content.size(), file.type);
        });
    }
    server.Get(R"(/pictures/([0-9a-f]{32}\.bmp))", [this](const httplib::Request& request, httplib::Response& response) {
        std::string bmp;
        const std::string name = request.matches[1];
        if (!IsPictureFileName(name) || ReadWholeFile(m_store.PicturesFolder() + "/" + name, 1 << 16, bmp).state
                != WholeFileRead::State::Loaded) {
            response.status = 404;
            return;
        }
        response.set_content(bmp, "image/bmp");
    });
    server.Get("/api/state", [this](const httplib::Request& request, httplib::Response& response) {
        SendState(request, response);
    });
    server.Post("/api/sign-in", [this](const httplib::Request& request, httplib::Response& response) {
        SignIn(request, response);
    });
    server.Post("/api/sign-out", [this](const httplib::Request& request, httplib::Response& response) {
        CTeacherSessions::Session session;
        std::string id;
        if (!Authorise(request, response, Need::AnySession, session, id))
            return;
        m_sessions.End(id);
        SendState(httplib::Request(), response);
    });
    server.Post("/api/picture", [this](const httplib::Request& request, httplib::Response& response) {
        UploadPicture(request, response);
    });
    // Every change of the catalogue: the form's edit, or a name in the store.
    server.Post(R"(/api/(check|publish|save-set|publish-set|republish))",
        [this](const httplib::Request& request, httplib::Response& response) {
            CTeacherSessions::Session session;
            std::string id;
            if (!Authorise(request, response, Need::Teacher, session, id))
                return;
            const std::string action = request.matches[1];
            CatalogueEdit edit;
            std::string problem;
            if (action == "publish-set") {
                problem = m_store.PublishSet(request.get_param_value("set"), session.user);
            } else if (action == "republish") {
                problem = m_store.Republish(request.get_param_value("id"), session.user);
            } else if (ReadEditForm(request, edit, problem)) {
                problem = action == "check"     ? CheckCatalogueEdit(edit)
                    : action == "publish"       ? m_store.PublishEdit(edit, session.user)
                                                : m_store.SaveSet(request.get_param_value("set"), edit);
            }
            if (!problem.empty()) {
                SendError(response, 400, problem);
                return;
            }
            if (action != "check")
                PrintLine("publish: " + session.user + " did " + action + " from " + request.remote_addr);
            SendJson(response, 200, StateJson(session));
        });
    server.set_logger([](const httplib::Request& request, const httplib::Response& response) {
        if (response.status >= 400 && response.status != 421) {
            PrintLine("publish: " + std::to_string(response.status) + " for " + request.method + " " + request.path
                + " from " + request.remote_addr);
        }
    });
}

} // namespace kestrel
