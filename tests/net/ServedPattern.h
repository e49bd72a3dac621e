#pragma once

#include "tests/support/TestHttpServer.h"

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

namespace kestrel {

// The first n bytes the test server sends as a body (byte i is i mod 251).
inline std::vector<unsigned char> ServedPattern(std::size_t n)
{
    std::vector<unsigned char> bytes(n);
    for (std::size_t i = 0; i < n; ++i)
        bytes[i] = static_cast<unsigned char>(i % 251);
    return bytes;
}

// `reply` with the first n pattern bytes as its body.
inline test::Reply PatternReply(std::size_t n, test::Reply reply = test::Reply())
{
    const std::vector<unsigned char> bytes = ServedPattern(n);
    reply.body.assign(bytes.begin(), bytes.end());
    return reply;
}

// A URL of its own at which server answers PatternReply(n, reply).
inline std::string PatternUrl(test::CTestHttpServer& server, std::size_t n, test::Reply reply = test::Reply())
{
    return server.Url(server.AnswerAtNewPath(PatternReply(n, std::move(reply))));
}

} // namespace kestrel
