#pragma once

#include <memory>
#include <string>
#include <thread>

namespace httplib {
class Server;
}

namespace kestrel {

// Serves the files of one folder over HTTP (pages, and the button pictures
// the browsers fetch), so a small school or a demo needs no web server of
// its own. Runs on its own threads until stopped.
class CStaticFileServer {
public:
    CStaticFileServer();
    ~CStaticFileServer();
    CStaticFileServer(const CStaticFileServer&) = delete;
    CStaticFileServer& operator=(const CStaticFileServer&) = delete;

    // Binds address:port and starts answering. False, with `error` set,
    // when the folder is missing or the port cannot be had.
    bool Start(const std::string& directory, const std::string& address, int port, std::string& error);
    void Stop();

private:
    std::unique_ptr<httplib::Server> m_server;
    std::thread m_thread;
};

} // namespace kestrel
