#pragma once

#include "base/ClassroomState.h"
#include "channel/FrameFormat.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace kestrel {

// What one screen tells the announcer about itself: a frame of type 0xCA,
// marker 0, a payload of 256 bytes not inverted, little-endian.
//     0   4  magic "KRP1"
//     4   1  mode on the screen: 0 open, 1 lesson only, 2 paused
//     5   1  flags, below; other bits 0
//     6   2  the channel port the browser listens on
//     8   8  catalogue digest of the held records; zero without kReportComplete
//    16   8  counter of the last state frame applied
//    24   4  seconds since the browser started
//    28   4  reserved, 0
//    32  64  machine name, UTF-8, NUL-terminated
//    96  32  login name, UTF-8, NUL-terminated
//   128  96  host of the page shown, ASCII, NUL-terminated; may be empty
//   224  32  program version, NUL-terminated
constexpr unsigned char kReportFrameType = 0xCA;
constexpr std::size_t kReportSize = 256;
constexpr std::size_t kReportFrameSize = kFrameHeaderSize + kReportSize;

// Every listed link is held and the digest computed.
constexpr unsigned char kReportComplete = 1;
constexpr unsigned char kReportSigned = 2;
// The settings withhold the login and the page host.
constexpr unsigned char kReportWithheld = 4;

struct ScreenReport {
    ClassroomMode mode = ClassroomMode::Open;
    unsigned char flags = 0;
    std::uint16_t channelPort = 0;
    CatalogueDigest digest{};
    std::uint64_t stateCounter = 0;
    std::uint32_t uptimeSeconds = 0;
    // NUL-terminated; the rest of each field zero.
    char machine[64] = {};
    char login[32] = {};
    char pageHost[96] = {};
    char version[32] = {};
};

// Why a datagram is not a well-formed report.
enum class ReportFault {
    None,
    WrongLength, // not exactly one report frame
    WrongCheck,  // sync bytes or check value
    NotAReport,  // another frame type
    WrongMarker,
    WrongMagic,
    WrongMode,
    WrongFlags,
    ReservedSet,
    TextWithoutEnd, // a text field holds no NUL
    WrongText,      // a name that is not UTF-8, or a host or version that is not printable ASCII
};

// Reads one whole datagram as a report; `report` is filled only when the
// answer is None.
ReportFault ReadReportFrame(const unsigned char* datagram, std::size_t size, ScreenReport& report);

// The report's frame, its texts put in as SetReportText does; the digest
// only with kReportComplete.
void EncodeReportFrame(const ScreenReport& report, unsigned char (&frame)[kReportFrameSize]);

// Copies `text` into a report's field, cut at a UTF-8 character boundary so
// that the NUL fits, the rest of the field zero. Stray bytes and control
// characters become "?", so that the report stays readable.
void SetReportText(char* field, std::size_t fieldSize, std::string_view text);
template <std::size_t N>
void SetReportText(char (&field)[N], std::string_view text)
{
    SetReportText(field, N, text);
}

} // namespace kestrel
