#pragma once

#include <string_view>

namespace kestrel {

// The sections and keys of the settings file, named in GBK as the file holds them.

// Section "设置", key "主频道端口": the UDP port on which link announcements
// arrive, as decimal text.
inline constexpr std::string_view kSettingsSection = "\xC9\xE8\xD6\xC3";
inline constexpr std::string_view kMainChannelPortKey = "\xD6\xF7\xC6\xB5\xB5\xC0\xB6\xCB\xBF\xDA";
inline constexpr std::string_view kDefaultMainChannelPort = "9000";

// Section "设置", key "本地文件目录": the one folder whose files the browser
// may open; empty means no local files at all.
inline constexpr std::string_view kLocalFolderKey = "\xB1\xBE\xB5\xD8\xCE\xC4\xBC\xFE\xC4\xBF\xC2\xBC";

// Section "设置", key "新窗口": where a page's new window goes, "外部" (the
// desktop's browser, the default) or "本窗口" (the program's own view).
inline constexpr std::string_view kNewWindowKey = "\xD0\xC2\xB4\xB0\xBF\xDA";
inline constexpr std::string_view kNewWindowOutside = "\xCD\xE2\xB2\xBF";
inline constexpr std::string_view kNewWindowInside = "\xB1\xBE\xB4\xB0\xBF\xDA";

// Section "设置", key "下载": "开" (the default) saves what a page downloads
// into the user's download folder, "关" saves nothing.
inline constexpr std::string_view kDownloadsKey = "\xCF\xC2\xD4\xD8";
inline constexpr std::string_view kDownloadsOn = "\xBF\xAA";
inline constexpr std::string_view kDownloadsOff = "\xB9\xD8";

// Section "设置", key "报告网页": "开" (the default) lets the screen's reports
// name the pupil's login and the page's host, "关" keeps both back. Values
// as for "下载".
inline constexpr std::string_view kReportPageKey = "\xB1\xA8\xB8\xE6\xCD\xF8\xD2\xB3";

// Section "广播绑定IP地址", key "IP地址": the local IPv4 address the channel
// binds to, in dotted decimal text; empty means any local address.
inline constexpr std::string_view kBroadcastBindSection = "\xB9\xE3\xB2\xA5\xB0\xF3\xB6\xA8" "IP" "\xB5\xD8\xD6\xB7";
inline constexpr std::string_view kBindAddressKey = "IP" "\xB5\xD8\xD6\xB7";
inline constexpr std::string_view kDefaultBindAddress = "";

// Same section, key "组播地址": an IPv4 multicast group the channel joins
// as well, in dotted decimal text; empty means none.
inline constexpr std::string_view kMulticastGroupKey = "\xD7\xE9\xB2\xA5\xB5\xD8\xD6\xB7";
inline constexpr std::string_view kDefaultMulticastGroup = "";

// Section "广播签名", key "公钥文件": the path (GBK text) of the trusted-keys
// file; empty means announcements are not signed. Read only.
inline constexpr std::string_view kAnnouncementSigningSection = "\xB9\xE3\xB2\xA5\xC7\xA9\xC3\xFB";
inline constexpr std::string_view kTrustedKeysFileKey = "\xB9\xAB\xD4\xBF\xCE\xC4\xBC\xFE";

} // namespace kestrel
