#include "config/SettingsPath.h"

namespace kestrel {

std::string SettingsPathFor(std::string_view programPath)
{
    const std::size_t slash = programPath.rfind('/');
    const std::size_t nameBegin = slash == std::string_view::npos ? 0 : slash + 1;
    if (nameBegin == programPath.size())
        return {};
    const std::size_t dot = programPath.rfind('.');
    const bool hasExtension = dot != std::string_view::npos && dot > nameBegin;
    std::string path(hasExtension ? programPath.substr(0, dot) : programPath);
    path += ".INI";
    return path;
}

} // namespace kestrel
