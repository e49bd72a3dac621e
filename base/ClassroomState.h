#pragma once

#include "base/LinkRecord.h"

#include <array>
#include <cstdint>
#include <string_view>

namespace kestrel {

// What the teacher allows on the screens right now.
enum class ClassroomMode : std::uint8_t {
    Open = 0,
    LessonOnly = 1,
    Paused = 2,
};

// A link name as the classroom state lists it: 8 bytes of a hash of the
// name's bytes with A-Z folded, so that the list fits one frame.
using LinkNameHash = std::array<std::uint8_t, 8>;
// The first 8 bytes of a hash over the home record and the listed records.
using CatalogueDigest = std::array<std::uint8_t, 8>;

// One classroom state as the announcer sends it, after the frame was read
// and checked: plain values, with the texts still in their fixed fields.
struct ClassroomState {
    ClassroomMode mode = ClassroomMode::Open;
    // The listed links, in toolbar order; entries from linkCount on are zero.
    int linkCount = 0;
    std::array<LinkNameHash, kMaxLinks> nameHashes{};
    bool hasHome = false;
    std::uint32_t validForSeconds = 0;
    // 0 when no countdown runs; only while paused.
    std::uint32_t pauseCountdownSeconds = 0;
    std::uint32_t pauseId = 0;
    CatalogueDigest digest{};
    // IPv4 in network order, 0 for the frame's source; port 0: no reports.
    std::uint32_t reportAddress = 0;
    std::uint16_t reportPort = 0;
    // GBK, NUL-terminated; empty means the standing pause text.
    char pauseMessage[128] = {};
    // Lower-case host names or dotted IPv4 addresses, single spaces between.
    char extraHosts[700] = {};
    // The announcer's counter of the frame (0 when unsigned).
    std::uint64_t counter = 0;
    bool signedByTrustedKey = false;
};

// The hash under which a state lists a link name: over the name's bytes up
// to its NUL, A-Z folded to a-z.
LinkNameHash HashLinkName(std::string_view name);

// Whether one entry of the extra allowed hosts may stand there: a dotted
// IPv4 address, or a lower-case DNS name (internationalised names in their
// ASCII form) whose last label is not all digits.
bool IsAllowedHostEntry(std::string_view entry);

} // namespace kestrel
