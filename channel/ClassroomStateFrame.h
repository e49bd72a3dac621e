#pragma once

#include "base/ClassroomState.h"
#include "base/LinkRecord.h"
#include "channel/FrameFormat.h"
#include "channel/FrameView.h"
#include "channel/SignedLinkRecordFrame.h"

#include <cstddef>
#include <cstdint>

namespace kestrel {

// The classroom-state frame: type 0xC9, marker 0, a payload of 1024 bytes
// not inverted, little-endian; signed, the 90-byte trailer follows them.
//     0   4  magic "KCS1"
//     4   1  mode: 0 open, 1 lesson only, 2 paused
//     5   1  link count n, 0 to 20
//     6   1  flags: bit 0, the catalogue has a home record
//     7   1  reserved, 0
//     8   4  valid for, seconds, 5 to 3600
//    12   4  pause countdown, seconds, 0 to 86400; 0 unless paused
//    16   8  catalogue digest
//    24   4  report address, IPv4 in network order
//    28   2  report port
//    30   2  reserved, 0
//    32   4  pause id
//    36 160  20 name hashes in toolbar order; from n on zero, no two equal
//   196 128  pause message, GBK, NUL-terminated
//   324 700  extra allowed hosts, ASCII, NUL-terminated
// The signature covers "Kestrel signed classroom state v1" and a NUL, frame
// bytes 6 to 17, then payload bytes 0 to 1049.
constexpr std::size_t kClassroomStateSize = 1024;
static_assert(kClassroomStateFrameType == 0xC9, "its own frame type");
constexpr std::size_t kSignedClassroomStateSize = kClassroomStateSize + kSignatureTrailerSize;
// Room for either form.
constexpr std::size_t kClassroomStateFrameSize = kFrameHeaderSize + kSignedClassroomStateSize;
constexpr std::uint32_t kShortestValidFor = 5;
constexpr std::uint32_t kLongestValidFor = 3600;
constexpr std::uint32_t kLongestPauseCountdown = 86400;

// Why a frame is not a well-formed classroom state.
enum class StateFault {
    None,
    NotAState,        // another frame type
    WrongMarker,
    WrongLength,
    WrongMagic,
    WrongMode,
    WrongLinkCount,
    WrongFlags,
    ReservedSet,
    WrongValidFor,
    WrongCountdown,   // over a day, or set outside a pause
    DuplicateName,
    NameBeyondCount,  // a hash entry from n on not zero
    TextWithoutEnd,   // the pause message or the hosts hold no NUL
};

// Reads and checks a classroom-state frame, signed or not, without its
// trailer; the counter and signedByTrustedKey are left to the caller. The
// texts are copied up to their NUL, the rest of their fields zero.
StateFault ReadClassroomStateFrame(const FrameView& frame, ClassroomState& state);

// The state's frame, bound to `boundPort` (0: unbound), signed with `key`
// and `counter` when a key is given. Returns the frame's size.
std::size_t EncodeClassroomStateFrame(const ClassroomState& state, std::uint16_t boundPort, const SigningKey* key,
                                      std::uint64_t counter, unsigned char (&frame)[kClassroomStateFrameSize]);

// The catalogue digest: BLAKE2b-256, first 8 bytes, over the home record (or
// 1153 zero bytes when `home` is null) and then each listed record, plain,
// in list order.
CatalogueDigest DigestCatalogue(const LinkRecord* home, const LinkRecord* const* listed, int listedCount);

} // namespace kestrel
