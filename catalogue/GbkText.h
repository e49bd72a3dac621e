#pragma once

#include <string>
#include <string_view>

namespace kestrel {

// Link records and the settings file carry code page 936 (GBK) text; the
// screen and the announcer's catalogue files speak UTF-8.

// Decodes GBK for display. Bytes that are not GBK each become U+FFFD, so a
// damaged record still shows what can be read of it.
std::string GbkToUtf8(std::string_view gbk);

// Encodes UTF-8 as GBK. False when the text is not valid UTF-8 or holds a
// character GBK has no form for; `badOffset` then names the first such byte.
bool Utf8ToGbk(std::string_view utf8, std::string& gbk, std::size_t* badOffset = nullptr);

} // namespace kestrel
