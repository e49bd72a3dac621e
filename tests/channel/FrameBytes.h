#pragma once

#include "base/LinkRecord.h"
#include "channel/FrameFormat.h"
#include "channel/FrameView.h"
#include "channel/FrameWriter.h"
#include "channel/LinkRecordFrame.h"

#include <cstring>
#include <initializer_list>
#include <random>
#include <string>
#include <vector>

namespace kestrel::test {

using Bytes = std::vector<unsigned char>;

inline Bytes Join(std::initializer_list<Bytes> parts)
{
    Bytes joined;
    for (const Bytes& part : parts)
        joined.insert(joined.end(), part.begin(), part.end());
    return joined;
}

// A payload that holds no sync byte, so a frame's bytes are found only
// where the frame starts.
inline Bytes PatternPayload(std::size_t size, unsigned char seed = 1)
{
    Bytes payload(size);
    for (std::size_t i = 0; i < size; ++i)
        payload[i] = static_cast<unsigned char>((seed + i * 7) % kFrameSyncByte);
    return payload;
}

inline Bytes MakeFrame(unsigned char type, unsigned char marker, const Bytes& payload)
{
    Bytes frame(kFrameHeaderSize + payload.size());
    WriteFrame(type, marker, payload.data(), payload.size(), frame.data(), frame.size());
    return frame;
}

// Bytes that never hold a sync byte.
inline Bytes Garbage(std::size_t size, unsigned seed = 7)
{
    std::mt19937 random(seed);
    Bytes garbage(size);
    for (unsigned char& byte : garbage)
        byte = static_cast<unsigned char>(random() % kFrameSyncByte);
    return garbage;
}

inline LinkRecord MakeLinkRecord(const std::string& name, const std::string& url = "http://127.0.0.1/")
{
    LinkRecord record{};
    std::strncpy(record.name, name.c_str(), sizeof record.name - 1);
    std::strncpy(record.url, url.c_str(), sizeof record.url - 1);
    return record;
}

inline Bytes LinkRecordFrame(const LinkRecord& record, unsigned char marker = 0)
{
    unsigned char frame[kLinkRecordFrameSize];
    EncodeLinkRecordFrame(record, marker, frame);
    return Bytes(frame, frame + sizeof frame);
}

inline bool SameRecord(const LinkRecord& a, const LinkRecord& b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// Copies of the frames a finder hands on, in order.
struct FrameLog {
    std::vector<Bytes> frames;
    void operator()(FrameView frame) { frames.emplace_back(frame.Bytes(), frame.Bytes() + frame.Size()); }
};

} // namespace kestrel::test
