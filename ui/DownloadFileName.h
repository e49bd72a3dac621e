#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace kestrel {

// Which names a download may be saved under. A file the program saves is
// never started, but a pupil may still open it from the file manager, so
// programs, scripts, desktop entries and packages are not saved at all.

// Why a suggested name is not saved; kSaved when it may be.
enum class DownloadRefusal {
    kSaved,
    kNoName,       // empty, "." or ".."
    kPathParts,    // a slash, a backslash or a control character
    kRefusedKind,  // a program, script, desktop entry or package
};

// Decides on the name the page or the server suggested, as UTF-8.
DownloadRefusal CheckDownloadName(std::string_view name);

// `name`, or the first of "name (2).ext", "name (3).ext" ... for which
// `taken` is false; empty when a thousand tries are all taken.
std::string UniqueDownloadName(std::string_view name, const std::function<bool(const std::string&)>& taken);

} // namespace kestrel
