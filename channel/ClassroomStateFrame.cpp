#include "channel/ClassroomStateFrame.h"

#include "channel/FrameWriter.h"

#include <sodium.h>

#include <algorithm>
#include <cstring>

namespace kestrel {

namespace {

constexpr char kStateMagic[4] = {'K', 'C', 'S', '1'};
constexpr std::size_t kModeOffset = 4;
constexpr std::size_t kLinkCountOffset = 5;
constexpr std::size_t kFlagsOffset = 6;
constexpr std::size_t kReservedOffset = 7;
constexpr std::size_t kValidForOffset = 8;
constexpr std::size_t kCountdownOffset = 12;
constexpr std::size_t kDigestOffset = 16;
constexpr std::size_t kReportAddressOffset = 24;
constexpr std::size_t kReportPortOffset = 28;
constexpr std::size_t kSecondReservedOffset = 30;
constexpr std::size_t kPauseIdOffset = 32;
constexpr std::size_t kNameHashesOffset = 36;
constexpr std::size_t kPauseMessageOffset = 196;
constexpr std::size_t kExtraHostsOffset = 324;
constexpr unsigned char kHasHomeFlag = 1;
constexpr std::size_t kHashSize = sizeof(LinkNameHash);
static_assert(kExtraHostsOffset + sizeof(ClassroomState::extraHosts) == kClassroomStateSize, "1024 bytes");
static_assert(kPauseMessageOffset + sizeof(ClassroomState::pauseMessage) == kExtraHostsOffset, "no gap");
static_assert(kNameHashesOffset + kMaxLinks * kHashSize == kPauseMessageOffset, "twenty hashes");

void PutLittleEndian(std::uint32_t value, std::size_t size, unsigned char* bytes)
{
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<unsigned char>(value >> (8 * i));
}

// Copies a text field up to its NUL and zeroes the rest; false when the
// field holds no NUL.
template <std::size_t N>
bool ReadText(const unsigned char* field, char (&text)[N])
{
    const void* end = std::memchr(field, '\0', N);
    if (end == nullptr)
        return false;
    const std::size_t length = static_cast<const unsigned char*>(end) - field;
    std::memset(text, 0, N);
    std::memcpy(text, field, length);
    return true;
}

bool AllZero(const unsigned char* bytes, std::size_t count)
{
    return std::all_of(bytes, bytes + count, [](unsigned char byte) { return byte == 0; });
}

StateFault CheckHeader(const FrameView& frame)
{
    if (frame.Type() != kClassroomStateFrameType)
        return StateFault::NotAState;
    if (frame.Marker() != 0)
        return StateFault::WrongMarker;
    if (frame.PayloadLength() != kClassroomStateSize && frame.PayloadLength() != kSignedClassroomStateSize)
        return StateFault::WrongLength;
    return StateFault::None;
}

StateFault ReadNameHashes(const unsigned char* payload, ClassroomState& state)
{
    const unsigned char* hashes = payload + kNameHashesOffset;
    for (int i = 0; i < kMaxLinks; ++i) {
        std::memcpy(state.nameHashes[i].data(), hashes + i * kHashSize, kHashSize);
        if (i >= state.linkCount && !AllZero(hashes + i * kHashSize, kHashSize))
            return StateFault::NameBeyondCount;
    }
    for (int i = 0; i < state.linkCount; ++i) {
        if (std::find(state.nameHashes.begin(), state.nameHashes.begin() + i, state.nameHashes[i])
            != state.nameHashes.begin() + i)
            return StateFault::DuplicateName;
    }
    return StateFault::None;
}

} // namespace

StateFault ReadClassroomStateFrame(const FrameView& frame, ClassroomState& state)
{
    if (const StateFault fault = CheckHeader(frame); fault != StateFault::None)
        return fault;
    const unsigned char* payload = frame.Payload();
    if (std::memcmp(payload, kStateMagic, sizeof kStateMagic) != 0)
        return StateFault::WrongMagic;
    if (payload[kModeOffset] > static_cast<unsigned char>(ClassroomMode::Paused))
        return StateFault::WrongMode;
    state.mode = static_cast<ClassroomMode>(payload[kModeOffset]);
    if (payload[kLinkCountOffset] > kMaxLinks)
        return StateFault::WrongLinkCount;
    state.linkCount = payload[kLinkCountOffset];
    if ((payload[kFlagsOffset] & ~kHasHomeFlag) != 0)
        return StateFault::WrongFlags;
    state.hasHome = (payload[kFlagsOffset] & kHasHomeFlag) != 0;
    if (payload[kReservedOffset] != 0 || !AllZero(payload + kSecondReservedOffset, 2))
        return StateFault::ReservedSet;
    state.validForSeconds = ReadLittleEndian32(payload + kValidForOffset);
    if (state.validForSeconds < kShortestValidFor || state.validForSeconds > kLongestValidFor)
        return StateFault::WrongValidFor;
    state.pauseCountdownSeconds = ReadLittleEndian32(payload + kCountdownOffset);
    if (state.pauseCountdownSeconds > kLongestPauseCountdown
        || (state.pauseCountdownSeconds != 0 && state.mode != ClassroomMode::Paused))
        return StateFault::WrongCountdown;
    std::memcpy(state.digest.data(), payload + kDigestOffset, state.digest.size());
    // The address stays in network order, as it travels.
    std::memcpy(&state.reportAddress, payload + kReportAddressOffset, 4);
    state.reportPort = ReadLittleEndian16(payload + kReportPortOffset);
    state.pauseId = ReadLittleEndian32(payload + kPauseIdOffset);
    if (const StateFault fault = ReadNameHashes(payload, state); fault != StateFault::None)
        return fault;
    if (!ReadText(payload + kPauseMessageOffset, state.pauseMessage)
        || !ReadText(payload + kExtraHostsOffset, state.extraHosts))
        return StateFault::TextWithoutEnd;
    state.counter = 0;
    state.signedByTrustedKey = false;
    return StateFault::None;
}

std::size_t EncodeClassroomStateFrame(const ClassroomState& state, std::uint16_t boundPort, const SigningKey* key,
                                      std::uint64_t counter, unsigned char (&frame)[kClassroomStateFrameSize])
{
    unsigned char* payload = frame + kFrameHeaderSize;
    std::memset(payload, 0, kClassroomStateSize);
    std::memcpy(payload, kStateMagic, sizeof kStateMagic);
    payload[kModeOffset] = static_cast<unsigned char>(state.mode);
    const int listed = std::clamp(state.linkCount, 0, kMaxLinks);
    payload[kLinkCountOffset] = static_cast<unsigned char>(listed);
    payload[kFlagsOffset] = state.hasHome ? kHasHomeFlag : 0;
    PutLittleEndian(state.validForSeconds, 4, payload + kValidForOffset);
    PutLittleEndian(state.pauseCountdownSeconds, 4, payload + kCountdownOffset);
    std::memcpy(payload + kDigestOffset, state.digest.data(), state.digest.size());
    std::memcpy(payload + kReportAddressOffset, &state.reportAddress, 4);
    PutLittleEndian(state.reportPort, 2, payload + kReportPortOffset);
    PutLittleEndian(state.pauseId, 4, payload + kPauseIdOffset);
    for (int i = 0; i < listed; ++i)
        std::memcpy(payload + kNameHashesOffset + i * kHashSize, state.nameHashes[i].data(), kHashSize);
    // The last byte of each text field stays 0: the NUL is always there.
    const std::string_view message = FieldText(state.pauseMessage);
    std::memcpy(payload + kPauseMessageOffset, message.data(), std::min(message.size(), sizeof state.pauseMessage - 1));
    const std::string_view hosts = FieldText(state.extraHosts);
    std::memcpy(payload + kExtraHostsOffset, hosts.data(), std::min(hosts.size(), sizeof state.extraHosts - 1));
    if (key == nullptr) {
        SealFrame(kClassroomStateFrameType, 0, kClassroomStateSize, frame, boundPort);
        return kFrameHeaderSize + kClassroomStateSize;
    }
    SignFrame(kClassroomStateFrameType, 0, counter, *key, boundPort, frame);
    return kClassroomStateFrameSize;
}

CatalogueDigest DigestCatalogue(const LinkRecord* home, const LinkRecord* const* listed, int listedCount)
{
    static const LinkRecord kNoHome{};
    crypto_generichash_state hashing;
    crypto_generichash_init(&hashing, nullptr, 0, crypto_generichash_BYTES);
    const LinkRecord& first = home != nullptr ? *home : kNoHome;
    crypto_generichash_update(&hashing, reinterpret_cast<const unsigned char*>(&first), kLinkRecordSize);
    for (int i = 0; i < listedCount; ++i)
        crypto_generichash_update(&hashing, reinterpret_cast<const unsigned char*>(listed[i]), kLinkRecordSize);
    unsigned char full[crypto_generichash_BYTES];
    crypto_generichash_final(&hashing, full, sizeof full);
    CatalogueDigest digest;
    std::copy_n(full, digest.size(), digest.begin());
    return digest;
}

} // namespace kestrel
