#pragma once

#include "publish/PublishOptions.h"
#include "publish/PublishStore.h"
#include "publish/SignInLimiter.h"
#include "publish/TeacherAccounts.h"
#include "publish/TeacherSessions.h"

#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace httplib {
class Server;
struct Request;
struct Response;
}

namespace kestrel {

// The publishing page and the requests behind it. Every request must name
// the configured host; every POST must come from the page's own origin and
// carry its session's CSRF token; everything but the sign-in needs a
// signed-in teacher. Runs on its own threads until stopped.
class CPublishServer {
public:
    CPublishServer(const PublishOptions& options, CPublishStore& store, const CTeacherAccounts& accounts);
    ~CPublishServer();
    CPublishServer(const CPublishServer&) = delete;
    CPublishServer& operator=(const CPublishServer&) = delete;

    // Listens over HTTPS when certificate files are given, else over HTTP.
    bool Start(const std::string& certificatePath, const std::string& keyPath, std::string& error);
    void Stop();

private:
    enum class Need { AnySession, Teacher };

    void Route();
    bool HostAllowed(const httplib::Request& request) const;
    bool Authorise(const httplib::Request& request, httplib::Response& response, Need need,
        CTeacherSessions::Session& session, std::string& sessionId);
    void SendState(const httplib::Request& request, httplib::Response& response);
    void SignIn(const httplib::Request& request, httplib::Response& response);
    void UploadPicture(const httplib::Request& request, httplib::Response& response);
    std::string StateJson(const CTeacherSessions::Session& session) const;
    std::string CookieFor(const std::string& id) const;

    PublishOptions m_options;
    CPublishStore& m_store;
    const CTeacherAccounts& m_accounts;
    CTeacherSessions m_sessions;
    CSignInLimiter m_limiter;
    // Each check of a password takes argon2id's memory; one at a time.
    std::mutex m_verifyMutex;
    bool m_tls = false;
    std::unique_ptr<httplib::Server> m_server;
    std::thread m_thread;
};

} // namespace kestrel
