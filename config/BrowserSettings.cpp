#include "config/BrowserSettings.h"

#include "base/ConsoleLine.h"
#include "base/GbkText.h"
#include "config/ProfileString.h"
#include "config/SettingsKeys.h"

namespace kestrel {

BrowserSettings ReadBrowserSettings(const std::string& settingsPath)
{
    BrowserSettings settings;
    if (settingsPath.empty())
        return settings;
    settings.localFolder = GbkToUtf8(ReadProfileString(settingsPath, kSettingsSection, kLocalFolderKey, ""));
    const std::string newWindow = ReadProfileString(settingsPath, kSettingsSection, kNewWindowKey, kNewWindowOutside);
    settings.newWindowsInside = newWindow == kNewWindowInside;
    if (!settings.newWindowsInside && !newWindow.empty() && newWindow != kNewWindowOutside)
        PrintLine("Settings: \"" + GbkToUtf8(newWindow) + "\" is not a value of 新窗口 (外部 or 本窗口);"
                  " new windows open in the desktop's browser");
    const std::string downloads = ReadProfileString(settingsPath, kSettingsSection, kDownloadsKey, kDownloadsOn);
    settings.downloadsOn = downloads != kDownloadsOff;
    if (settings.downloadsOn && !downloads.empty() && downloads != kDownloadsOn)
        PrintLine("Settings: \"" + GbkToUtf8(downloads) + "\" is not a value of 下载 (开 or 关); downloads are saved");
    return settings;
}

} // namespace kestrel
