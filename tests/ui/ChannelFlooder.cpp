// Floods a channel port on 127.0.0.1 for a few seconds, as fast as the
// loopback takes it, with three kinds of datagrams in turn: garbage,
// link-record frames whose check value is wrong, and runs of headers of the
// largest frame, each with a wrong check value, which make the receiver check
// 8 KiB for every 18 bytes it takes in. Nothing of it may ever reach the
// store. Prints how many datagrams it sent.
//
// With "signed", the link-record frames carry a valid check value and a
// signature trailer naming the trusted test key, but a wrong signature: each
// one passes every cheap check and asks for a signature check.
//
//   channel_flooder PORT SECONDS [signed]

#include "base/LinkRecord.h"
#include "channel/FrameFormat.h"
#include "channel/LinkRecordFrame.h"
#include "tests/support/SignedFrames.h"

#include <arpa/inet.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using kestrel::kLinkRecordFrameSize;
using kestrel::kSignedLinkRecordFrameSize;

// Datagrams of each kind handed to the kernel per call.
constexpr unsigned kEachKind = 16;
constexpr unsigned kBatch = 3 * kEachKind;
constexpr std::size_t kLargestGarbage = 1400;
// As much as the receiver reads of one datagram.
constexpr std::size_t kHeaderRunSize = 8192;
// However long it is asked to run, and however fast the machine.
constexpr long kLongestRun = 10;
constexpr unsigned long long kMostDatagrams = 100'000'000;

struct Batch {
    unsigned char garbage[kEachKind][kLargestGarbage];
    unsigned char frames[kEachKind][kSignedLinkRecordFrameSize];
    unsigned char headerRun[kHeaderRunSize];
    iovec pieces[kBatch];
    mmsghdr messages[kBatch];
};

// A fixed sequence, so every run sends the same bytes.
std::uint32_t NextRandom(std::uint32_t& state)
{
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
}

// Headers of the largest frame back to back; every byte but the length is a
// sync byte, and no check value can match.
void FillHeaderRun(unsigned char (&run)[kHeaderRunSize])
{
    std::memset(run, kestrel::kFrameSyncByte, sizeof run);
    for (std::size_t at = 0; at + kestrel::kFrameHeaderSize <= sizeof run; at += kestrel::kFrameHeaderSize) {
        unsigned char* length = run + at + kestrel::kFrameLengthOffset;
        length[0] = kestrel::kLargestFramePayload & 0xFF;
        length[1] = (kestrel::kLargestFramePayload >> 8) & 0xFF;
        length[2] = 0;
        length[3] = 0;
    }
}

// Garbage of varying length, link-record frames with one bit of the check
// value flipped and header runs, interleaved.
// The link-record frame of the record, or with signedFrames one signed by
// the test key with its signature spoilt; its size.
std::size_t FloodFrame(const kestrel::LinkRecord& record, bool signedFrames, unsigned char* frame)
{
    if (!signedFrames) {
        unsigned char plain[kLinkRecordFrameSize];
        kestrel::EncodeLinkRecordFrame(record, 0, plain);
        std::memcpy(frame, plain, sizeof plain);
        frame[kestrel::kFrameCheckOffset] ^= 1;
        return sizeof plain;
    }
    kestrel::test::SignedFrame forged = kestrel::test::SignedRecordFrame(record, 1, kestrel::test::FixedKey(7));
    forged.bytes[kestrel::kFrameHeaderSize + kestrel::kTrailerSignatureOffset] ^= 1;
    kestrel::test::Reseal(forged.bytes, sizeof forged.bytes);
    std::memcpy(frame, forged.bytes, sizeof forged.bytes);
    return sizeof forged.bytes;
}

void FillBatch(Batch& batch, const sockaddr_in& target, bool signedFrames)
{
    std::uint32_t random = 0x2545F491;
    kestrel::LinkRecord record = {};
    FillHeaderRun(batch.headerRun);
    for (unsigned i = 0; i < kEachKind; ++i) {
        for (unsigned char& byte : batch.garbage[i])
            byte = static_cast<unsigned char>(NextRandom(random));
        std::snprintf(record.name, sizeof record.name, "flood%u", i);
        const std::size_t frameSize = FloodFrame(record, signedFrames, batch.frames[i]);

        batch.pieces[3 * i] = {batch.garbage[i], 64 + NextRandom(random) % (kLargestGarbage - 64)};
        batch.pieces[3 * i + 1] = {batch.frames[i], frameSize};
        batch.pieces[3 * i + 2] = {batch.headerRun, kHeaderRunSize};
    }
    for (unsigned i = 0; i < kBatch; ++i) {
        msghdr& header = batch.messages[i].msg_hdr;
        header = {};
        header.msg_name = const_cast<sockaddr_in*>(&target);
        header.msg_namelen = sizeof target;
        header.msg_iov = &batch.pieces[i];
        header.msg_iovlen = 1;
    }
}

} // namespace

int main(int argc, char** argv)
{
    const bool knownArguments = argc == 3 || (argc == 4 && std::strcmp(argv[3], "signed") == 0);
    const long port = knownArguments ? std::atol(argv[1]) : 0;
    const long seconds = knownArguments ? std::atol(argv[2]) : 0;
    if (port <= 0 || port > 65535 || seconds <= 0 || seconds > kLongestRun) {
        std::fprintf(stderr, "usage: channel_flooder PORT SECONDS (1 to %ld) [signed]\n", kLongestRun);
        return 2;
    }
    const int socket = ::socket(AF_INET, SOCK_DGRAM, 0);
    if (socket < 0) {
        std::perror("socket");
        return 1;
    }
    // Only ever the loopback.
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(static_cast<std::uint16_t>(port));
    target.sin_addr.s_addr = htonl(INADDR_LOOPBACK);

    static Batch batch;
    FillBatch(batch, target, argc == 4);

    const auto start = std::chrono::steady_clock::now();
    const auto end = start + std::chrono::seconds(seconds);
    unsigned long long sent = 0;
    while (sent < kMostDatagrams && std::chrono::steady_clock::now() < end) {
        const int count = ::sendmmsg(socket, batch.messages, kBatch, 0);
        if (count > 0)
            sent += static_cast<unsigned>(count);
    }
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    ::close(socket);
    std::printf("sent %llu datagrams in %.1f s\n", sent, elapsed);
    return 0;
}
