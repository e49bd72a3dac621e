#pragma once

#include "base/LinkRecord.h"
#include "channel/Crc16.h"
#include "channel/SignedLinkRecordFrame.h"
#include "channel/TrustedKeys.h"

#include <cstring>
#include <string>

namespace kestrel::test {

struct SignedFrame {
    unsigned char bytes[kSignedLinkRecordFrameSize];
    FrameView View() { return FrameView(bytes, sizeof bytes); }
};

// The same key pair in every run: seed bytes all `fill`.
inline SigningKey FixedKey(unsigned char fill)
{
    unsigned char seed[kSecretSeedSize];
    std::memset(seed, fill, sizeof seed);
    SigningKey key;
    SigningKeyFromSeed(seed, key);
    return key;
}

inline SignedFrame SignedRecordFrame(const LinkRecord& record, std::uint64_t counter, const SigningKey& key)
{
    SignedFrame frame;
    EncodeSignedLinkRecordFrame(record, 0, counter, key, frame.bytes);
    return frame;
}

// Computes the check value again after a test changed the frame's bytes,
// so that the change reaches the receiver rather than the CRC check.
inline void Reseal(unsigned char* frame, std::size_t size)
{
    const std::uint16_t crc = Crc16(frame + kFrameCheckedOffset, size - kFrameCheckedOffset);
    frame[kFrameCheckOffset] = static_cast<unsigned char>(crc);
    frame[kFrameCheckOffset + 1] = static_cast<unsigned char>(crc >> 8);
}

inline TrustedKey TrustOf(const SigningKey& key)
{
    return TrustedKey{key.publicKey, key.id};
}

} // namespace kestrel::test
