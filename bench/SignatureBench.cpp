// Signature checks per second: libsodium's Ed25519 check of one signed
// link-record frame, and the verifier's whole path for a valid frame (cheap
// checks, check and counters), with the clock moved on so that the budget of
// 500 a second never binds. The budget's headroom is their ratio to 500.
#include "base/LinkRecord.h"
#include "channel/AnnouncementVerifier.h"
#include "channel/SignedLinkRecordFrame.h"

#include "tests/support/SignedFrames.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>

namespace kestrel {
namespace {

LinkRecord Lesson()
{
    LinkRecord record{};
    std::snprintf(record.name, sizeof record.name, "lesson01");
    std::snprintf(record.url, sizeof record.url, "http://192.168.1.10:8080/lessons/01.html");
    return record;
}

void BM_SignatureCheck(benchmark::State& state)
{
    const SigningKey key = test::FixedKey(3);
    unsigned char frame[kSignedLinkRecordFrameSize];
    EncodeSignedLinkRecordFrame(Lesson(), 0, 1, key, frame);
    for (auto _ : state) {
        const bool verified = SignatureVerifies(FrameView(frame, sizeof frame), key.publicKey);
        benchmark::DoNotOptimize(verified);
        if (!verified)
            state.SkipWithError("the signature did not verify");
    }
    state.counters["checks_per_s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_SignatureCheck);

void BM_VerifiedFrame(benchmark::State& state)
{
    const SigningKey key = test::FixedKey(3);
    CAnnouncementVerifier verifier;
    verifier.Trust({TrustedKey{key.publicKey, key.id}});
    // Frames signed ahead, each with the next counter; signing is not measured.
    constexpr int kFrames = 4096;
    static unsigned char frames[kFrames][kSignedLinkRecordFrameSize];
    for (int i = 0; i < kFrames; ++i)
        EncodeSignedLinkRecordFrame(Lesson(), 0, static_cast<std::uint64_t>(i + 1), key, frames[i]);
    const LinkNameHash name = HashLinkName(FieldText(Lesson().name));
    std::int64_t now = 0;
    long admitted = 0;
    int next = 0;
    for (auto _ : state) {
        if (next == kFrames) {
            state.PauseTiming();
            verifier.Trust({TrustedKey{key.publicKey, key.id}});
            next = 0;
            state.ResumeTiming();
        }
        DropReason reason;
        admitted += verifier.Admit(FrameView(frames[next], kSignedLinkRecordFrameSize), name, 1, now += 2, reason);
        ++next;
    }
    if (admitted != static_cast<long>(state.iterations()))
        state.SkipWithError("a valid frame was refused");
    state.counters["frames_per_s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_VerifiedFrame);

} // namespace
} // namespace kestrel
