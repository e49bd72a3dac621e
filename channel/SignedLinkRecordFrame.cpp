#include "channel/SignedLinkRecordFrame.h"

#include "channel/Crc16.h"
#include "channel/FrameWriter.h"

#include <sodium.h>

#include <cstring>

namespace kestrel {

namespace {

// The two kinds of signed frame differ in the body before the trailer and
// in the words in front of the signed message, so that neither kind's
// signature ever passes for the other's.
struct SignedKind {
    const char* context; // with its NUL
    std::size_t contextSize;
    std::size_t bodySize;
};
constexpr char kLinkRecordContext[] = "Kestrel signed link record v1";
constexpr char kClassroomStateContext[] = "Kestrel signed classroom state v1";
constexpr std::size_t kClassroomStateBodySize = 1024;
constexpr SignedKind kLinkRecordKind{kLinkRecordContext, sizeof kLinkRecordContext, kLinkRecordSize};
constexpr SignedKind kClassroomStateKind{kClassroomStateContext, sizeof kClassroomStateContext,
                                         kClassroomStateBodySize};
constexpr std::size_t kSignedMessageSize
    = sizeof kLinkRecordContext + kFrameCheckedHeaderBytes + kLinkRecordSize + kTrailerSignatureOffset - kTrailerMagicOffset;
static_assert(kSignedMessageSize == 1221, "the largest signed message is a link record's 1221 bytes");
static_assert(sizeof kClassroomStateContext == 34, "the state's words and NUL are 34 bytes");

const SignedKind& KindOf(unsigned char frameType)
{
    return frameType == kClassroomStateFrameType ? kClassroomStateKind : kLinkRecordKind;
}

// libsodium must be set up once before its first use; it is safe to ask
// again.
bool SodiumReady()
{
    static const bool ready = sodium_init() >= 0;
    return ready;
}

// The signed message, assembled in the caller's fixed buffer; returns its
// size.
std::size_t AssembleSignedMessage(const SignedKind& kind, const unsigned char* frame,
                                  unsigned char (&message)[kSignedMessageSize])
{
    const std::size_t signedPayload = kind.bodySize + (kTrailerSignatureOffset - kTrailerMagicOffset);
    std::memcpy(message, kind.context, kind.contextSize);
    std::memcpy(message + kind.contextSize, frame + kFrameCheckedOffset, kFrameCheckedHeaderBytes);
    std::memcpy(message + kind.contextSize + kFrameCheckedHeaderBytes, frame + kFrameHeaderSize, signedPayload);
    return kind.contextSize + kFrameCheckedHeaderBytes + signedPayload;
}

std::uint64_t ReadLittleEndian64(const unsigned char* bytes)
{
    std::uint64_t value = 0;
    for (int i = 7; i >= 0; --i)
        value = (value << 8) | bytes[i];
    return value;
}

void WriteLittleEndian64(std::uint64_t value, unsigned char* bytes)
{
    for (int i = 0; i < 8; ++i)
        bytes[i] = static_cast<unsigned char>(value >> (8 * i));
}

bool AllZero(const unsigned char* bytes, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i) {
        if (bytes[i] != 0)
            return false;
    }
    return true;
}

} // namespace

KeyId KeyIdOf(const PublicKey& publicKey)
{
    unsigned char hash[crypto_generichash_BYTES];
    static_assert(crypto_generichash_BYTES == 32, "BLAKE2b-256");
    crypto_generichash(hash, sizeof hash, publicKey.data(), publicKey.size(), nullptr, 0);
    KeyId id;
    std::memcpy(id.data(), hash, id.size());
    return id;
}

std::string KeyIdText(const KeyId& id)
{
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    for (unsigned char byte : id) {
        text += kDigits[byte >> 4];
        text += kDigits[byte & 0xF];
    }
    return text;
}

bool SigningKeyFromSeed(const unsigned char (&seed)[kSecretSeedSize], SigningKey& key)
{
    static_assert(crypto_sign_SEEDBYTES == kSecretSeedSize && crypto_sign_PUBLICKEYBYTES == kPublicKeySize
                      && crypto_sign_SECRETKEYBYTES == 64 && crypto_sign_BYTES == kSignatureSize,
                  "Ed25519 sizes");
    if (!SodiumReady() || crypto_sign_seed_keypair(key.publicKey.data(), key.secretKey.data(), seed) != 0)
        return false;
    std::memcpy(key.seed.data(), seed, kSecretSeedSize);
    key.id = KeyIdOf(key.publicKey);
    return true;
}

bool GenerateSigningKey(SigningKey& key)
{
    if (!SodiumReady())
        return false;
    unsigned char seed[kSecretSeedSize];
    randombytes_buf(seed, sizeof seed);
    const bool made = SigningKeyFromSeed(seed, key);
    sodium_memzero(seed, sizeof seed);
    return made;
}

TrailerFault ReadSignatureTrailer(const FrameView& frame, SignatureTrailer& trailer)
{
    const std::size_t body = KindOf(frame.Type()).bodySize;
    const std::uint32_t length = frame.PayloadLength();
    if (length == body)
        return TrailerFault::NoTrailer;
    if (length != body + kSignatureTrailerSize)
        return TrailerFault::WrongLength;
    const unsigned char* trailerBytes = frame.Payload() + body - kTrailerMagicOffset;
    if (std::memcmp(trailerBytes + kTrailerMagicOffset, kSignatureMagic, sizeof kSignatureMagic) != 0)
        return TrailerFault::WrongMagic;
    if (trailerBytes[kTrailerAlgorithmOffset] != kEd25519Algorithm)
        return TrailerFault::WrongAlgorithm;
    if (trailerBytes[kTrailerFlagsOffset] != 0 || !AllZero(trailerBytes + kTrailerReservedOffset, 4))
        return TrailerFault::ReservedSet;
    std::memcpy(trailer.keyId.data(), trailerBytes + kTrailerKeyIdOffset, kKeyIdSize);
    trailer.counter = ReadLittleEndian64(trailerBytes + kTrailerCounterOffset);
    return TrailerFault::None;
}

bool SignatureVerifies(const FrameView& frame, const PublicKey& publicKey)
{
    const SignedKind& kind = KindOf(frame.Type());
    if (!SodiumReady() || frame.PayloadLength() != kind.bodySize + kSignatureTrailerSize)
        return false;
    unsigned char message[kSignedMessageSize];
    const std::size_t size = AssembleSignedMessage(kind, frame.Bytes(), message);
    const unsigned char* signature = frame.Payload() + kind.bodySize - kTrailerMagicOffset + kTrailerSignatureOffset;
    return crypto_sign_verify_detached(signature, message, size, publicKey.data()) == 0;
}

void SignFrame(unsigned char type, unsigned char marker, std::uint64_t counter, const SigningKey& key,
               std::uint16_t boundPort, unsigned char* frame)
{
    const std::size_t body = KindOf(type).bodySize;
    const std::uint32_t payloadLength = static_cast<std::uint32_t>(body + kSignatureTrailerSize);
    unsigned char* const trailerBytes = frame + kFrameHeaderSize + body - kTrailerMagicOffset;
    std::memcpy(trailerBytes + kTrailerMagicOffset, kSignatureMagic, sizeof kSignatureMagic);
    trailerBytes[kTrailerAlgorithmOffset] = kEd25519Algorithm;
    trailerBytes[kTrailerFlagsOffset] = 0;
    std::memcpy(trailerBytes + kTrailerKeyIdOffset, key.id.data(), kKeyIdSize);
    WriteLittleEndian64(counter, trailerBytes + kTrailerCounterOffset);
    std::memset(trailerBytes + kTrailerReservedOffset, 0, 4);
    // The header goes in first (it is signed too); sealing again afterwards
    // computes the CRC over the finished frame.
    SealFrame(type, marker, payloadLength, frame, boundPort);
    unsigned char message[kSignedMessageSize];
    const std::size_t size = AssembleSignedMessage(KindOf(type), frame, message);
    SodiumReady();
    crypto_sign_detached(trailerBytes + kTrailerSignatureOffset, nullptr, message, size, key.secretKey.data());
    SealFrame(type, marker, payloadLength, frame, boundPort);
}

void EncodeSignedLinkRecordFrame(const LinkRecord& record, unsigned char marker, std::uint64_t counter,
                                 const SigningKey& key, unsigned char (&frame)[kSignedLinkRecordFrameSize],
                                 std::uint16_t boundPort)
{
    CopyInverted(reinterpret_cast<const unsigned char*>(&record), kLinkRecordSize, frame + kFrameHeaderSize);
    SignFrame(kLinkRecordFrameType, marker, counter, key, boundPort, frame);
}

} // namespace kestrel
