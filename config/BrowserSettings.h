#pragma once

#include <string>

namespace kestrel {

// What the settings file says about the browser itself. Read once at start,
// never written back: these keys are the school's, not the program's.
struct BrowserSettings {
    // The folder whose files may be opened, as UTF-8 text; empty: none.
    std::string localFolder;
    // New windows open in the program's own view instead of the desktop's
    // browser.
    bool newWindowsInside = false;
    // What a page downloads is saved into the user's download folder.
    bool downloadsOn = true;
    // The screen's reports name the pupil's login and the page's host.
    bool reportPage = true;
};

// Reads "本地文件目录", "新窗口", "下载" and "报告网页" of section "设置" from the
// settings file at `settingsPath`; the defaults (no folder, new windows
// outside, downloads and page reports on) when there is no path, no file, no
// key or an empty value. The folder, GBK in the file, comes back as UTF-8. A
// "新窗口" value other than "外部" or "本窗口", or a "下载" or "报告网页" value
// other than "开" or "关", keeps the default and prints a line saying so.
BrowserSettings ReadBrowserSettings(const std::string& settingsPath);

} // namespace kestrel
