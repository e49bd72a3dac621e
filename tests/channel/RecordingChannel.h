#pragma once

#include "channel/ChannelSocket.h"

#include "tests/channel/FrameBytes.h"

#include <vector>

namespace kestrel::test {

// A channel that keeps a copy of every frame it is handed, in order.
class RecordingChannel : public CChannelSocket {
public:
    std::vector<Bytes> frames;

protected:
    void OnFrame(FrameView frame) override { frames.emplace_back(frame.Bytes(), frame.Bytes() + frame.Size()); }
};

} // namespace kestrel::test
