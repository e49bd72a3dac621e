#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace kestrel::fuzz {

// Reads a fuzz input front to back in the small steps each target's format
// is made of. Past the end every read gives zeros, so any input is whole.
class FuzzInput {
public:
    FuzzInput(const std::uint8_t* data, std::size_t size) : m_data(data), m_size(size) {}

    bool Empty() const { return m_position >= m_size; }

    std::uint8_t TakeByte() { return Empty() ? 0 : m_data[m_position++]; }

    std::uint16_t TakeLittleEndian16()
    {
        const std::uint8_t low = TakeByte();
        return static_cast<std::uint16_t>(low | (TakeByte() << 8));
    }

    // Up to `count` bytes, fewer at the end of the input; `taken` says how many.
    const std::uint8_t* TakeBytes(std::size_t count, std::size_t& taken)
    {
        const std::uint8_t* at = m_data + m_position;
        const std::size_t left = m_size - m_position;
        taken = count < left ? count : left;
        m_position += taken;
        return at;
    }

private:
    const std::uint8_t* m_data;
    std::size_t m_size;
    std::size_t m_position = 0;
};

// A broken promise is a finding: say which, and stop so that libFuzzer keeps
// the input.
inline void Require(bool holds, const char* promise)
{
    if (holds)
        return;
    std::fprintf(stderr, "broken: %s\n", promise);
    std::abort();
}

} // namespace kestrel::fuzz
