#pragma once

#include <string>
#include <sys/types.h>

namespace kestrel {

// The scripted loopback HTTP server of the fetch tests (picture_server.py),
// running for the lifetime of this object.
class CPictureServer {
public:
    CPictureServer();
    ~CPictureServer();
    CPictureServer(const CPictureServer&) = delete;
    CPictureServer& operator=(const CPictureServer&) = delete;

    // False when the server did not report its port in time.
    bool Started() const { return m_port != 0; }
    // "<scheme>://127.0.0.1:<port>" followed by path.
    std::string Url(const std::string& path, const std::string& scheme = "http") const;

private:
    void ReadPort();

    pid_t m_pid = -1;
    int m_toServer = -1;
    int m_fromServer = -1;
    int m_port = 0;
};

// A loopback port on which nobody listens.
int RefusingPort();

} // namespace kestrel
