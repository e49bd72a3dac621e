#include "ui/DownloadFileName.h"

#include "base/AsciiCase.h"

namespace kestrel {

namespace {

constexpr int kMostNameTries = 1000;

// Kinds a double click would run or install, here or under Wine.
constexpr std::string_view kRefusedEndings[] = {
    ".desktop", ".sh", ".bash", ".zsh", ".csh", ".ksh", ".fish", ".run", ".bin", ".deb", ".rpm", ".snap",
    ".flatpak", ".flatpakref", ".appimage", ".exe", ".msi", ".com", ".bat", ".cmd", ".scr", ".pif", ".vbs",
    ".vbe", ".js", ".jse", ".wsf", ".ps1", ".jar", ".py", ".pl", ".rb", ".elf", ".out", ".apk", ".lnk",
};

bool EndsWith(std::string_view text, std::string_view ending)
{
    return text.size() >= ending.size() && text.substr(text.size() - ending.size()) == ending;
}

} // namespace

DownloadRefusal CheckDownloadName(std::string_view name)
{
    if (name.empty() || name == "." || name == "..")
        return DownloadRefusal::kNoName;
    for (char c : name) {
        if (c == '/' || c == '\\' || static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            return DownloadRefusal::kPathParts;
    }
    // Trailing dots and spaces are dropped by some file managers: "a.exe." is "a.exe".
    std::string folded = FoldedAscii(name);
    while (!folded.empty() && (folded.back() == '.' || folded.back() == ' '))
        folded.pop_back();
    for (std::string_view ending : kRefusedEndings) {
        if (EndsWith(folded, ending))
            return DownloadRefusal::kRefusedKind;
    }
    return DownloadRefusal::kSaved;
}

std::string UniqueDownloadName(std::string_view name, const std::function<bool(const std::string&)>& taken)
{
    const std::string whole(name);
    if (!taken(whole))
        return whole;
    // Only the last ending stays apart, as file managers number copies; a
    // leading dot belongs to the name.
    const std::size_t dot = whole.rfind('.');
    const bool hasEnding = dot != std::string::npos && dot != 0;
    const std::string stem = hasEnding ? whole.substr(0, dot) : whole;
    const std::string ending = hasEnding ? whole.substr(dot) : std::string();
    for (int n = 2; n <= kMostNameTries; ++n) {
        std::string candidate = stem + " (" + std::to_string(n) + ")" + ending;
        if (!taken(candidate))
            return candidate;
    }
    return std::string();
}

} // namespace kestrel
