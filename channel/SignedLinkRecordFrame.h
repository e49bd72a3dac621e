#pragma once

#include "base/LinkRecord.h"
#include "channel/FrameFormat.h"
#include "channel/FrameView.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace kestrel {

// A signed link-record frame: an ordinary link-record frame whose payload is
// the inverted record followed by a 90-byte trailer, not inverted. Receivers
// that read only the first 1153 payload bytes take it as an unsigned one.
//   payload 1153  4  magic "KSG1"
//           1157  1  algorithm, 1 = Ed25519
//           1158  1  flags, 0
//           1159  8  key id: first 8 bytes of BLAKE2b-256 of the public key
//           1167  8  counter, little-endian
//           1175  4  reserved, 0
//           1179 64  Ed25519 signature
// The signature covers "Kestrel signed link record v1" and a NUL, frame bytes
// 6 to 17, then payload bytes 0 to 1178. A classroom-state frame carries the
// same trailer after its 1024 bytes, signed with words of its own.
constexpr std::size_t kSignatureTrailerSize = 90;
constexpr std::size_t kSignedLinkRecordPayloadSize = kLinkRecordSize + kSignatureTrailerSize;
constexpr std::size_t kSignedLinkRecordFrameSize = kFrameHeaderSize + kSignedLinkRecordPayloadSize;
constexpr std::size_t kTrailerMagicOffset = kLinkRecordSize;
constexpr std::size_t kTrailerAlgorithmOffset = kTrailerMagicOffset + 4;
constexpr std::size_t kTrailerFlagsOffset = kTrailerAlgorithmOffset + 1;
constexpr std::size_t kTrailerKeyIdOffset = kTrailerFlagsOffset + 1;
constexpr std::size_t kTrailerCounterOffset = kTrailerKeyIdOffset + 8;
constexpr std::size_t kTrailerReservedOffset = kTrailerCounterOffset + 8;
constexpr std::size_t kTrailerSignatureOffset = kTrailerReservedOffset + 4;
constexpr unsigned char kEd25519Algorithm = 1;
constexpr char kSignatureMagic[4] = {'K', 'S', 'G', '1'};

constexpr std::size_t kPublicKeySize = 32;
constexpr std::size_t kKeyIdSize = 8;
constexpr std::size_t kSignatureSize = 64;
constexpr std::size_t kSecretSeedSize = 32;
static_assert(kTrailerSignatureOffset + kSignatureSize == kSignedLinkRecordPayloadSize, "the trailer is 90 bytes");

using PublicKey = std::array<unsigned char, kPublicKeySize>;
using KeyId = std::array<unsigned char, kKeyIdSize>;

KeyId KeyIdOf(const PublicKey& publicKey);
// The key id as 16 lower-case hex digits, as the tools print it.
std::string KeyIdText(const KeyId& id);

// An announcer's key pair, made from its 32-byte secret seed.
struct SigningKey {
    std::array<unsigned char, kSecretSeedSize> seed{};
    std::array<unsigned char, 64> secretKey{};
    PublicKey publicKey{};
    KeyId id{};
};

bool SigningKeyFromSeed(const unsigned char (&seed)[kSecretSeedSize], SigningKey& key);
// A new key pair from the system's random source.
bool GenerateSigningKey(SigningKey& key);

// What a link-record frame's trailer says, or why it does not make one.
enum class TrailerFault {
    None,
    NoTrailer,      // payload of exactly one record: an unsigned frame
    WrongLength,    // any other length than a record and one trailer
    WrongMagic,
    WrongAlgorithm,
    ReservedSet,    // flags or reserved bytes other than zero
};

struct SignatureTrailer {
    KeyId keyId{};
    std::uint64_t counter = 0;
};

// The classroom-state frame's type; its trailer follows 1024 bytes.
constexpr unsigned char kClassroomStateFrameType = 0xC9;

// Reads the trailer of a link-record frame (IsLinkRecordFrame holds) or of
// a classroom-state frame.
TrailerFault ReadSignatureTrailer(const FrameView& frame, SignatureTrailer& trailer);

// Whether the trailer's signature over the frame verifies with publicKey;
// the frame's trailer must have been read without fault.
bool SignatureVerifies(const FrameView& frame, const PublicKey& publicKey);

// Writes the trailer behind the body already in the frame's payload, the
// header bound to `boundPort`, and signs; the CRC is computed last.
void SignFrame(unsigned char type, unsigned char marker, std::uint64_t counter, const SigningKey& key,
               std::uint16_t boundPort, unsigned char* frame);

// The signed link-record frame of the record, bound to `boundPort`.
void EncodeSignedLinkRecordFrame(const LinkRecord& record, unsigned char marker, std::uint64_t counter,
                                 const SigningKey& key, unsigned char (&frame)[kSignedLinkRecordFrameSize],
                                 std::uint16_t boundPort = 0);

} // namespace kestrel
