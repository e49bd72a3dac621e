#include "config/ChannelSettings.h"

#include "config/ChannelSettingsKeys.h"
#include "config/ProfileString.h"
#include "config/SettingsPath.h"

namespace kestrel {

bool ReadChannelSettings(const std::string& programPath, std::string& portText, std::string& bindAddress)
{
    const std::string path = SettingsPathFor(programPath);
    if (path.empty())
        return false;
    portText = ReadProfileString(path, kSettingsSection, kMainChannelPortKey, kDefaultMainChannelPort);
    // The value read is used whether or not it reaches the file.
    (void)WriteProfileString(path, kSettingsSection, kMainChannelPortKey, portText);
    bindAddress = ReadProfileString(path, kBroadcastBindSection, kBindAddressKey, kDefaultBindAddress);
    return true;
}

} // namespace kestrel
