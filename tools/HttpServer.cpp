#include "tools/HttpServer.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <microhttpd.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace kestrel {

namespace {

constexpr std::uint32_t kLoopback = 0x7f000001;
constexpr int kListenBacklog = 1024;

bool IsControlByte(unsigned char byte)
{
    return byte < 0x20 || byte == 0x7f;
}

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Decodes the %HH escapes of a raw path. False, with the raw path made
// printable in `path`, when it holds a NUL or control byte either way.
bool DecodePath(const char* raw, std::string& path)
{
    path.clear();
    bool clean = true;
    for (const char* p = raw; *p != '\0'; ++p) {
        char byte = *p;
        if (byte == '%' && HexDigit(p[1]) >= 0 && HexDigit(p[2]) >= 0) {
            byte = static_cast<char>(HexDigit(p[1]) * 16 + HexDigit(p[2]));
            p += 2;
        }
        if (IsControlByte(static_cast<unsigned char>(byte)))
            clean = false;
        path += byte;
    }
    if (clean)
        return true;
    path = raw;
    for (char& byte : path) {
        if (IsControlByte(static_cast<unsigned char>(byte)))
            byte = '?';
    }
    return false;
}

// Leaves the path as it came, so that an escaped NUL cannot cut the C
// string the handler is given short; DecodePath decodes it.
size_t KeepEscapes(void*, MHD_Connection*, char* text)
{
    return std::strlen(text);
}

std::uint32_t AddressOf(const sockaddr* address)
{
    if (address == nullptr || address->sa_family != AF_INET)
        return 0;
    return ntohl(reinterpret_cast<const sockaddr_in*>(address)->sin_addr.s_addr);
}

HttpResponse Refusal(int status, const std::string& why)
{
    HttpResponse response;
    response.status = status;
    response.contentType = "text/plain; charset=utf-8";
    response.body = why + "\n";
    return response;
}

} // namespace

struct CHttpServer::Exchange {
    HttpRequest request;
    std::size_t largestBody = 0;
    int status = 0;
};

struct CHttpServer::Callbacks {
    static MHD_Result Queue(MHD_Connection* connection, Exchange& exchange, HttpResponse& answer)
    {
        MHD_Response* response = nullptr;
        if (answer.fileDescriptor >= 0) {
            response = MHD_create_response_from_fd_at_offset64(answer.fileLength, answer.fileDescriptor,
                answer.fileOffset);
            if (response == nullptr)
                ::close(answer.fileDescriptor);
        } else {
            response = MHD_create_response_from_buffer(answer.body.size(), answer.body.data(),
                MHD_RESPMEM_MUST_COPY);
        }
        if (response == nullptr)
            return MHD_NO;
        if (!answer.contentType.empty())
            MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, answer.contentType.c_str());
        for (const auto& [name, value] : answer.headers)
            MHD_add_response_header(response, name.c_str(), value.c_str());
        MHD_add_response_header(response, "X-Content-Type-Options", "nosniff");
        exchange.status = answer.status;
        const MHD_Result queued = MHD_queue_response(connection, static_cast<unsigned>(answer.status), response);
        MHD_destroy_response(response);
        return queued;
    }

    // The checks every request meets before its body, then the caller's.
    static bool Admit(CHttpServer& server, Exchange& exchange, const char* rawPath, HttpResponse& refusal)
    {
        const HttpRequest& request = exchange.request;
        if (!DecodePath(rawPath, exchange.request.m_path) || rawPath[0] != '/') {
            refusal = Refusal(400, "this path cannot name a file");
            return false;
        }
        if (request.HasHeader(MHD_HTTP_HEADER_TRANSFER_ENCODING)) {
            refusal = Refusal(411, "send the body with a Content-Length");
            return false;
        }
        if (request.HasHeader(MHD_HTTP_HEADER_CONTENT_ENCODING)) {
            refusal = Refusal(415, "send the body without a Content-Encoding");
            return false;
        }
        const bool hasLength = request.HasHeader(MHD_HTTP_HEADER_CONTENT_LENGTH);
        if (request.Method() == "POST" && !hasLength) {
            refusal = Refusal(411, "send the body with a Content-Length");
            return false;
        }
        if (!server.m_admission(request, exchange.largestBody, refusal))
            return false;
        if (hasLength) {
            const std::string length(request.Header(MHD_HTTP_HEADER_CONTENT_LENGTH));
            if (std::strtoull(length.c_str(), nullptr, 10) > exchange.largestBody) {
                refusal = Refusal(413, "the body is larger than this server takes");
                return false;
            }
        }
        return true;
    }

    static MHD_Result Answer(void* cls, MHD_Connection* connection, const char* url, const char* method,
        const char* /*version*/, const char* upload, size_t* uploadSize, void** context)
    {
        CHttpServer& server = *static_cast<CHttpServer*>(cls);
        auto* exchange = static_cast<Exchange*>(*context);
        if (exchange == nullptr) {
            exchange = new Exchange;
            *context = exchange;
            HttpRequest& request = exchange->request;
            request.m_connection = connection;
            request.m_method = method;
            const MHD_ConnectionInfo* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
            char address[INET_ADDRSTRLEN] = {};
            if (info != nullptr && info->client_addr != nullptr && info->client_addr->sa_family == AF_INET)
                inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(info->client_addr)->sin_addr, address,
                    sizeof address);
            request.m_remoteAddress = address;
            HttpResponse refusal;
            // Answered now, the request's body is never read, and the
            // connection closes after the answer.
            if (!Admit(server, *exchange, url, refusal))
                return Queue(connection, *exchange, refusal);
            return MHD_YES;
        }
        if (*uploadSize > 0) {
            // A Content-Length within the limit was checked; more than it
            // cannot come, but the limit holds whatever the parser does.
            if (*uploadSize > exchange->largestBody - exchange->request.m_body.size())
                return MHD_NO;
            exchange->request.m_body.append(upload, *uploadSize);
            *uploadSize = 0;
            return MHD_YES;
        }
        HttpResponse response;
        server.m_handler(exchange->request, response);
        return Queue(connection, *exchange, response);
    }

    static void Completed(void* cls, MHD_Connection*, void** context, MHD_RequestTerminationCode)
    {
        auto* exchange = static_cast<Exchange*>(*context);
        if (exchange == nullptr)
            return;
        CHttpServer& server = *static_cast<CHttpServer*>(cls);
        exchange->request.m_connection = nullptr;
        if (server.m_logger && exchange->status != 0)
            server.m_logger(exchange->request, exchange->status);
        delete exchange;
        *context = nullptr;
    }

    static MHD_Result Accept(void* cls, const sockaddr* address, socklen_t)
    {
        CHttpServer& server = *static_cast<CHttpServer*>(cls);
        const std::uint32_t key = AddressOf(address);
        if (key == kLoopback)
            return MHD_YES;
        std::lock_guard<std::mutex> lock(server.m_addressesMutex);
        const auto found = server.m_connectionsByAddress.find(key);
        return found == server.m_connectionsByAddress.end() || found->second < server.m_limits.connectionsPerAddress
            ? MHD_YES
            : MHD_NO;
    }

    // Counts each connection from its start to its end, whatever refused
    // or ended it between, so that the count cannot drift.
    static void Connection(void* cls, MHD_Connection* connection, void** socketContext,
        MHD_ConnectionNotificationCode code)
    {
        CHttpServer& server = *static_cast<CHttpServer*>(cls);
        std::uint32_t key = 0;
        if (code == MHD_CONNECTION_NOTIFY_STARTED) {
            const MHD_ConnectionInfo* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
            key = info != nullptr ? AddressOf(info->client_addr) : 0;
            *socketContext = reinterpret_cast<void*>(static_cast<std::uintptr_t>(key));
        } else {
            key = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(*socketContext));
        }
        if (key == kLoopback)
            return;
        std::lock_guard<std::mutex> lock(server.m_addressesMutex);
        if (code == MHD_CONNECTION_NOTIFY_STARTED) {
            ++server.m_connectionsByAddress[key];
        } else {
            const auto found = server.m_connectionsByAddress.find(key);
            if (found != server.m_connectionsByAddress.end() && --found->second == 0)
                server.m_connectionsByAddress.erase(found);
        }
    }
};

std::string_view HttpRequest::Header(const char* name) const
{
    const char* value = m_connection != nullptr ? MHD_lookup_connection_value(m_connection, MHD_HEADER_KIND, name)
                                                : nullptr;
    return value != nullptr ? std::string_view(value) : std::string_view();
}

bool HttpRequest::HasHeader(const char* name) const
{
    return m_connection != nullptr && MHD_lookup_connection_value(m_connection, MHD_HEADER_KIND, name) != nullptr;
}

std::string_view HttpRequest::Query(const char* name) const
{
    const char* value = m_connection != nullptr ? MHD_lookup_connection_value(m_connection, MHD_GET_ARGUMENT_KIND, name)
                                                : nullptr;
    return value != nullptr ? std::string_view(value) : std::string_view();
}

CHttpServer::CHttpServer(HttpServerLimits limits, Admission admission, Handler handler, Logger logger)
    : m_limits(limits), m_admission(std::move(admission)), m_handler(std::move(handler)), m_logger(std::move(logger))
{
}

CHttpServer::~CHttpServer()
{
    Stop();
}

bool CHttpServer::Start(const std::string& address, int port, std::string& error, const std::string& certificatePem,
    const std::string& keyPem)
{
    const std::string where = address + ":" + std::to_string(port);
    sockaddr_in local = {};
    local.sin_family = AF_INET;
    local.sin_port = htons(static_cast<std::uint16_t>(port));
    if (inet_pton(AF_INET, address.c_str(), &local.sin_addr) != 1) {
        error = "cannot serve HTTP on " + where + ": not an IPv4 address";
        return false;
    }
    const bool tls = !certificatePem.empty() || !keyPem.empty();
    if (tls && MHD_is_feature_supported(MHD_FEATURE_TLS) != MHD_YES) {
        error = "cannot serve HTTPS on " + where + ": this libmicrohttpd has no TLS";
        return false;
    }
    // Bound here rather than by the library, so that the reason is known.
    const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    const int reuse = 1;
    if (listener < 0 || setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse) != 0
        || bind(listener, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0
        || listen(listener, kListenBacklog) != 0) {
        error = "cannot serve HTTP on " + where + ": " + std::strerror(errno);
        if (listener >= 0)
            ::close(listener);
        return false;
    }

    unsigned flags = MHD_USE_INTERNAL_POLLING_THREAD;
    flags |= m_limits.threads == 0 ? MHD_USE_THREAD_PER_CONNECTION | MHD_USE_POLL : MHD_USE_EPOLL | MHD_USE_TURBO;
    if (tls)
        flags |= MHD_USE_TLS;
    std::vector<MHD_OptionItem> options = {
        {MHD_OPTION_LISTEN_SOCKET, listener, nullptr},
        {MHD_OPTION_CONNECTION_MEMORY_LIMIT, static_cast<intptr_t>(m_limits.largestHead), nullptr},
        {MHD_OPTION_CONNECTION_LIMIT, static_cast<intptr_t>(m_limits.connections), nullptr},
        {MHD_OPTION_CONNECTION_TIMEOUT, static_cast<intptr_t>(m_limits.idleSeconds), nullptr},
        {MHD_OPTION_UNESCAPE_CALLBACK, reinterpret_cast<intptr_t>(&KeepEscapes), nullptr},
        {MHD_OPTION_NOTIFY_COMPLETED, reinterpret_cast<intptr_t>(&Callbacks::Completed), this},
        {MHD_OPTION_NOTIFY_CONNECTION, reinterpret_cast<intptr_t>(&Callbacks::Connection), this},
    };
    if (m_limits.threads > 1)
        options.push_back({MHD_OPTION_THREAD_POOL_SIZE, static_cast<intptr_t>(m_limits.threads), nullptr});
    if (tls) {
        options.push_back({MHD_OPTION_HTTPS_MEM_CERT, 0, const_cast<char*>(certificatePem.c_str())});
        options.push_back({MHD_OPTION_HTTPS_MEM_KEY, 0, const_cast<char*>(keyPem.c_str())});
    }
    options.push_back({MHD_OPTION_END, 0, nullptr});

    m_daemon = MHD_start_daemon(flags, static_cast<std::uint16_t>(port), &Callbacks::Accept, this, &Callbacks::Answer,
        this, MHD_OPTION_ARRAY, options.data(), MHD_OPTION_END);
    // The library closes the listening socket whether it starts or not.
    if (m_daemon == nullptr) {
        error = std::string("cannot serve HTTP") + (tls ? "S" : "") + " on " + where
            + (tls ? ": the certificate or key is not usable" : ": the server did not start");
        return false;
    }
    return true;
}

void CHttpServer::Stop()
{
    if (m_daemon == nullptr)
        return;
    MHD_stop_daemon(m_daemon);
    m_daemon = nullptr;
}

} // namespace kestrel
