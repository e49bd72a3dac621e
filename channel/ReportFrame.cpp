#include "channel/ReportFrame.h"

#include "channel/Crc16.h"
#include "channel/FrameWriter.h"

#include <algorithm>
#include <cstring>

namespace kestrel {

namespace {

constexpr char kReportMagic[4] = {'K', 'R', 'P', '1'};
constexpr std::size_t kModeOffset = 4;
constexpr std::size_t kFlagsOffset = 5;
constexpr std::size_t kChannelPortOffset = 6;
constexpr std::size_t kDigestOffset = 8;
constexpr std::size_t kCounterOffset = 16;
constexpr std::size_t kUptimeOffset = 24;
constexpr std::size_t kReservedOffset = 28;
constexpr std::size_t kMachineOffset = 32;
constexpr std::size_t kLoginOffset = 96;
constexpr std::size_t kPageHostOffset = 128;
constexpr std::size_t kVersionOffset = 224;
constexpr unsigned char kKnownFlags = kReportComplete | kReportSigned | kReportWithheld;
static_assert(kVersionOffset + sizeof(ScreenReport::version) == kReportSize, "256 bytes");
static_assert(kPageHostOffset + sizeof(ScreenReport::pageHost) == kVersionOffset, "no gap");
static_assert(kLoginOffset + sizeof(ScreenReport::login) == kPageHostOffset, "no gap");
static_assert(kMachineOffset + sizeof(ScreenReport::machine) == kLoginOffset, "no gap");

void PutLittleEndian(std::uint64_t value, std::size_t size, unsigned char* bytes)
{
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<unsigned char>(value >> (8 * i));
}

std::uint64_t ReadLittleEndian64(const unsigned char* bytes)
{
    return ReadLittleEndian32(bytes) | (static_cast<std::uint64_t>(ReadLittleEndian32(bytes + 4)) << 32);
}

// The length of the well-formed UTF-8 character at `text`, 0 when there is
// none (stray, overlong or surrogate bytes, or one cut off by `end`).
std::size_t Utf8CharacterLength(const unsigned char* text, const unsigned char* end)
{
    const unsigned char lead = text[0];
    if (lead < 0x80)
        return 1;
    std::size_t length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (static_cast<std::size_t>(end - text) < length || text[1] < low || text[1] > high)
        return 0;
    for (std::size_t i = 2; i < length; ++i) {
        if (text[i] < 0x80 || text[i] > 0xBF)
            return 0;
    }
    return length;
}

bool IsControl(unsigned char byte)
{
    return byte < 0x20 || byte == 0x7F;
}

// A name as a page may show it: UTF-8 without control characters.
bool IsNameText(const unsigned char* text, std::size_t length)
{
    const unsigned char* const end = text + length;
    while (text < end) {
        const std::size_t step = Utf8CharacterLength(text, end);
        if (step == 0 || (step == 1 && IsControl(*text)))
            return false;
        text += step;
    }
    return true;
}

bool IsPrintableAscii(const unsigned char* text, std::size_t length)
{
    return std::all_of(text, text + length, [](unsigned char byte) { return byte >= 0x20 && byte < 0x7F; });
}

// Copies a text field up to its NUL, the rest zero; false when there is no
// NUL or the text is not of its kind.
template <std::size_t N>
ReportFault ReadText(const unsigned char* field, bool name, char (&text)[N])
{
    const void* end = std::memchr(field, '\0', N);
    if (end == nullptr)
        return ReportFault::TextWithoutEnd;
    const std::size_t length = static_cast<const unsigned char*>(end) - field;
    if (name ? !IsNameText(field, length) : !IsPrintableAscii(field, length))
        return ReportFault::WrongText;
    std::memset(text, 0, N);
    std::memcpy(text, field, length);
    return ReportFault::None;
}

ReportFault CheckFrame(const unsigned char* datagram, std::size_t size)
{
    if (size != kReportFrameSize)
        return ReportFault::WrongLength;
    if (std::any_of(datagram, datagram + kFrameSyncSize, [](unsigned char byte) { return byte != kFrameSyncByte; })
        || ReadLittleEndian16(datagram + kFrameCheckOffset)
            != Crc16(datagram + kFrameCheckedOffset, size - kFrameCheckedOffset))
        return ReportFault::WrongCheck;
    if (datagram[kFrameTypeOffset] != kReportFrameType)
        return ReportFault::NotAReport;
    if (datagram[kFrameMarkerOffset] != 0)
        return ReportFault::WrongMarker;
    if (ReadLittleEndian32(datagram + kFrameLengthOffset) != kReportSize)
        return ReportFault::WrongLength;
    return ReportFault::None;
}

template <std::size_t N>
void PutText(const char (&text)[N], unsigned char* field)
{
    SetReportText(reinterpret_cast<char*>(field), N, std::string_view(text, strnlen(text, N)));
}

} // namespace

ReportFault ReadReportFrame(const unsigned char* datagram, std::size_t size, ScreenReport& report)
{
    if (const ReportFault fault = CheckFrame(datagram, size); fault != ReportFault::None)
        return fault;
    const unsigned char* payload = datagram + kFrameHeaderSize;
    if (std::memcmp(payload, kReportMagic, sizeof kReportMagic) != 0)
        return ReportFault::WrongMagic;
    if (payload[kModeOffset] > static_cast<unsigned char>(ClassroomMode::Paused))
        return ReportFault::WrongMode;
    if ((payload[kFlagsOffset] & ~kKnownFlags) != 0)
        return ReportFault::WrongFlags;
    if (ReadLittleEndian32(payload + kReservedOffset) != 0)
        return ReportFault::ReservedSet;
    ScreenReport read;
    for (const ReportFault fault : {ReadText(payload + kMachineOffset, true, read.machine),
                                    ReadText(payload + kLoginOffset, true, read.login),
                                    ReadText(payload + kPageHostOffset, false, read.pageHost),
                                    ReadText(payload + kVersionOffset, false, read.version)}) {
        if (fault != ReportFault::None)
            return fault;
    }
    read.mode = static_cast<ClassroomMode>(payload[kModeOffset]);
    read.flags = payload[kFlagsOffset];
    read.channelPort = ReadLittleEndian16(payload + kChannelPortOffset);
    std::memcpy(read.digest.data(), payload + kDigestOffset, read.digest.size());
    read.stateCounter = ReadLittleEndian64(payload + kCounterOffset);
    read.uptimeSeconds = ReadLittleEndian32(payload + kUptimeOffset);
    report = read;
    return ReportFault::None;
}

void SetReportText(char* field, std::size_t fieldSize, std::string_view text)
{
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    const unsigned char* const end = bytes + text.size();
    std::memset(field, 0, fieldSize);
    std::size_t kept = 0;
    while (bytes < end) {
        const std::size_t length = Utf8CharacterLength(bytes, end);
        // A stray byte or a control character would make the report unreadable.
        const bool plain = length > 1 || (length == 1 && !IsControl(*bytes));
        const std::size_t step = std::max<std::size_t>(length, 1);
        const std::size_t written = plain ? step : 1;
        if (kept + written >= fieldSize)
            break;
        if (plain)
            std::memcpy(field + kept, bytes, step);
        else
            field[kept] = '?';
        kept += written;
        bytes += step;
    }
}

void EncodeReportFrame(const ScreenReport& report, unsigned char (&frame)[kReportFrameSize])
{
    unsigned char* payload = frame + kFrameHeaderSize;
    std::memset(payload, 0, kReportSize);
    std::memcpy(payload, kReportMagic, sizeof kReportMagic);
    payload[kModeOffset] = static_cast<unsigned char>(report.mode);
    payload[kFlagsOffset] = report.flags & kKnownFlags;
    PutLittleEndian(report.channelPort, 2, payload + kChannelPortOffset);
    if ((report.flags & kReportComplete) != 0)
        std::memcpy(payload + kDigestOffset, report.digest.data(), report.digest.size());
    PutLittleEndian(report.stateCounter, 8, payload + kCounterOffset);
    PutLittleEndian(report.uptimeSeconds, 4, payload + kUptimeOffset);
    PutText(report.machine, payload + kMachineOffset);
    PutText(report.login, payload + kLoginOffset);
    PutText(report.pageHost, payload + kPageHostOffset);
    PutText(report.version, payload + kVersionOffset);
    SealFrame(kReportFrameType, 0, kReportSize, frame);
}

} // namespace kestrel
