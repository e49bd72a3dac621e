#include "tools/RoomsFile.h"

#include "base/WholeFile.h"
#include "tools/SectionedText.h"
#include "tools/WholeNumber.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstring>
#include <optional>

namespace kestrel {

namespace {

constexpr std::size_t kLargestRoomsFile = 1 << 20;
constexpr std::size_t kLongestId = 32;
// Thirty-two Chinese characters.
constexpr std::size_t kLongestName = 96;
constexpr const char* kKeys[] = {"id", "name", "port", "to", "from", "ttl"};

bool IsIdCharacter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '-';
}

bool HoldsControlCharacter(std::string_view text)
{
    return std::any_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; });
}

// The room being read, with what it lacks so far.
struct OpenRoom {
    RoomSettings room;
    std::vector<std::string> keysGiven;
    bool broken = false;
};

class CRoomsReader {
public:
    CRoomsReader(std::string path, int reportPort, RoomsRead& read)
        : m_path(std::move(path)), m_reportPort(reportPort), m_read(read)
    {
    }

    std::string Take(const SectionedLine& line)
    {
        if (line.kind == SectionedLine::Kind::Section) {
            Close();
            if (line.name != "room")
                return "unknown section [" + line.name + "]; rooms are [room] sections";
            m_open = OpenRoom{};
            m_open->room.line = line.number;
            return {};
        }
        if (!m_open)
            return "\"" + line.name + "\" before the first [room]";
        const std::string problem = SetKey(line);
        m_open->broken = m_open->broken || !problem.empty();
        return problem;
    }

    void Note(int line, const std::string& problem)
    {
        m_read.problems.push_back(m_path + ":" + std::to_string(line) + ": " + problem);
    }

    // A line that is not "key = value" belongs to the room it stands in.
    void NoteMalformed(int line, const std::string& problem)
    {
        Note(line, problem);
        if (m_open)
            m_open->broken = true;
    }

    // Keeps the open room when it is whole and clashes with none before it.
    void Close()
    {
        if (!m_open)
            return;
        OpenRoom open = std::move(*m_open);
        m_open.reset();
        if (open.broken)
            return Note(open.room.line, "room left out for its mistake");
        for (const char* key : {"id", "port", "to"}) {
            if (std::find(open.keysGiven.begin(), open.keysGiven.end(), key) == open.keysGiven.end())
                return Note(open.room.line, std::string("the room has no \"") + key + "\"");
        }
        RoomSettings& room = open.room;
        if (room.name.empty())
            room.name = room.id;
        for (const RoomSettings& earlier : m_read.rooms) {
            if (earlier.id == room.id)
                return Note(room.line, "id " + room.id + " is the room's on line " + std::to_string(earlier.line));
            if (earlier.port == room.port)
                return Note(room.line, "port " + std::to_string(room.port) + " is room " + earlier.id + "'s already");
        }
        m_read.rooms.push_back(std::move(room));
    }

private:
    std::string SetKey(const SectionedLine& line)
    {
        RoomSettings& room = m_open->room;
        if (std::find(std::begin(kKeys), std::end(kKeys), line.name) == std::end(kKeys))
            return "unknown key \"" + line.name + "\"";
        if (std::find(m_open->keysGiven.begin(), m_open->keysGiven.end(), line.name) != m_open->keysGiven.end())
            return "\"" + line.name + "\" given twice";
        m_open->keysGiven.push_back(line.name);
        const std::string value(line.value);
        long number = 0;
        if (line.name == "id") {
            room.id = value;
            return IsRoomId(value) ? "" : "id must be 1 to 32 of a-z, 0-9, \"_\" and \"-\"";
        }
        if (line.name == "name") {
            room.name = value;
            return value.size() <= kLongestName && !HoldsControlCharacter(value) ? "" : "name too long";
        }
        if (line.name == "port") {
            if (!ReadWholeNumber(value, 1, 65535, number))
                return "port must be 1 to 65535";
            room.port = static_cast<int>(number);
            return number == m_reportPort ? "port " + value + " is the report port" : "";
        }
        if (line.name == "to") {
            in_addr address{};
            room.to = value;
            return ::inet_pton(AF_INET, value.c_str(), &address) == 1 ? "" : "to must be an IPv4 address";
        }
        if (line.name == "from") {
            room.from = value;
            return value.empty() || HoldsControlCharacter(value) ? "from must name a card or a local address" : "";
        }
        if (!ReadWholeNumber(value, 1, 255, number))
            return "ttl must be 1 to 255";
        room.ttl = static_cast<int>(number);
        return {};
    }

    std::string m_path;
    int m_reportPort;
    RoomsRead& m_read;
    std::optional<OpenRoom> m_open;
};

} // namespace

bool IsRoomId(const std::string& id)
{
    return !id.empty() && id.size() <= kLongestId && std::all_of(id.begin(), id.end(), IsIdCharacter);
}

RoomsRead ReadRoomsFile(const std::string& path, int reportPort)
{
    RoomsRead read;
    std::string text;
    const WholeFileRead file = ReadWholeFile(path, kLargestRoomsFile, text);
    if (file.state == WholeFileRead::State::Missing)
        return read;
    read.found = true;
    if (file.state != WholeFileRead::State::Loaded) {
        read.problems.push_back(path + ": " + (file.state == WholeFileRead::State::TooLarge ? "larger than 1 MiB"
                                               : file.state == WholeFileRead::State::NotRegular ? "not a file"
                                                                                                 : std::strerror(file.error)));
        return read;
    }
    CRoomsReader reader(path, reportPort, read);
    ReadSectionedText(
        text, [&](const SectionedLine& line) { return reader.Take(line); },
        [&](int line, const std::string& problem) { reader.NoteMalformed(line, problem); });
    reader.Close();
    return read;
}

} // namespace kestrel
