#include "config/BrowserSettings.h"

#include "base/ConsoleLine.h"
#include "base/GbkText.h"
#include "config/ProfileString.h"
#include "config/SettingsKeys.h"

namespace kestrel {

namespace {

// A key of "开" or "关", on unless it says "关"; `whenOn` ends the line a
// value of neither prints.
bool ReadOnOff(const std::string& settingsPath, std::string_view key, const std::string& keyName,
               const std::string& whenOn)
{
    const std::string value = ReadProfileString(settingsPath, kSettingsSection, key, kDownloadsOn);
    if (value != kDownloadsOn && value != kDownloadsOff && !value.empty())
        PrintLine("Settings: \"" + GbkToUtf8(value) + "\" is not a value of " + keyName + " (开 or 关); " + whenOn);
    return value != kDownloadsOff;
}

} // namespace

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
    settings.downloadsOn = ReadOnOff(settingsPath, kDownloadsKey, "下载", "downloads are saved");
    settings.reportPage = ReadOnOff(settingsPath, kReportPageKey, "报告网页", "reports name the login and page");
    return settings;
}

} // namespace kestrel
