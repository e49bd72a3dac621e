#include "channel/SignedLinkRecordFrame.h"

#include "channel/Crc16.h"
#include "channel/FrameWriter.h"

#include <sodium.h>

#include <cstring>

namespace kestrel {

namespace {

constexpr char kSignedContext[] = "Kestrel signed link record v1"; // with its NUL: 30 bytes
constexpr std::size_t kSignedContextSize = sizeof kSignedContext;
constexpr std::size_t kSignedMessageSize = kSignedContextSize + kFrameCheckedHeaderBytes + kTrailerSignatureOffset;
static_assert(kSignedMessageSize == 1221, "the signed message is 1221 bytes");

// libsodium must be set up once before its first use; it is safe to ask
// again.
bool SodiumReady()
{
    static const bool ready = sodium_init() >= 0;
    return ready;
}

// The signed message, assembled in the caller's fixed buffer.
void AssembleSignedMessage(const unsigned char* frame, unsigned char (&message)[kSignedMessageSize])
{
    std::memcpy(message, kSignedContext, kSignedContextSize);
    std::memcpy(message + kSignedContextSize, frame + kFrameCheckedOffset, kFrameCheckedHeaderBytes);
    std::memcpy(message + kSignedContextSize + kFrameCheckedHeaderBytes, frame + kFrameHeaderSize,
                kTrailerSignatureOffset);
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
    const std::uint32_t length = frame.PayloadLength();
    if (length == kLinkRecordSize)
        return TrailerFault::NoTrailer;
    if (length != kSignedLinkRecordPayloadSize)
        return TrailerFault::WrongLength;
    const unsigned char* payload = frame.Payload();
    if (std::memcmp(payload + kTrailerMagicOffset, kSignatureMagic, sizeof kSignatureMagic) != 0)
        return TrailerFault::WrongMagic;
    if (payload[kTrailerAlgorithmOffset] != kEd25519Algorithm)
        return TrailerFault::WrongAlgorithm;
    if (payload[kTrailerFlagsOffset] != 0 || !AllZero(payload + kTrailerReservedOffset, 4))
        return TrailerFault::ReservedSet;
    std::memcpy(trailer.keyId.data(), payload + kTrailerKeyIdOffset, kKeyIdSize);
    trailer.counter = ReadLittleEndian64(payload + kTrailerCounterOffset);
    return TrailerFault::None;
}

bool SignatureVerifies(const FrameView& frame, const PublicKey& publicKey)
{
    if (!SodiumReady() || frame.PayloadLength() != kSignedLinkRecordPayloadSize)
        return false;
    unsigned char message[kSignedMessageSize];
    AssembleSignedMessage(frame.Bytes(), message);
    return crypto_sign_verify_detached(frame.Payload() + kTrailerSignatureOffset, message, sizeof message,
                                       publicKey.data())
        == 0;
}

void EncodeSignedLinkRecordFrame(const LinkRecord& record, unsigned char marker, std::uint64_t counter,
                                 const SigningKey& key, unsigned char (&frame)[kSignedLinkRecordFrameSize])
{
    unsigned char* const payload = frame + kFrameHeaderSize;
    CopyInverted(reinterpret_cast<const unsigned char*>(&record), kLinkRecordSize, payload);
    std::memcpy(payload + kTrailerMagicOffset, kSignatureMagic, sizeof kSignatureMagic);
    payload[kTrailerAlgorithmOffset] = kEd25519Algorithm;
    payload[kTrailerFlagsOffset] = 0;
    std::memcpy(payload + kTrailerKeyIdOffset, key.id.data(), kKeyIdSize);
    WriteLittleEndian64(counter, payload + kTrailerCounterOffset);
    std::memset(payload + kTrailerReservedOffset, 0, 4);
    // The header goes in first (it is signed too); sealing again afterwards
    // computes the CRC over the finished frame.
    SealFrame(kLinkRecordFrameType, marker, kSignedLinkRecordPayloadSize, frame);
    unsigned char message[kSignedMessageSize];
    AssembleSignedMessage(frame, message);
    SodiumReady();
    crypto_sign_detached(payload + kTrailerSignatureOffset, nullptr, message, sizeof message, key.secretKey.data());
    SealFrame(kLinkRecordFrameType, marker, kSignedLinkRecordPayloadSize, frame);
}

} // namespace kestrel
