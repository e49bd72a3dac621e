#pragma once

#include <string>
#include <utility>

namespace kestrel {

// What the announcer sends right now, and why.
struct OnAir {
    // The file whose catalogue goes out; empty while nothing does.
    std::string source;
    // That catalogue's text, exactly as it was read from the file.
    std::string text;
    // Why the published file, which exists, was refused; empty otherwise.
    std::string refused;

    bool operator==(const OnAir& other) const
    {
        return source == other.source && text == other.text && refused == other.refused;
    }
};

// The folder the publishing page learns from what is on the air, so that it
// never shows another catalogue than the pupils get: on-air.ini holds the
// catalogue's text, on-air.status a "source=PATH" line and, while the
// published file is refused, a "refused=PROBLEM" line. Both are replaced
// whole, the text first, and only when something changed.
class COnAirFolder {
public:
    explicit COnAirFolder(std::string folder) : m_folder(std::move(folder)) {}

    // 0, or the error that stopped the writing; it is tried again at the
    // next call.
    int Show(const OnAir& onAir);

    const std::string& Folder() const { return m_folder; }

private:
    std::string m_folder;
    bool m_written = false;
    OnAir m_shown;
};

} // namespace kestrel
