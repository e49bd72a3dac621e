#include "tools/StaticFileServer.h"

#include "base/ConsoleLine.h"

#include <cerrno>
#include <cstring>
#include <httplib.h>

namespace kestrel {

CStaticFileServer::CStaticFileServer() : m_server(std::make_unique<httplib::Server>()) {}

CStaticFileServer::~CStaticFileServer()
{
    Stop();
}

bool CStaticFileServer::Start(const std::string& directory, const std::string& address, int port, std::string& error)
{
    if (!m_server->set_mount_point("/", directory)) {
        error = "cannot serve \"" + directory + "\": it is not a folder";
        return false;
    }
    // Failed requests are worth a line: they are the missing pictures and
    // mistyped page names of the catalogue.
    m_server->set_logger([](const httplib::Request& request, const httplib::Response& response) {
        if (response.status >= 400) {
            PrintLine("http: " + std::to_string(response.status) + " for " + request.method + " " + request.path
                + " from " + request.remote_addr);
        }
    });
    errno = 0;
    if (!m_server->bind_to_port(address, port)) {
        error = "cannot serve HTTP on " + address + ":" + std::to_string(port)
            + (errno != 0 ? std::string(": ") + std::strerror(errno) : std::string());
        return false;
    }
    m_thread = std::thread([this] { m_server->listen_after_bind(); });
    return true;
}

void CStaticFileServer::Stop()
{
    if (!m_thread.joinable())
        return;
    m_server->stop();
    m_thread.join();
}

} // namespace kestrel
