#pragma once

#include "tools/ServedFolder.h"

#include <memory>
#include <string>
#include <vector>

namespace kestrel {

class CHttpServer;
class HttpRequest;
struct HttpResponse;

// Serves the files of folders over HTTP (pages, and the button pictures
// the browsers fetch), so a small school or a demo needs no web server of
// its own. Runs on its own threads until stopped.
class CStaticFileServer {
public:
    explicit CStaticFileServer(const std::vector<FolderToServe>& folders);
    ~CStaticFileServer();
    CStaticFileServer(const CStaticFileServer&) = delete;
    CStaticFileServer& operator=(const CStaticFileServer&) = delete;

    // Binds address:port and starts answering. A folder that is missing is
    // no fault: it is named once, and served once it appears. False, with
    // `error` set, when the port cannot be had.
    bool Start(const std::string& address, int port, std::string& error);
    void Stop();

private:
    void Answer(const HttpRequest& request, HttpResponse& response);

    // The longest path first, so that the first folder that matches is the
    // one meant.
    std::vector<std::unique_ptr<CServedFolder>> m_folders;
    std::unique_ptr<CHttpServer> m_server;
};

} // namespace kestrel
