// The frame finder fed datagram sequences (see DatagramScript.h), side by
// side with the plain model of its rules. After every feed both must have
// handed on the same frames from the same stream offsets and kept the same
// bytes; every frame handed on is whole and checked, none twice, and the
// buffer stays within its bounds. Frames of kFailingFrameType make the
// handler fail.
#include "channel/FrameFinder.h"
#include "channel/FrameFormat.h"
#include "fuzz/BitwiseCrc16.h"
#include "fuzz/DatagramScript.h"
#include "fuzz/FuzzInput.h"
#include "fuzz/ModelFrameFinder.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <vector>

namespace {

using kestrel::CFrameFinder;
using kestrel::FrameView;
using kestrel::fuzz::Bytes;
using kestrel::fuzz::Datagram;
using kestrel::fuzz::ModelFrameFinder;
using kestrel::fuzz::Require;

struct Delivery {
    std::uint64_t offset;
    Bytes bytes;
};

void RequireWholeCheckedFrame(const unsigned char* frame, std::size_t size)
{
    Require(size >= kestrel::kFrameHeaderSize, "a frame holds its header");
    for (std::size_t i = 0; i < kestrel::kFrameSyncSize; ++i)
        Require(frame[i] == kestrel::kFrameSyncByte, "a frame opens with four sync bytes");
    const std::uint32_t length = kestrel::ReadLittleEndian32(frame + kestrel::kFrameLengthOffset);
    Require(length <= kestrel::kLargestFramePayload, "a frame's payload is at most 8192 bytes");
    Require(size == kestrel::kFrameHeaderSize + length, "a frame is its header and its payload");
    Require(kestrel::fuzz::BitwiseCrc16(frame + kestrel::kFrameCheckedOffset, size - kestrel::kFrameCheckedOffset)
                == kestrel::ReadLittleEndian16(frame + kestrel::kFrameCheckOffset),
            "a frame's check value is right");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    kestrel::fuzz::FuzzInput input(data, size);
    const std::vector<Datagram> datagrams = kestrel::fuzz::DatagramScript(input).Run();

    // On the heap alone, so that the address sanitizer sees any step past it.
    const auto finder = std::make_unique<CFrameFinder>();
    ModelFrameFinder model;
    std::uint64_t nextFree = 0; // no later frame may begin before this offset
    bool lastFailed = false;

    for (const Datagram& datagram : datagrams) {
        const Bytes& bytes = datagram.bytes;
        std::vector<Delivery> real;
        std::vector<Delivery> expected;
        // A datagram of one piece is taken whole before any frame is handed on.
        const bool singlePiece = bytes.size() <= CFrameFinder::kLargestPiece;
        const std::uint64_t streamEnd = model.StreamTaken() + bytes.size();
        bool failed = false;
        const auto handler = [&](FrameView frame) {
            RequireWholeCheckedFrame(frame.Bytes(), frame.Size());
            Require(finder->GetBufferedCount() <= CFrameFinder::kBufferSize, "the buffer holds at most 24576 bytes");
            const std::uint64_t offset = singlePiece ? streamEnd - finder->GetBufferedCount() : 0;
            real.push_back({offset, Bytes(frame.Bytes(), frame.Bytes() + frame.Size())});
            if (frame.Type() == kestrel::fuzz::kFailingFrameType) {
                failed = true;
                throw std::runtime_error("handler failed");
            }
        };
        const auto modelHandler = [&](const ModelFrameFinder::Frame& frame) {
            expected.push_back({frame.offset, frame.bytes});
            return frame.bytes[kestrel::kFrameTypeOffset] != kestrel::fuzz::kFailingFrameType;
        };
        if (datagram.readInPlace && singlePiece) {
            // As the channel socket reads: room for a whole read, then only
            // a read that brought bytes is taken.
            std::copy(bytes.begin(), bytes.end(), finder->RoomFor(CFrameFinder::kLargestPiece));
            if (!bytes.empty())
                finder->FeedRoom(bytes.size(), handler);
            model.FeedRead(bytes.data(), bytes.size(), modelHandler);
        } else {
            finder->Feed(bytes.data(), bytes.size(), handler);
            model.Feed(bytes.data(), bytes.size(), modelHandler);
        }

        Require(real.size() == expected.size(), "the finder hands on as many frames as the model");
        for (std::size_t i = 0; i < real.size(); ++i) {
            Require(real[i].bytes == expected[i].bytes, "the finder hands on the model's frames");
            Require(!singlePiece || real[i].offset == expected[i].offset, "each frame comes from the model's offset");
            // A frame whose handler failed stays in place and comes again.
            Require(expected[i].offset >= nextFree || (lastFailed && expected[i].offset + expected[i].bytes.size() == nextFree),
                    "no frame is handed on twice, none overlaps another");
            lastFailed = expected[i].bytes[kestrel::kFrameTypeOffset] == kestrel::fuzz::kFailingFrameType;
            nextFree = expected[i].offset + expected[i].bytes.size();
        }
        Require(finder->GetBufferedCount() == model.Buffered(), "the finder keeps as many bytes as the model");
        Require(finder->GetState() == model.State(), "the finder is in the model's state");
        Require(finder->GetBufferedCount() <= CFrameFinder::kBufferSize, "the buffer holds at most 24576 bytes");
        // A failed handler may leave more, and an empty feed changes nothing.
        Require(failed || bytes.empty() || finder->GetBufferedCount() <= CFrameFinder::kHuntingBacklogLimit,
                "after a feed that took bytes at most 16384 stay");
    }
    return 0;
}
