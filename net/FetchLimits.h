#pragma once

#include <cstddef>

namespace kestrel {

// Every limit of a picture fetch, kept together so that they are read and
// changed in one place.

constexpr const char* kUserAgent = "MarlowBrowser1.0";

// An encoded URL is at most 519 characters and its NUL.
constexpr std::size_t kEncodedUrlSize = 520;
// Escaping for the request line turns a byte into at most three.
constexpr std::size_t kRequestUrlSize = (kEncodedUrlSize - 1) * 3 + 1;

// A picture body: the buffer holds 8192 bytes, a fetch keeps at most 8191.
constexpr std::size_t kBodyBufferSize = 8192;
constexpr std::size_t kBodyCapacity = kBodyBufferSize - 1;
// An answer whose length header says less is no picture.
constexpr long long kMinBodyLength = 1000;

// An unreachable picture server must not hold the window for long.
constexpr long kConnectTimeoutMs = 2000;
constexpr long kRequestTimeoutMs = 5000;
constexpr long kMaxRedirects = 3;
// A batch waits at most this much longer than one request may take.
constexpr long kBatchGraceMs = 1000;
// How long a batch sleeps at most between looks at its transfers.
constexpr int kBatchPollMs = 100;
constexpr const char* kAllowedProtocols = "http,https";

} // namespace kestrel
