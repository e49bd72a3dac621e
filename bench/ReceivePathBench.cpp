// Datagrams per second through the program's receive path, the link
// receiver's OnSocketNotify (one recvfrom, the frame finder, the link-record
// frame, the store), against a plain recvfrom loop on the same socket and
// the same traffic: link-record frames for twenty lessons, one per datagram,
// as the announcer sends them, all on 127.0.0.1.
//
// Each round first fills the socket's enlarged receive buffer with a batch
// of datagrams from a second socket, untimed, so the sender is never what is
// measured, and never more than the buffer holds, so nothing is dropped;
// then the batch is drained and timed. The two ways alternate round by round
// and take turns going first, so both meet the same machine load. Over five
// repetitions, the median of the program's path must reach at least 0.8
// times the plain loop's rate.
//
// In the same run, BM_ReceivePathSigned does the same with a key configured
// and every datagram a signed frame of the trusted key with a fresh counter
// whose signature no longer fits, as a flood of forgeries would arrive: each
// passes the cheap checks, at most 500 a second are checked, the rest are
// dropped by the budget. Its share is printed, not required.
#include "base/LinkRecord.h"
#include "channel/ChannelSocket.h"
#include "channel/LinkRecordFrame.h"
#include "channel/LinkReceiver.h"
#include "channel/SignedLinkRecordFrame.h"
#include "channel/SocketOwner.h"
#include "channel/TrustedKeys.h"

#include "tests/support/SignedFrames.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <linux/sockios.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace kestrel {
namespace {

// A datagram of a link-record frame takes about 2300 bytes of receive
// buffer on the loopback; a batch counts 4096 for each, to stay well inside.
constexpr int kLargestBatch = 1024;
constexpr int kBufferPerDatagram = 4096;
constexpr int kReceiveBufferAsked = kLargestBatch * kBufferPerDatagram;
constexpr int kLessons = 20;
constexpr double kRequiredShare = 0.8;

using Clock = std::chrono::steady_clock;

// Stands in for the window: keeps the socket it is asked to watch.
class CSocketKeeper final : public CSocketOwner {
public:
    void WatchSocket(int socket) override { watched = socket; }
    void UnwatchSocket(int) override { watched = -1; }
    int watched = -1;
};

// The real receiver, counting the frames it is handed so that a lost
// datagram cannot pass unseen.
class CCountingReceiver final : public CLinkReceiver {
public:
    long frames = 0;

protected:
    void OnFrame(FrameView frame) override
    {
        ++frames;
        CLinkReceiver::OnFrame(frame);
    }
};

// A trusted-keys file for the bench key, removed at the end.
class CKeysFile {
public:
    CKeysFile()
    {
        char pattern[] = "/tmp/kestrel-bench-keys-XXXXXX";
        const int fd = ::mkstemp(pattern);
        if (fd >= 0)
            ::close(fd);
        m_path = pattern;
        std::ofstream(m_path) << TrustedKeyLine(test::FixedKey(5).publicKey, "bench") << "\n";
    }
    ~CKeysFile() { ::unlink(m_path.c_str()); }
    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
};

class CAnnouncer {
public:
    // With a key, every datagram is a signed frame given the next counter
    // after signing, so that its signature fails.
    CAnnouncer(std::uint16_t port, const SigningKey* key) : m_socket(::socket(AF_INET, SOCK_DGRAM, 0)), m_key(key)
    {
        m_to.sin_family = AF_INET;
        m_to.sin_port = htons(port);
        m_to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        for (int i = 0; i < kLessons; ++i) {
            LinkRecord record{};
            std::snprintf(record.name, sizeof record.name, "lesson%02d", i);
            std::snprintf(record.url, sizeof record.url, "http://127.0.0.1:8080/lessons/%02d.html", i);
            std::snprintf(record.hotPicture, sizeof record.hotPicture, "http://127.0.0.1:8080/pictures/%02d.bmp", i);
            m_frames.emplace_back();
            EncodeLinkRecordFrame(record, 0, m_frames.back().bytes);
            if (m_key != nullptr) {
                m_signedFrames.emplace_back();
                EncodeSignedLinkRecordFrame(record, 0, 1, *m_key, m_signedFrames.back().bytes);
            }
        }
    }
    ~CAnnouncer() { ::close(m_socket); }
    CAnnouncer(const CAnnouncer&) = delete;
    CAnnouncer& operator=(const CAnnouncer&) = delete;

    // Sends one batch and waits until the loopback has handed all of it to
    // the receiving socket (nothing of it is left in the send queue).
    bool SendBatch(int batch)
    {
        for (int i = 0; i < batch; ++i) {
            const std::size_t lesson = static_cast<std::size_t>(m_next++ % kLessons);
            const unsigned char* bytes = m_frames[lesson].bytes;
            std::size_t size = sizeof m_frames[lesson].bytes;
            if (m_key != nullptr) {
                Forge(m_signedFrames[lesson].bytes, static_cast<std::uint64_t>(m_next));
                bytes = m_signedFrames[lesson].bytes;
                size = sizeof m_signedFrames[lesson].bytes;
            }
            if (::sendto(m_socket, bytes, size, 0, reinterpret_cast<const sockaddr*>(&m_to), sizeof m_to)
                != static_cast<ssize_t>(size))
                return false;
        }
        for (int wait = 0; wait < 1000; ++wait) {
            int queued = 0;
            if (::ioctl(m_socket, SIOCOUTQ, &queued) != 0 || queued == 0)
                return true;
            ::usleep(100);
        }
        return false;
    }

private:
    struct Frame {
        unsigned char bytes[kLinkRecordFrameSize];
    };
    struct SignedFrame {
        unsigned char bytes[kSignedLinkRecordFrameSize];
    };

    // A fresh counter, and the check value again so that the frame reaches
    // the verifier.
    static void Forge(unsigned char* frame, std::uint64_t counter)
    {
        for (int i = 0; i < 8; ++i)
            frame[kFrameHeaderSize + kTrailerCounterOffset + i] = static_cast<unsigned char>(counter >> (8 * i));
        test::Reseal(frame, kSignedLinkRecordFrameSize);
    }

    int m_socket;
    const SigningKey* m_key;
    sockaddr_in m_to{};
    std::vector<Frame> m_frames;
    std::vector<SignedFrame> m_signedFrames;
    long m_next = 0;
};

std::uint16_t PortOf(int socket)
{
    sockaddr_in address{};
    socklen_t size = sizeof address;
    ::getsockname(socket, reinterpret_cast<sockaddr*>(&address), &size);
    return ntohs(address.sin_port);
}

// Enlarges the socket's receive buffer as far as the system allows and says
// how many datagrams a batch may hold.
int BatchFor(int socket)
{
    ::setsockopt(socket, SOL_SOCKET, SO_RCVBUF, &kReceiveBufferAsked, sizeof kReceiveBufferAsked);
    int granted = 0;
    socklen_t size = sizeof granted;
    ::getsockopt(socket, SOL_SOCKET, SO_RCVBUF, &granted, &size);
    return std::clamp(granted / kBufferPerDatagram, 1, kLargestBatch);
}

double SecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

void MeasureReceivePath(benchmark::State& state, bool signedFrames)
{
    CSocketKeeper keeper;
    CCountingReceiver receiver;
    const SigningKey key = test::FixedKey(5);
    const CKeysFile keys;
    if (signedFrames)
        receiver.RequireSignatures(keys.Path(), "");
    if (!receiver.Open("127.0.0.1", 0, &keeper) || keeper.watched < 0) {
        state.SkipWithError("the receiver could not open its socket");
        return;
    }
    const int socket = keeper.watched;
    const int batch = BatchFor(socket);
    CAnnouncer announcer(PortOf(socket), signedFrames ? &key : nullptr);
    unsigned char plainBuffer[CChannelSocket::kDatagramReadSize];
    long plainDatagrams = 0;
    double programSeconds = 0;
    double plainSeconds = 0;
    bool programFirst = true;

    const auto drainThroughTheProgram = [&] {
        const Clock::time_point start = Clock::now();
        for (int i = 0; i < batch; ++i)
            receiver.OnSocketNotify(static_cast<std::uintptr_t>(socket), CChannelSocket::kReadEvent);
        return SecondsSince(start);
    };
    const auto drainPlainly = [&] {
        const Clock::time_point start = Clock::now();
        for (int i = 0; i < batch; ++i)
            plainDatagrams += ::recvfrom(socket, plainBuffer, sizeof plainBuffer, MSG_TRUNC, nullptr, nullptr) > 0;
        benchmark::DoNotOptimize(plainBuffer);
        return SecondsSince(start);
    };

    for (auto _ : state) {
        double roundProgram = 0;
        for (int turn = 0; turn < 2; ++turn) {
            if (!announcer.SendBatch(batch)) {
                state.SkipWithError("the batch could not be sent");
                return;
            }
            if ((turn == 0) == programFirst)
                roundProgram = drainThroughTheProgram();
            else
                plainSeconds += drainPlainly();
        }
        programSeconds += roundProgram;
        programFirst = !programFirst;
        state.SetIterationTime(roundProgram);
    }

    const double datagrams = static_cast<double>(state.iterations()) * batch;
    if (receiver.frames != static_cast<long>(datagrams) || plainDatagrams != static_cast<long>(datagrams)) {
        state.SkipWithError("datagrams were lost");
        return;
    }
    state.counters["program_per_s"] = datagrams / programSeconds;
    state.counters["plain_per_s"] = datagrams / plainSeconds;
    state.counters["share"] = plainSeconds / programSeconds;
    state.counters["batch"] = batch;
}

void BM_ReceivePath(benchmark::State& state)
{
    MeasureReceivePath(state, false);
}

void BM_ReceivePathSigned(benchmark::State& state)
{
    MeasureReceivePath(state, true);
}

// One round: a batch drained through the program.
BENCHMARK(BM_ReceivePathSigned)->UseManualTime()->Unit(benchmark::kMicrosecond)->MinTime(0.5)->Repetitions(5)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_ReceivePath)->UseManualTime()->Unit(benchmark::kMicrosecond)->MinTime(0.5)->Repetitions(5)
    ->ReportAggregatesOnly(true);

// Prints the runs as usual and keeps the median of the program's share of
// the plain rate.
class CShareReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            const auto share = run.counters.find("share");
            m_failed = m_failed || run.error_occurred;
            if (run.aggregate_name == "median" && share != run.counters.end()
                && run.run_name.function_name == "BM_ReceivePath")
                m_share = share->second.value;
        }
    }
    bool m_failed = false;
    double m_share = 0;
};

} // namespace
} // namespace kestrel

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    kestrel::CShareReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    if (reporter.m_failed)
        return 1;
    if (reporter.m_share <= 0)
        return 0; // filtered out
    std::printf("receive path: %.2f of the plain recvfrom loop's datagrams per second (at least %.1f required)\n",
                reporter.m_share, kestrel::kRequiredShare);
    return reporter.m_share >= kestrel::kRequiredShare ? 0 : 1;
}
