// The classroom-state reader on arbitrary frames, held to a plain model of
// the layout: a state is read exactly when the model finds every field in
// its bounds, and then writing it again gives the input's payload back, the
// bytes after each text's NUL as zeros. The state then reaches a receiver
// holding records: what stays in its store is exactly what the list names.
// The payload's first 256 bytes are also read as a screen's report: one is
// read only with its magic and a known mode, and written again it reads
// back to the same bytes.
// Input: one byte choosing the payload length (1024, 1114 or any other), one
// for the marker, then the payload, zeros past the input's end.
#include "base/ClassroomState.h"
#include "channel/ClassroomStateFrame.h"
#include "channel/FrameWriter.h"
#include "channel/LinkReceiver.h"
#include "channel/LinkRecordFrame.h"
#include "channel/ReportFrame.h"
#include "fuzz/FuzzInput.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

namespace {

using kestrel::ClassroomState;
using kestrel::fuzz::Require;

std::uint32_t Le32(const unsigned char* at)
{
    return at[0] | at[1] << 8 | at[2] << 16 | static_cast<std::uint32_t>(at[3]) << 24;
}

bool HasNul(const unsigned char* at, std::size_t size)
{
    return std::find(at, at + size, 0) != at + size;
}

// The layout's rules, one by one, as they read.
bool WellFormed(const unsigned char* p, std::uint32_t length, unsigned char marker)
{
    if (marker != 0 || (length != 1024 && length != 1114) || std::memcmp(p, "KCS1", 4) != 0)
        return false;
    const unsigned mode = p[4], n = p[5];
    if (mode > 2 || n > 20 || (p[6] & 0xFE) != 0 || p[7] != 0 || p[30] != 0 || p[31] != 0)
        return false;
    if (Le32(p + 8) < 5 || Le32(p + 8) > 3600 || Le32(p + 12) > 86400 || (Le32(p + 12) != 0 && mode != 2))
        return false;
    for (unsigned i = 0; i < 20; ++i) {
        const unsigned char* hash = p + 36 + 8 * i;
        if (i >= n && std::any_of(hash, hash + 8, [](unsigned char b) { return b != 0; }))
            return false;
        for (unsigned j = 0; j < i && i < n; ++j) {
            if (std::memcmp(hash, p + 36 + 8 * j, 8) == 0)
                return false;
        }
    }
    return HasNul(p + 196, 128) && HasNul(p + 324, 700);
}

// The payload as the sender writes it: each text field zero after its NUL.
void Canonical(unsigned char* p)
{
    for (const auto& [offset, size] : {std::pair<std::size_t, std::size_t>{196, 128}, {324, 700}}) {
        unsigned char* end = std::find(p + offset, p + offset + size, 0);
        std::fill(end, p + offset + size, 0);
    }
}

// Records of names the lists may hold, for the receiver to keep or drop.
constexpr const char* kNames[] = {"home", "maths", "MUSIC", "art", "history"};

void CheckReport(const unsigned char* payload, unsigned char marker)
{
    static unsigned char frame[kestrel::kReportFrameSize];
    std::memcpy(frame + kestrel::kFrameHeaderSize, payload, kestrel::kReportSize);
    kestrel::SealFrame(kestrel::kReportFrameType, marker, kestrel::kReportSize, frame);
    kestrel::ScreenReport report;
    if (kestrel::ReadReportFrame(frame, sizeof frame, report) != kestrel::ReportFault::None)
        return;
    Require(marker == 0 && std::memcmp(payload, "KRP1", 4) == 0 && payload[4] <= 2, "a report has its magic and mode");
    unsigned char again[kestrel::kReportFrameSize];
    kestrel::EncodeReportFrame(report, again);
    kestrel::ScreenReport reread;
    Require(kestrel::ReadReportFrame(again, sizeof again, reread) == kestrel::ReportFault::None,
            "a report read is written readable");
    unsigned char third[kestrel::kReportFrameSize];
    kestrel::EncodeReportFrame(reread, third);
    Require(std::memcmp(again, third, sizeof third) == 0, "written again, a report reads back to the same bytes");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    kestrel::fuzz::FuzzInput input(data, size);
    const std::uint8_t lengthChoice = input.TakeByte();
    const std::uint32_t length = lengthChoice == 0 ? 1024 : lengthChoice == 1 ? 1114 : 1024 ^ lengthChoice;
    const unsigned char marker = input.TakeByte();
    static unsigned char frame[kestrel::kFrameHeaderSize + 2048];
    unsigned char* const payload = frame + kestrel::kFrameHeaderSize;
    std::memset(payload, 0, 2048);
    std::size_t taken = 0;
    const std::uint8_t* bytes = input.TakeBytes(std::min<std::uint32_t>(length, 2048), taken);
    std::memcpy(payload, bytes, taken);
    kestrel::SealFrame(kestrel::kClassroomStateFrameType, marker, length, frame);
    const kestrel::FrameView view(frame, kestrel::kFrameHeaderSize + std::min<std::uint32_t>(length, 2048));

    CheckReport(payload, marker);
    ClassroomState state;
    const bool read = kestrel::ReadClassroomStateFrame(view, state) == kestrel::StateFault::None;
    Require(read == (length <= 2048 && WellFormed(payload, length, marker)), "a state is read exactly when well-formed");
    if (!read)
        return 0;

    unsigned char again[kestrel::kClassroomStateFrameSize];
    kestrel::EncodeClassroomStateFrame(state, 0, nullptr, 0, again);
    static unsigned char canonical[kestrel::kClassroomStateSize];
    std::memcpy(canonical, payload, sizeof canonical);
    Canonical(canonical);
    Require(std::memcmp(again + kestrel::kFrameHeaderSize, canonical, sizeof canonical) == 0,
            "written again, the state gives its payload back");

    kestrel::CLinkReceiver receiver;
    for (const char* name : kNames) {
        kestrel::LinkRecord record{};
        std::strcpy(record.name, name);
        receiver.AddRecord(record);
    }
    if (length == 1024)
        receiver.Feed(frame, view.Size());
    else
        receiver.KeepOnly(state);
    ClassroomState handed;
    Require(receiver.TakeState(handed) == (length == 1024), "a state fed whole is handed out once");
    Require(length != 1024 || handed.mode == kestrel::ClassroomMode::Open, "without keys the mode is open");
    int expected = 0;
    for (const char* name : kNames) {
        const kestrel::LinkNameHash hash = kestrel::HashLinkName(name);
        const bool listed = std::find(state.nameHashes.begin(), state.nameHashes.begin() + state.linkCount, hash)
                != state.nameHashes.begin() + state.linkCount
            || (state.hasHome && std::string(name) == "home");
        kestrel::LinkRecord kept;
        if (listed)
            Require(receiver.GetRecord(expected++, kept) && std::string(kept.name) == name,
                    "a listed record stays, in its order");
    }
    Require(receiver.GetCount() == expected, "every unlisted record leaves");
    return 0;
}
