#include "tools/ByteRange.h"

namespace kestrel {

namespace {

// A decimal number of at most 18 digits (no file is larger); false for
// anything else, including nothing.
bool ReadNumber(std::string_view text, bool& present, std::uint64_t& number)
{
    present = !text.empty();
    number = 0;
    if (text.size() > 18)
        return false;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return false;
        number = number * 10 + static_cast<std::uint64_t>(c - '0');
    }
    return true;
}

} // namespace

ByteRange ReadByteRange(std::string_view header, std::uint64_t size)
{
    ByteRange range;
    constexpr std::string_view kUnit = "bytes=";
    if (header.substr(0, kUnit.size()) != kUnit)
        return range;
    const std::string_view bounds = header.substr(kUnit.size());
    const std::size_t dash = bounds.find('-');
    if (dash == std::string_view::npos || bounds.find(',') != std::string_view::npos)
        return range;
    bool hasFirst = false;
    bool hasLast = false;
    std::uint64_t first = 0;
    std::uint64_t last = 0;
    if (!ReadNumber(bounds.substr(0, dash), hasFirst, first) || !ReadNumber(bounds.substr(dash + 1), hasLast, last)
        || (!hasFirst && !hasLast) || (hasFirst && hasLast && last < first))
        return range;
    if (!hasFirst) {
        // The last `last` bytes.
        first = last < size ? size - last : 0;
        last = size - 1;
        if (size == 0 || first == size) {
            range.answer = ByteRange::Answer::Unsatisfiable;
            return range;
        }
    } else if (!hasLast || last >= size) {
        last = size - 1;
    }
    if (first >= size) {
        range.answer = ByteRange::Answer::Unsatisfiable;
        return range;
    }
    range.answer = ByteRange::Answer::Part;
    range.first = first;
    range.length = last - first + 1;
    return range;
}

} // namespace kestrel
