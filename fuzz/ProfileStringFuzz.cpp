// The settings reader and writer on arbitrary files and entries. Input: one
// flag byte (bit 0: no file at all), a section, a key and a value, each
// behind its length (one byte for the names, two for the value, so values
// longer than the 258 bytes a read gives back occur), then the file's bytes.
//
// A refused write leaves the file as it was. An accepted one reads back as
// the format reads any value (blanks around it and one pair of quotes are not
// part of it; 258 bytes at most), and changes nothing else: either the old
// value's bytes are replaced where they stood, with the key, the "=", the
// blanks and the line's end kept, or whole new lines ("key=value", behind
// "[section]" when that was missing) are inserted at a line boundary, in the
// file's own line break. Every other entry of the file reads as before.
#include "config/ProfileString.h"
#include "config/ProfileText.h"
#include "fuzz/FuzzInput.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <stdlib.h>
#include <unistd.h>

namespace {

using kestrel::fuzz::Require;

constexpr std::string_view kBlanks = " \t\r\v\f";
constexpr std::size_t kProbeLimit = 12;

std::string_view Trim(std::string_view s)
{
    const std::size_t first = s.find_first_not_of(kBlanks);
    if (first == std::string_view::npos)
        return {};
    return s.substr(first, s.find_last_not_of(kBlanks) - first + 1);
}

std::string_view Unquoted(std::string_view value)
{
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
        return value.substr(1, value.size() - 2);
    return value;
}

// Names that might be the same under the format's rules: compared with
// every ASCII letter folded, which is looser than the GBK-aware rule.
bool MaybeSameName(std::string_view a, std::string_view b)
{
    a = Trim(a);
    b = Trim(b);
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if ((a[i] | 0x20) != (b[i] | 0x20) && a[i] != b[i])
            return false;
    }
    return true;
}

bool Plain(std::string_view s)
{
    if (s.empty())
        return false;
    for (const char c : s) {
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')))
            return false;
    }
    return true;
}

// The file's lines, each with its line feed.
std::vector<std::string_view> Lines(std::string_view text)
{
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        const std::size_t size = end == std::string_view::npos ? text.size() : end + 1;
        lines.push_back(text.substr(0, size));
        text.remove_prefix(size);
    }
    return lines;
}

std::string LineBreakOf(std::string_view text)
{
    const std::size_t lineFeed = text.find('\n');
    return lineFeed != std::string_view::npos && (lineFeed == 0 || text[lineFeed - 1] != '\r') ? "\n" : "\r\n";
}

bool AtLineStart(std::string_view text, std::size_t at)
{
    return at == 0 || text[at - 1] == '\n';
}

std::size_t CommonPrefix(std::string_view a, std::string_view b)
{
    std::size_t n = 0;
    while (n < a.size() && n < b.size() && a[n] == b[n])
        ++n;
    return n;
}

std::size_t CommonSuffix(std::string_view a, std::string_view b)
{
    std::size_t n = 0;
    while (n < a.size() && n < b.size() && a[a.size() - 1 - n] == b[b.size() - 1 - n])
        ++n;
    return n;
}

// The old value's bytes replaced in its own line: key, "=", the blanks in
// front of the value and everything behind it stay.
bool ValueReplacedInItsLine(std::string_view before, std::string_view after, std::string_view value)
{
    const std::size_t changedAt = CommonPrefix(before, after);
    const std::size_t lineBegin = before.rfind('\n', changedAt == 0 ? 0 : changedAt - 1);
    const std::size_t begin = lineBegin == std::string_view::npos || changedAt == 0 ? 0 : lineBegin + 1;
    const std::size_t lineFeed = before.find('\n', begin);
    const std::size_t end = lineFeed == std::string_view::npos ? before.size() : lineFeed + 1;
    const std::string_view line = before.substr(begin, end - begin);

    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos)
        return false;
    std::size_t tail = line.size();
    while (tail > equals + 1 && (kBlanks.find(line[tail - 1]) != std::string_view::npos || line[tail - 1] == '\n'))
        --tail;
    const std::string_view oldValue = line.substr(equals + 1, tail - equals - 1);
    const std::string_view lead = oldValue.substr(0, oldValue.find_first_not_of(kBlanks));

    std::string expected(before.substr(0, begin + equals + 1));
    expected.append(lead).append(value).append(line.substr(tail)).append(before.substr(end));
    return after == expected;
}

// `lines` inserted into `before` at a line start, or at its end behind a
// line break when its last line has none.
bool LinesInserted(std::string_view before, std::string_view after, const std::string& lines)
{
    if (!before.empty() && before.back() != '\n' && after == std::string(before) + LineBreakOf(before) + lines)
        return true;
    if (after.size() != before.size() + lines.size())
        return false;
    const std::size_t prefix = CommonPrefix(before, after);
    const std::size_t suffix = CommonSuffix(before, after);
    for (std::size_t at = before.size() - std::min(suffix, before.size()); at <= prefix && at <= before.size(); ++at) {
        if (AtLineStart(before, at) && after.compare(at, lines.size(), lines) == 0)
            return true;
    }
    return false;
}

bool OnlyTheEntryChanged(std::string_view before, std::string_view after, std::string_view section,
                         std::string_view key, std::string_view value)
{
    if (after == before)
        return true;
    if (kestrel::FindProfileValue(before, section, key))
        return ValueReplacedInItsLine(before, after, value);
    const std::string lineBreak = LineBreakOf(before);
    const std::string keyLine = std::string(Trim(key)) + "=" + std::string(value) + lineBreak;
    const std::string sectionLine = "[" + std::string(Trim(section)) + "]" + lineBreak;
    return LinesInserted(before, after, keyLine) || LinesInserted(before, after, sectionLine + keyLine);
}

// Section and key names as the file spells them, for probing its entries.
void CollectNames(std::string_view text, std::vector<std::string>& sections, std::vector<std::string>& keys)
{
    for (const std::string_view rawLine : Lines(text)) {
        const std::string_view line = Trim(rawLine.substr(0, rawLine.find('\n')));
        if (!line.empty() && line.front() == '[' && line.find(']') != std::string_view::npos) {
            if (sections.size() < kProbeLimit)
                sections.emplace_back(line.substr(1, line.rfind(']') - 1));
        } else if (line.find('=') != std::string_view::npos && keys.size() < kProbeLimit) {
            keys.emplace_back(line.substr(0, line.find('=')));
        }
    }
}

void RequireOtherEntriesUnchanged(std::string_view before, std::string_view after, std::string_view section,
                                  std::string_view key)
{
    std::vector<std::string> sections{std::string(section)};
    std::vector<std::string> keys{std::string(key)};
    CollectNames(before, sections, keys);
    for (const std::string& s : sections) {
        for (const std::string& k : keys) {
            if (MaybeSameName(s, section) && MaybeSameName(k, key))
                continue;
            Require(kestrel::FindProfileValue(before, s, k) == kestrel::FindProfileValue(after, s, k),
                    "every other entry reads as before");
        }
    }
}

// One settings file for the whole run, in memory-backed storage when there
// is some, removed when the run ends.
const std::string& SettingsPath()
{
    static const std::string path = [] {
        const char* base = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        std::string dir = std::string(base) + "/kestrel-profile-fuzz-XXXXXX";
        Require(::mkdtemp(dir.data()) != nullptr, "a directory for the settings file can be made");
        static std::string s_dir = dir;
        std::atexit([] {
            std::remove((s_dir + "/kestrel.INI").c_str());
            ::rmdir(s_dir.c_str());
        });
        return dir + "/kestrel.INI";
    }();
    return path;
}

std::optional<std::string> FileBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string_view Take(kestrel::fuzz::FuzzInput& input, std::size_t length)
{
    std::size_t taken = 0;
    const std::uint8_t* bytes = input.TakeBytes(length, taken);
    return std::string_view(reinterpret_cast<const char*>(bytes), taken);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    kestrel::fuzz::FuzzInput input(data, size);
    const bool noFile = input.TakeByte() & 1;
    const std::string_view section = Take(input, input.TakeByte());
    const std::string_view key = Take(input, input.TakeByte());
    const std::string_view value = Take(input, input.TakeLittleEndian16());
    const std::string_view text = Take(input, size);

    const std::string& path = SettingsPath();
    std::remove(path.c_str());
    if (!noFile)
        std::ofstream(path, std::ios::binary) << text;
    const std::optional<std::string> before = FileBytes(path);

    const bool written = kestrel::WriteProfileString(path, section, key, value);
    const std::optional<std::string> after = FileBytes(path);
    if (!written) {
        Require(after == before, "a refused write leaves the file as it was");
        Require(!(Plain(section) && Plain(key) && Plain(value)), "a plain entry is always written");
        return 0;
    }
    Require(after.has_value(), "an accepted write leaves a file");

    const std::string_view expected = Unquoted(Trim(value)).substr(0, kestrel::kMaxProfileValueBytes);
    Require(kestrel::ReadProfileString(path, section, key, "\x01 default") == expected,
            "a write followed by a read gives the value written");
    const std::string old = before.value_or("");
    Require(OnlyTheEntryChanged(old, *after, section, key, value), "a write changes only its own entry");
    RequireOtherEntriesUnchanged(old, *after, section, key);
    return 0;
}
