#include "tools/StaticFileServer.h"

#include "base/ConsoleLine.h"
#include "tools/ByteRange.h"
#include "tools/HttpServer.h"

#include <algorithm>
#include <cctype>
#include <thread>
#include <unistd.h>

namespace kestrel {

namespace {

// What a classroom's burst of picture requests needs: every pupil machine
// at once, each with a few connections.
HttpServerLimits FileServerLimits()
{
    HttpServerLimits limits;
    limits.threads = std::max(2u, std::thread::hardware_concurrency());
    return limits;
}

// By the file name's extension; never a type a browser would run for a
// name it does not know.
const char* ContentType(const std::string& path)
{
    static const std::pair<const char*, const char*> kTypes[] = {
        {"html", "text/html"},
        {"htm", "text/html"},
        {"css", "text/css"},
        {"js", "text/javascript"},
        {"txt", "text/plain"},
        {"json", "application/json"},
        {"bmp", "image/bmp"},
        {"png", "image/png"},
        {"jpg", "image/jpeg"},
        {"jpeg", "image/jpeg"},
        {"gif", "image/gif"},
        {"webp", "image/webp"},
        {"svg", "image/svg+xml"},
        {"ico", "image/vnd.microsoft.icon"},
        {"pdf", "application/pdf"},
        {"mp3", "audio/mpeg"},
        {"mp4", "video/mp4"},
        {"woff", "font/woff"},
        {"woff2", "font/woff2"},
    };
    const std::size_t dot = path.rfind('.');
    if (dot != std::string::npos && path.find('/', dot) == std::string::npos) {
        std::string extension = path.substr(dot + 1);
        std::transform(extension.begin(), extension.end(), extension.begin(),
            [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        for (const auto& [known, type] : kTypes) {
            if (extension == known)
                return type;
        }
    }
    return "application/octet-stream";
}

void Plain(HttpResponse& response, int status, const char* text)
{
    response.status = status;
    response.contentType = "text/plain";
    response.body = text;
}

} // namespace

CStaticFileServer::CStaticFileServer(const std::vector<FolderToServe>& folders)
{
    for (const FolderToServe& folder : folders)
        m_folders.push_back(std::make_unique<CServedFolder>(folder));
    std::stable_sort(m_folders.begin(), m_folders.end(),
        [](const auto& a, const auto& b) { return a->UrlPrefix().size() > b->UrlPrefix().size(); });
}

CStaticFileServer::~CStaticFileServer()
{
    Stop();
}

bool CStaticFileServer::Start(const std::string& address, int port, std::string& error)
{
    const auto admission = [](const HttpRequest& head, std::size_t& largestBody, HttpResponse& refusal) {
        largestBody = 0;
        if (head.Method() == "GET" || head.Method() == "HEAD")
            return true;
        Plain(refusal, 405, "only GET and HEAD\n");
        refusal.headers.emplace_back("Allow", "GET, HEAD");
        return false;
    };
    // Failed requests are worth a line: they are the missing pictures and
    // mistyped page names of the catalogue.
    const auto logger = [](const HttpRequest& request, int status) {
        if (status >= 400) {
            PrintLine("http: " + std::to_string(status) + " for " + request.Method() + " " + request.Path() + " from "
                + request.RemoteAddress());
        }
    };
    m_server = std::make_unique<CHttpServer>(FileServerLimits(), admission,
        [this](const HttpRequest& request, HttpResponse& response) { Answer(request, response); }, logger);
    return m_server->Start(address, port, error);
}

void CStaticFileServer::Stop()
{
    if (m_server)
        m_server->Stop();
}

void CStaticFileServer::Answer(const HttpRequest& request, HttpResponse& response)
{
    const std::string& path = request.Path();
    const auto folder = std::find_if(m_folders.begin(), m_folders.end(),
        [&path](const auto& f) { return path.compare(0, f->UrlPrefix().size(), f->UrlPrefix()) == 0; });
    if (folder == m_folders.end()) {
        Plain(response, 404, "not found\n");
        return;
    }
    std::string relative = path.substr((*folder)->UrlPrefix().size());
    if (relative.empty() || relative.back() == '/')
        relative += "index.html";
    std::uint64_t size = 0;
    const int file = (*folder)->OpenFile(relative, size);
    if (file < 0) {
        Plain(response, 404, "not found\n");
        return;
    }
    const ByteRange range = ReadByteRange(request.Header("Range"), size);
    if (range.answer == ByteRange::Answer::Unsatisfiable) {
        ::close(file);
        Plain(response, 416, "that range is not in the file\n");
        response.headers.emplace_back("Content-Range", "bytes */" + std::to_string(size));
        return;
    }
    response.contentType = ContentType(relative);
    response.fileDescriptor = file;
    response.headers.emplace_back("Accept-Ranges", "bytes");
    if (range.answer == ByteRange::Answer::Part) {
        response.status = 206;
        response.fileOffset = range.first;
        response.fileLength = range.length;
        response.headers.emplace_back("Content-Range", "bytes " + std::to_string(range.first) + "-"
            + std::to_string(range.first + range.length - 1) + "/" + std::to_string(size));
    } else {
        response.fileLength = size;
    }
}

} // namespace kestrel
