#include "base/ClassroomState.h"

#include "base/AsciiCase.h"

#include <sodium.h>

#include <algorithm>

namespace kestrel {

LinkNameHash HashLinkName(std::string_view name)
{
    unsigned char folded[sizeof(LinkRecord::name)];
    const std::size_t length = std::min(name.size(), sizeof folded);
    for (std::size_t i = 0; i < length; ++i)
        folded[i] = static_cast<unsigned char>(FoldAsciiCase(name[i]));
    unsigned char full[crypto_generichash_BYTES];
    crypto_generichash(full, sizeof full, folded, length, nullptr, 0);
    LinkNameHash hash;
    std::copy_n(full, hash.size(), hash.begin());
    return hash;
}

namespace {

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

// Four decimal numbers up to 255, without leading zeros, which some
// readers take for octal.
bool IsDottedIpv4(std::string_view text)
{
    for (int part = 0; part < 4; ++part) {
        std::size_t length = 0;
        int value = 0;
        while (length < text.size() && length < 4 && IsDigit(text[length]))
            value = value * 10 + (text[length++] - '0');
        if (length == 0 || length > 3 || value > 255 || (length > 1 && text[0] == '0'))
            return false;
        text.remove_prefix(length);
        if (part < 3) {
            if (text.empty() || text[0] != '.')
                return false;
            text.remove_prefix(1);
        }
    }
    return text.empty();
}

bool IsDnsLabel(std::string_view label)
{
    if (label.empty() || label.size() > 63 || label.front() == '-' || label.back() == '-')
        return false;
    return std::all_of(label.begin(), label.end(),
                       [](char c) { return (c >= 'a' && c <= 'z') || IsDigit(c) || c == '-'; });
}

} // namespace

bool IsAllowedHostEntry(std::string_view entry)
{
    if (IsDottedIpv4(entry))
        return true;
    if (entry.empty() || entry.size() > 253)
        return false;
    std::string_view lastLabel;
    while (!entry.empty()) {
        const std::size_t dot = entry.find('.');
        lastLabel = entry.substr(0, dot);
        if (!IsDnsLabel(lastLabel))
            return false;
        entry.remove_prefix(dot == std::string_view::npos ? entry.size() : dot + 1);
        // A trailing dot leaves an empty last label.
        if (dot != std::string_view::npos && entry.empty())
            return false;
    }
    return !std::all_of(lastLabel.begin(), lastLabel.end(), IsDigit);
}

} // namespace kestrel
