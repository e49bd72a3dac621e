#pragma once

#include "publish/PublishOptions.h"
#include "publish/PublishRooms.h"
#include "publish/SignInLimiter.h"
#include "publish/TeacherAccounts.h"
#include "publish/TeacherSessions.h"
#include "tools/HttpServer.h"

#include <mutex>
#include <nlohmann/json_fwd.hpp>
#include <string>

namespace kestrel {

// The publishing page and the requests behind it. Every request must name
// the configured host; every POST must come from the page's own origin and
// carry a CSRF token: the pre-sign-in token to sign in, its session's token
// for everything else, which needs a signed-in teacher. All of it is
// checked on the request's head, before a byte of its body is read, and
// each kind of request may then send only as much body as it needs.
// Every request about a room names it (room= in a GET's query, "room" in a
// POST's body; without rooms.ini it may be left out), and a room the
// teacher may not control is refused with 403 whatever the request.
class CPublishServer {
public:
    CPublishServer(const PublishOptions& options, const CPublishRooms& rooms, const CTeacherAccounts& accounts);
    ~CPublishServer();
    CPublishServer(const CPublishServer&) = delete;
    CPublishServer& operator=(const CPublishServer&) = delete;

    // Listens over HTTPS when certificate files are given, else over HTTP.
    // Browsers are told to insist on HTTPS (HSTS) only when the certificate
    // is the options' own, which IT staff gave: a certificate the page made
    // may be made anew, and must not lock the teachers out.
    bool Start(const std::string& certificatePath, const std::string& keyPath, std::string& error);
    void Stop();

private:
    // A teacher's look that the page repeats by itself keeps no session alive.
    enum class Need { PreSignInToken, Teacher, TeacherLooking };
    // A POST: what it needs before its body is read, and its body.
    struct PostRoute {
        const char* path;
        Need need;
        bool picture; // else JSON
        std::size_t largestBody;
    };
    static const PostRoute* FindPostRoute(const std::string& path);

    bool Admit(const HttpRequest& head, std::size_t& largestBody, HttpResponse& refusal);
    void Answer(const HttpRequest& request, HttpResponse& response);
    bool HostAllowed(const HttpRequest& request) const;
    // 0 when the request may go on, else the status to refuse it with.
    int Authorise(const HttpRequest& request, Need need, CTeacherSessions::Session& session, std::string& problem);
    void AnswerGet(const HttpRequest& request, HttpResponse& response);
    void AnswerPost(const PostRoute& route, const HttpRequest& request, HttpResponse& response);
    void SignIn(const HttpRequest& request, HttpResponse& response);
    // The room `id` if `user` may control it; else null, with the refusal sent.
    const PublishRoom* RoomFor(const std::string& user, const std::string& id, HttpResponse& response) const;
    // The page's first room for `user`: the only one without rooms.ini,
    // else the first they control; null when they control none.
    const PublishRoom* FirstRoom(const std::string& user) const;
    // The teacher's rooms, and for an admin every room's counts (the wall).
    nlohmann::json Rooms(const std::string& user) const;
    void Change(const std::string& action, const CTeacherSessions::Session& session, const HttpRequest& request,
        HttpResponse& response);
    void SetMode(const CTeacherSessions::Session& session, const HttpRequest& request, HttpResponse& response);
    void ChangeTimetable(const CTeacherSessions::Session& session, const HttpRequest& request, HttpResponse& response);
    // Without a session, or without a room the teacher controls, only who
    // is signed in.
    nlohmann::json State(const CTeacherSessions::Session* session, const PublishRoom* room = nullptr) const;
    std::string CookieFor(const std::string& id) const;
    void AddPageHeaders(HttpResponse& response) const;

    PublishOptions m_options;
    const CPublishRooms& m_rooms;
    const CTeacherAccounts& m_accounts;
    CTeacherSessions m_sessions;
    CSignInLimiter m_limiter;
    // Each check of a password takes argon2id's memory; one at a time.
    std::mutex m_verifyMutex;
    bool m_tls = false;
    bool m_strictTransport = false;
    CHttpServer m_server;
};

} // namespace kestrel
