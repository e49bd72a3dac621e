#pragma once

namespace kestrel {

// Writes "%" and two upper-case hex digits for one byte; returns the
// position after them.
inline char* AppendPercentEscape(char* out, unsigned char byte)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    out[0] = '%';
    out[1] = kHex[byte >> 4];
    out[2] = kHex[byte & 0x0F];
    return out + 3;
}

} // namespace kestrel
