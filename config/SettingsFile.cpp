#include "config/SettingsFile.h"

#include "base/ConsoleLine.h"
#include "base/WholeFile.h"

#include <cstring>

namespace kestrel {

namespace {

void Report(const std::string& path, const char* what, const std::string& why)
{
    PrintLine("Settings file " + path + " " + what + ": " + why);
}

} // namespace

SettingsFileState LoadSettingsFile(const std::string& path, std::string& text)
{
    const WholeFileRead read = ReadWholeFile(path, kMaxSettingsFileBytes, text);
    switch (read.state) {
    case WholeFileRead::State::Loaded:
        return SettingsFileState::Loaded;
    case WholeFileRead::State::Missing:
        return SettingsFileState::Missing;
    case WholeFileRead::State::NotRegular:
        Report(path, "is ignored", "not a regular file");
        break;
    case WholeFileRead::State::TooLarge:
        Report(path, "is ignored", "larger than " + std::to_string(kMaxSettingsFileBytes) + " bytes");
        break;
    case WholeFileRead::State::Failed:
        Report(path, "is ignored", std::strerror(read.error));
        break;
    }
    return SettingsFileState::Unreadable;
}

bool StoreSettingsFile(const std::string& path, std::string_view text)
{
    if (path.empty())
        return false;
    const int error = ReplaceWholeFile(path, text);
    if (error != 0)
        Report(path, "cannot be written", std::strerror(error));
    return error == 0;
}

} // namespace kestrel
