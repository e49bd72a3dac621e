#include "publish/PublishServer.h"

#include "base/ConsoleLine.h"
#include "base/GbkText.h"
#include "base/WholeFile.h"
#include "publish/ClassroomStateFile.h"
#include "publish/UploadedPicture.h"
#include "publish/JsonText.h"
#include "publish/PublishPage.h"
#include "publish/RoomAnswer.h"
#include "publish/TimetableRequests.h"
#include "tools/ClassroomStateText.h"
#include "tools/InertJson.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <nlohmann/json.hpp>
#include <sodium.h>

namespace kestrel {
namespace {

constexpr const char* kCookieName = "kestrel_session";
constexpr std::size_t kLargestPem = 1 << 16;
// A name and a password, or a name of the store.
constexpr std::size_t kLargestSmallRequest = 4 << 10;
// Twenty links of the longest texts, every character escaped as \uXXXX.
constexpr std::size_t kLargestEdit = 128 << 10;
// A name and a password, or a mode button's press, side by side: nothing nests.
constexpr int kFlatJsonDepth = 1;
constexpr const char* kBadRequest = "请求的格式不对，请刷新页面";
constexpr const char* kNotYourRoom = "无权管理这个教室";
// The page's own copies of the pictures, for its preview.
constexpr const char* kPicturesPath = "/pictures/";

// A password check and a picture to re-encode may take a while, so every
// connection has a thread of its own and holds up no other teacher.
HttpServerLimits PageLimits()
{
    HttpServerLimits limits;
    limits.threads = 0;
    limits.connectionsPerAddress = 16;
    limits.connections = 512;
    return limits;
}

void SendJson(HttpResponse& response, int status, const nlohmann::json& value)
{
    response.status = status;
    response.contentType = "application/json; charset=utf-8";
    response.body = InertJsonText(value);
}

void SendError(HttpResponse& response, int status, const std::string& text)
{
    SendJson(response, status, {{"error", text}});
}

std::string SessionCookie(const HttpRequest& request)
{
    const std::string_view cookies = request.Header("Cookie");
    const std::string key = std::string(kCookieName) + "=";
    for (std::size_t start = 0; start < cookies.size();) {
        while (start < cookies.size() && cookies[start] == ' ')
            ++start;
        std::size_t end = cookies.find(';', start);
        end = end == std::string_view::npos ? cookies.size() : end;
        if (cookies.compare(start, key.size(), key) == 0)
            return std::string(cookies.substr(start + key.size(), end - start - key.size()));
        start = end + 1;
    }
    return "";
}

// The uploads' names, and the names IT staff gave the catalogue's own
// pictures in the same folder: a plain name, never a path.
bool IsPictureFileName(const std::string& name)
{
    if (name.size() < 5 || name.size() > 64 || name.front() == '.' || name.compare(name.size() - 4, 4, ".bmp") != 0)
        return false;
    for (const char c : name) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '-' || c == '_'
                || c == '.'))
            return false;
    }
    return true;
}

const PageFile* FindPageFile(const std::string& path)
{
    for (const PageFile& file : PageFiles()) {
        if (path == file.path)
            return &file;
    }
    return nullptr;
}

bool StartsWith(std::string_view text, std::string_view start)
{
    return text.substr(0, start.size()) == start;
}

// " in r302" for the journal; nothing without rooms.
std::string RoomWords(const PublishRoom& room)
{
    return room.id.empty() ? "" : " in " + room.id;
}

std::int64_t NowSeconds()
{
    return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
}

// The pause's minutes: absent is none; -1 for a number out of range, which
// the mode's rules name; false when it is no whole number.
bool ReadMinutes(const nlohmann::json& form, int& minutes)
{
    const auto member = form.find("minutes");
    minutes = 0;
    if (member == form.end())
        return true;
    if (!member->is_number_integer())
        return false;
    const long long value = member->get<long long>();
    minutes = value < 0 || value > kLongestPauseMinutes ? -1 : static_cast<int>(value);
    return true;
}

} // namespace

CPublishServer::CPublishServer(const PublishOptions& options, const CPublishRooms& rooms,
    const CTeacherAccounts& accounts)
    : m_options(options), m_rooms(rooms), m_accounts(accounts), m_sessions(std::chrono::minutes(options.idleMinutes)),
      m_server(
          PageLimits(),
          [this](const HttpRequest& head, std::size_t& largestBody, HttpResponse& refusal) {
              return Admit(head, largestBody, refusal);
          },
          [this](const HttpRequest& request, HttpResponse& response) { Answer(request, response); },
          [](const HttpRequest& request, int status) {
              if (status >= 400 && status != 421) {
                  PrintLine("publish: " + std::to_string(status) + " for " + request.Method() + " " + request.Path()
                      + " from " + request.RemoteAddress());
              }
          })
{
}

CPublishServer::~CPublishServer()
{
    Stop();
}

bool CPublishServer::Start(const std::string& certificatePath, const std::string& keyPath, std::string& error)
{
    m_tls = !certificatePath.empty();
    m_strictTransport = m_tls && certificatePath == m_options.certificatePath;
    std::string certificate;
    std::string key;
    if (m_tls
        && (ReadWholeFile(certificatePath, kLargestPem, certificate).state != WholeFileRead::State::Loaded
            || ReadWholeFile(keyPath, kLargestPem, key).state != WholeFileRead::State::Loaded)) {
        error = "cannot read the certificate " + certificatePath + " or its key " + keyPath;
        return false;
    }
    const bool started = m_server.Start(m_options.address, m_options.port, error, certificate, key);
    sodium_memzero(key.data(), key.size());
    return started;
}

void CPublishServer::Stop()
{
    m_server.Stop();
}

bool CPublishServer::HostAllowed(const HttpRequest& request) const
{
    const std::string_view host = request.Header("Host");
    const std::string port = ":" + std::to_string(m_options.port);
    const auto names = [&](const std::string& name) { return host == name || host == name + port; };
    // The name browsers use, and the address the page listens on, which its
    // own certificate names too; a foreign name that resolves here (DNS
    // rebinding) is neither.
    if (names(m_options.hostName) || (m_options.address != "0.0.0.0" && names(m_options.address)))
        return true;
    return IsLoopbackAddress(m_options.address) && names("localhost");
}

std::string CPublishServer::CookieFor(const std::string& id) const
{
    return std::string(kCookieName) + "=" + id + "; Path=/; HttpOnly; SameSite=Strict" + (m_tls ? "; Secure" : "");
}

void CPublishServer::AddPageHeaders(HttpResponse& response) const
{
    response.headers.insert(response.headers.end(),
        {
            {"Content-Security-Policy",
                "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self'; connect-src 'self'; "
                "form-action 'self'; base-uri 'none'; frame-ancestors 'none'"},
            {"X-Frame-Options", "DENY"},
            {"Referrer-Policy", "no-referrer"},
            {"Cache-Control", "no-store"},
        });
    if (m_strictTransport)
        response.headers.emplace_back("Strict-Transport-Security", "max-age=31536000");
}

int CPublishServer::Authorise(const HttpRequest& request, Need need, CTeacherSessions::Session& session,
    std::string& problem)
{
    // The page's own origin only: a form on another site cannot post here,
    // even if it learnt a token.
    const std::string origin = (m_tls ? "https://" : "http://") + std::string(request.Header("Host"));
    const bool sameOrigin = request.HasHeader("Origin") ? request.Header("Origin") == origin
                                                         : request.Header("Sec-Fetch-Site") == "same-origin";
    if (!sameOrigin) {
        problem = "请求不是来自发布页面";
        return 403;
    }
    const std::string_view token = request.Header("X-CSRF-Token");
    if (need == Need::PreSignInToken) {
        if (m_sessions.IsPreSignInToken(token))
            return 0;
        problem = "缺少或错误的安全令牌，请刷新页面";
        return 403;
    }
    const auto touch = need == Need::TeacherLooking ? CTeacherSessions::Touch::Look : CTeacherSessions::Touch::Use;
    if (!m_sessions.Find(SessionCookie(request), session, CTeacherSessions::Clock::now(), touch)) {
        problem = "登录已超时，请重新登录";
        return 401;
    }
    if (token.size() != session.csrf.size() || sodium_memcmp(token.data(), session.csrf.data(), token.size()) != 0) {
        problem = "缺少或错误的安全令牌，请刷新页面";
        return 403;
    }
    return 0;
}

const CPublishServer::PostRoute* CPublishServer::FindPostRoute(const std::string& path)
{
    static const PostRoute routes[] = {
        {"/api/sign-in", Need::PreSignInToken, false, kLargestSmallRequest},
        {"/api/sign-out", Need::Teacher, false, kLargestSmallRequest},
        {"/api/picture", Need::Teacher, true, kLargestUpload},
        {"/api/check", Need::Teacher, false, kLargestEdit},
        {"/api/publish", Need::Teacher, false, kLargestEdit},
        {"/api/save-set", Need::Teacher, false, kLargestEdit},
        {"/api/publish-set", Need::Teacher, false, kLargestSmallRequest},
        {"/api/republish", Need::Teacher, false, kLargestSmallRequest},
        {"/api/delete-set", Need::Teacher, false, kLargestSmallRequest},
        {"/api/version", Need::Teacher, false, kLargestSmallRequest},
        {"/api/mode", Need::Teacher, false, kLargestSmallRequest},
        {"/api/timetable", Need::Teacher, false, kLargestSmallRequest},
    };
    for (const PostRoute& route : routes) {
        if (path == route.path)
            return &route;
    }
    return nullptr;
}

bool CPublishServer::Admit(const HttpRequest& head, std::size_t& largestBody, HttpResponse& refusal)
{
    largestBody = 0;
    const PostRoute* route = FindPostRoute(head.Path());
    const std::string_view lengthText = head.Header("Content-Length");
    std::size_t length = 0;
    CTeacherSessions::Session session;
    std::string problem;
    if (!HostAllowed(head)) {
        PrintLine("publish: refused the Host \"" + std::string(head.Header("Host")) + "\" from " + head.RemoteAddress());
        SendError(refusal, 421, "未知的主机名");
    } else if (head.Method() == "GET") {
        return true;
    } else if (head.Method() != "POST" || !route) {
        SendError(refusal, 404, "没有这个网页");
    } else if (const int status = Authorise(head, route->need, session, problem)) {
        SendError(refusal, status, problem);
    } else if (!StartsWith(head.Header("Content-Type"), route->picture ? "image/" : "application/json")) {
        SendError(refusal, 415, route->picture ? "没有收到图片" : kBadRequest);
    } else if (std::from_chars(lengthText.data(), lengthText.data() + lengthText.size(), length).ec == std::errc()
        && length > route->largestBody) {
        SendError(refusal, 413, route->picture ? "图片太大：最多 2 MB" : "内容太多");
    } else {
        largestBody = route->largestBody;
        return true;
    }
    AddPageHeaders(refusal);
    return false;
}

void CPublishServer::Answer(const HttpRequest& request, HttpResponse& response)
{
    if (request.Method() == "GET") {
        AnswerGet(request, response);
    } else if (const PostRoute* route = FindPostRoute(request.Path())) {
        AnswerPost(*route, request, response);
    } else {
        SendError(response, 404, "没有这个网页");
    }
    AddPageHeaders(response);
}

void CPublishServer::AnswerGet(const HttpRequest& request, HttpResponse& response)
{
    const std::string& path = request.Path();
    if (const PageFile* file = FindPageFile(path)) {
        response.contentType = file->type;
        response.body = std::string(file->content);
    } else if (StartsWith(path, kPicturesPath)) {
        const std::string name = path.substr(std::char_traits<char>::length(kPicturesPath));
        if (IsPictureFileName(name)
            && ReadWholeFile(m_rooms.Pictures().PicturesFolder() + "/" + name, 1 << 16, response.body).state
                == WholeFileRead::State::Loaded) {
            response.contentType = "image/bmp";
        } else {
            SendError(response, 404, "没有这个图片");
        }
    } else if (path == "/api/state") {
        CTeacherSessions::Session session;
        if (!m_sessions.Find(SessionCookie(request), session)) {
            SendJson(response, 200, State(nullptr));
            return;
        }
        // The page's first look names no room: the teacher's first.
        const std::string id(request.Query("room"));
        if (id.empty())
            SendJson(response, 200, State(&session, FirstRoom(session.user)));
        else if (const PublishRoom* room = RoomFor(session.user, id, response))
            SendJson(response, 200, State(&session, room));
    } else if (path == "/api/room" || path == "/api/rooms" || path == "/api/timetable") {
        CTeacherSessions::Session session;
        std::string problem;
        if (const int status = Authorise(request, Need::TeacherLooking, session, problem))
            SendError(response, status, problem);
        else if (path == "/api/rooms")
            SendJson(response, 200, Rooms(session.user));
        else if (const PublishRoom* room = RoomFor(session.user, std::string(request.Query("room")), response))
            SendJson(response, 200, path == "/api/room" ? RoomAnswer(room->onAirFolder, NowSeconds())
                                                        : TimetableJson(*room->store, NowSeconds()));
    } else {
        SendError(response, 404, "没有这个网页");
    }
}

void CPublishServer::AnswerPost(const PostRoute& route, const HttpRequest& request, HttpResponse& response)
{
    CTeacherSessions::Session session;
    std::string problem;
    if (const int status = Authorise(request, route.need, session, problem)) {
        SendError(response, status, problem);
        return;
    }
    const std::string path = request.Path();
    if (route.need == Need::PreSignInToken) {
        SignIn(request, response);
    } else if (path == "/api/sign-out") {
        m_sessions.End(SessionCookie(request));
        response.headers.emplace_back("Set-Cookie", std::string(kCookieName) + "=; Path=/; Max-Age=0");
        SendJson(response, 200, State(nullptr));
    } else if (path == "/api/mode") {
        SetMode(session, request, response);
    } else if (path == "/api/timetable") {
        ChangeTimetable(session, request, response);
    } else if (route.picture) {
        std::string bmp;
        std::string fileName;
        if (!EncodeButtonPicture(request.Body(), bmp, problem)
            || !(problem = m_rooms.Pictures().SavePicture(bmp, fileName)).empty())
            SendError(response, 400, problem);
        else
            SendJson(response, 200, {{"picture", m_options.pictureUrl + fileName}});
    } else {
        Change(path.substr(5), session, request, response);
    }
}

const PublishRoom* CPublishServer::RoomFor(const std::string& user, const std::string& id,
    HttpResponse& response) const
{
    if (id.empty() && !m_rooms.Named())
        return &m_rooms.All().front();
    const PublishRoom* room = m_rooms.Find(id);
    // A room that is not there is refused as one that is someone else's,
    // so the answer tells nobody which rooms there are.
    if (!room || !m_accounts.RoomsOf(user).Controls(id)) {
        SendError(response, 403, kNotYourRoom);
        return nullptr;
    }
    return room;
}

const PublishRoom* CPublishServer::FirstRoom(const std::string& user) const
{
    if (!m_rooms.Named())
        return &m_rooms.All().front();
    const TeacherRooms rooms = m_accounts.RoomsOf(user);
    const auto controlled = [&rooms](const PublishRoom& room) { return rooms.Controls(room.id); };
    const auto first = std::find_if(m_rooms.All().begin(), m_rooms.All().end(), controlled);
    return first == m_rooms.All().end() ? nullptr : &*first;
}

nlohmann::json CPublishServer::Rooms(const std::string& user) const
{
    const TeacherRooms rooms = m_accounts.RoomsOf(user);
    // One room needs no wall.
    const bool wall = rooms.admin && m_rooms.Named();
    nlohmann::json list = nlohmann::json::array();
    const std::int64_t now = NowSeconds();
    for (const PublishRoom& room : m_rooms.All()) {
        if (!rooms.Controls(room.id))
            continue;
        nlohmann::json item = {{"id", room.id}, {"name", room.name}};
        if (wall) {
            const nlohmann::json view = RoomAnswer(room.onAirFolder, now);
            item["counts"] = view["room"].is_object() && view["room"].contains("counts") ? view["room"]["counts"]
                                                                                          : nlohmann::json();
            item["age"] = view.value("age", 0);
            item["why"] = view.value("why", "");
        }
        list.push_back(std::move(item));
    }
    return {{"rooms", std::move(list)}, {"admin", wall}};
}

void CPublishServer::SignIn(const HttpRequest& request, HttpResponse& response)
{
    nlohmann::json form;
    std::string user;
    std::string password;
    if (!ReadJsonObject(request.Body(), kFlatJsonDepth, form) || !ReadJsonText(form, "user", user)
        || !ReadJsonText(form, "password", password)) {
        SendError(response, 400, kBadRequest);
        return;
    }
    // Names no account can have share one entry of the limiter.
    const std::string account = CTeacherAccounts::IsValidName(user) ? user : "?";
    if (const int wait = m_limiter.SecondsToWait(request.RemoteAddress(), account)) {
        SendError(response, 429, "登录尝试太频繁，请 " + std::to_string(wait) + " 秒后再试");
        return;
    }
    bool valid = false;
    {
        std::lock_guard<std::mutex> lock(m_verifyMutex);
        valid = m_accounts.Verify(user, password);
    }
    sodium_memzero(password.data(), password.size());
    m_limiter.Record(request.RemoteAddress(), account, valid);
    if (!valid) {
        PrintLine("publish: refused sign-in as \"" + account + "\" from " + request.RemoteAddress());
        SendError(response, 403, "用户名或密码错误");
        return;
    }
    CTeacherSessions::Session session;
    response.headers.emplace_back("Set-Cookie", CookieFor(m_sessions.SignIn(user, session)));
    PrintLine("publish: " + user + " signed in from " + request.RemoteAddress());
    SendJson(response, 200, State(&session, FirstRoom(user)));
}

// Every change of the catalogue: the page's edit, or a name in the store;
// and a look at a version in the history.
void CPublishServer::Change(const std::string& action, const CTeacherSessions::Session& session,
    const HttpRequest& request, HttpResponse& response)
{
    nlohmann::json form;
    std::string name;
    CatalogueEdit edit;
    std::string problem;
    EditPlace place;
    std::string id;
    const bool byName = action != "check" && action != "publish";
    if (!ReadJsonObject(request.Body(), kEditJsonDepth, form) || !ReadJsonText(form, "room", id)
        || !ReadJsonText(form, action == "republish" || action == "version" ? "id" : "set", name)) {
        SendError(response, 400, kBadRequest);
        return;
    }
    const PublishRoom* room = RoomFor(session.user, id, response);
    if (!room)
        return;
    CPublishStore& store = *room->store;
    if (action == "version") {
        if ((problem = store.Version(name, edit)).empty()) {
            SendJson(response, 200, {{"edit", EditJson(edit)}});
            return;
        }
    } else if (action == "publish-set") {
        problem = store.PublishSet(name, session.user);
    } else if (action == "republish") {
        problem = store.Republish(name, session.user);
    } else if (action == "delete-set") {
        problem = store.DeleteSet(name);
    } else if (ReadEditJson(form, edit, problem)) {
        if (action == "save-set")
            problem = store.SaveSet(name, edit);
        else if ((problem = CheckCatalogueEdit(edit, &place)).empty() && action == "publish")
            problem = store.PublishEdit(edit, session.user, name);
    }
    if (!problem.empty()) {
        // The page shows an edit's mistake under the field it lies in.
        nlohmann::json refusal = {{"error", problem}};
        if (!byName && !place.field.empty())
            refusal.update({{"link", place.link}, {"field", place.field}});
        SendJson(response, 400, refusal);
        return;
    }
    if (action != "check")
        PrintLine("publish: " + session.user + " did " + action + RoomWords(*room) + " from " + request.RemoteAddress());
    SendJson(response, 200, State(&session, room));
}

void CPublishServer::ChangeTimetable(const CTeacherSessions::Session& session, const HttpRequest& request,
    HttpResponse& response)
{
    nlohmann::json form;
    std::string field;
    std::string id;
    bool badRequest = !ReadJsonObject(request.Body(), kFlatJsonDepth, form) || !ReadJsonText(form, "room", id);
    const PublishRoom* room = badRequest ? nullptr : RoomFor(session.user, id, response);
    if (!badRequest && !room)
        return;
    const std::string problem
        = badRequest ? "" : ChangeTimetableByForm(*room->store, form, NowSeconds(), field, badRequest);
    if (badRequest || !problem.empty()) {
        SendJson(response, 400, {{"error", badRequest ? kBadRequest : problem}, {"field", field}});
        return;
    }
    PrintLine("publish: " + session.user + " changed the timetable" + RoomWords(*room) + " from "
        + request.RemoteAddress());
    SendJson(response, 200, TimetableJson(*room->store, NowSeconds()));
}

// A mode button: the state file changes at once, the catalogue stays.
void CPublishServer::SetMode(const CTeacherSessions::Session& session, const HttpRequest& request,
    HttpResponse& response)
{
    nlohmann::json form;
    std::string word;
    std::string message;
    ClassroomMode mode = ClassroomMode::Open;
    int minutes = 0;
    std::string id;
    if (!ReadJsonObject(request.Body(), kFlatJsonDepth, form) || !ReadJsonText(form, "mode", word)
        || !ReadClassroomMode(word, mode) || !ReadJsonText(form, "message", message) || !ReadMinutes(form, minutes)
        || !ReadJsonText(form, "room", id)) {
        SendError(response, 400, kBadRequest);
        return;
    }
    const PublishRoom* room = RoomFor(session.user, id, response);
    if (!room)
        return;
    // "Until the end of this lesson" instead of minutes.
    const auto until = form.find("untilLessonEnd");
    const bool untilLessonEnd = until != form.end() && *until == true;
    if (const std::string problem = room->store->SetMode(mode, message, minutes, NowSeconds(), untilLessonEnd);
        !problem.empty()) {
        SendError(response, 400, problem);
        return;
    }
    PrintLine("publish: " + session.user + " set the mode " + word + RoomWords(*room) + " from "
        + request.RemoteAddress());
    SendJson(response, 200, State(&session, room));
}

nlohmann::json CPublishServer::State(const CTeacherSessions::Session* session, const PublishRoom* room) const
{
    if (!session)
        return {{"csrf", m_sessions.PreSignInToken()}, {"user", ""}, {"school", m_options.schoolName}};
    if (!room)
        return {{"csrf", session->csrf}, {"user", session->user}, {"school", m_options.schoolName}, {"room", nullptr}};
    const CPublishStore& store = *room->store;
    nlohmann::json sets = nlohmann::json::array();
    for (const CPublishStore::LessonSet& set : store.Sets())
        sets.push_back({{"name", set.name}, {"edit", EditJson(set.edit)}});
    nlohmann::json history = nlohmann::json::array();
    for (const CPublishStore::Publish& publish : store.History())
        history.push_back({{"id", publish.id}, {"user", publish.user}, {"time", publish.timeMs}, {"set", publish.set},
            {"names", publish.names}, {"onAir", publish.onAir}});
    const CPublishStore::OnAir onAir = store.WhatIsOnAir();
    // The mode as the announcer sends it now; a pause's end in seconds from
    // now, so that the teacher's clock does not matter.
    const PublishedState classroom = store.Classroom();
    const std::int64_t now = NowSeconds();
    const ClassroomMode mode = ModeOnTheAir(classroom, now);
    const bool counting = mode == ClassroomMode::Paused && classroom.pauseUntilSeconds != 0;
    const nlohmann::json modeJson = {{"mode", ClassroomModeWord(mode)},
        {"message", mode == ClassroomMode::Paused ? GbkToUtf8(classroom.message) : ""},
        {"secondsLeft", counting ? classroom.pauseUntilSeconds - now : 0},
        {"after", ClassroomModeWord(classroom.afterPause)}};
    return {{"csrf", session->csrf}, {"user", session->user}, {"school", m_options.schoolName}, {"room", room->id},
        {"pictureUrl", m_options.pictureUrl},
        {"published", EditJson(onAir.edit)}, {"refusal", onAir.refusal}, {"sets", std::move(sets)},
        {"history", std::move(history)}, {"classroom", modeJson}};
}

} // namespace kestrel
