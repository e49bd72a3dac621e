#pragma once

#include <cstdint>
#include <string_view>

namespace kestrel {

// The part of a file a Range header asks for.
struct ByteRange {
    enum class Answer {
        // No range, several ranges, or one that cannot be read: the whole
        // file, so that no request multiplies what is sent.
        WholeFile,
        Part,
        Unsatisfiable,
    };
    Answer answer = Answer::WholeFile;
    std::uint64_t first = 0;
    std::uint64_t length = 0;
};

// Reads a Range header (empty when absent) against a file of `size` bytes.
ByteRange ReadByteRange(std::string_view header, std::uint64_t size);

} // namespace kestrel
