#include "config/ChannelSettings.h"

#include "base/GbkText.h"
#include "config/ProfileString.h"
#include "config/SettingsKeys.h"

#include <cstdint>

namespace kestrel {

bool ReadChannelSettings(const std::string& settingsPath, ChannelSettings& settings)
{
    if (settingsPath.empty())
        return false;
    settings.portText = ReadProfileString(settingsPath, kSettingsSection, kMainChannelPortKey, kDefaultMainChannelPort);
    // The value read is used whether or not it reaches the file.
    (void)WriteProfileString(settingsPath, kSettingsSection, kMainChannelPortKey, settings.portText);
    settings.port = PortFromText(settings.portText);
    settings.bindAddress = ReadProfileString(settingsPath, kBroadcastBindSection, kBindAddressKey, kDefaultBindAddress);
    settings.multicastGroup =
        ReadProfileString(settingsPath, kBroadcastBindSection, kMulticastGroupKey, kDefaultMulticastGroup);
    settings.trustedKeysPath = GbkToUtf8(ReadProfileString(settingsPath, kAnnouncementSigningSection, kTrustedKeysFileKey, ""));
    return true;
}

namespace {

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

} // namespace

long PortFromText(std::string_view text)
{
    std::size_t i = 0;
    while (i < text.size() && IsBlank(text[i]))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    // Accumulated as a magnitude; the negative end of the range is one
    // further out than the positive one.
    const std::int64_t limit = negative ? -static_cast<std::int64_t>(INT32_MIN) : INT32_MAX;
    std::int64_t magnitude = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        magnitude = magnitude * 10 + (text[i] - '0');
        if (magnitude > limit)
            magnitude = limit;
    }
    return static_cast<long>(negative ? -magnitude : magnitude);
}

} // namespace kestrel
