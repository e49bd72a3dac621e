#include "config/ProfileString.h"

#include "base/ConsoleLine.h"
#include "config/ProfileText.h"
#include "config/SettingsFile.h"

#include <utility>

namespace kestrel {

std::string ReadProfileString(const std::string& path, std::string_view section, std::string_view key,
                              std::string_view defaultValue)
{
    std::string text;
    std::optional<std::string> value;
    if (LoadSettingsFile(path, text) == SettingsFileState::Loaded)
        value = FindProfileValue(text, section, key);
    std::string result = value ? std::move(*value) : std::string(defaultValue);
    if (result.size() > kMaxProfileValueBytes)
        result.resize(kMaxProfileValueBytes);
    return result;
}

bool WriteProfileString(const std::string& path, std::string_view section, std::string_view key,
                        std::string_view value)
{
    std::string text;
    if (LoadSettingsFile(path, text) == SettingsFileState::Unreadable)
        return false;
    const std::optional<std::string> changed = SetProfileValue(text, section, key, value);
    if (!changed) {
        PrintLine("Settings file " + path + " not written: a line break, or a key that would not read back");
        return false;
    }
    // A file that already says so is left alone, its time stamp included.
    return *changed == text || StoreSettingsFile(path, *changed);
}

} // namespace kestrel
