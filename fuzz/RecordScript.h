#pragma once

#include "base/LinkRecord.h"
#include "fuzz/FuzzInput.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace kestrel::fuzz {

// The link-record fuzz input: a script of steps on one receiver and one
// catalogue. Each step opens with a tag byte whose low two bits choose it:
//   add    a record (below) handed to AddRecord
//   frame  a record (below) sent as a link-record frame with marker
//          tag >> 5, fed to the receiver
//   merge  one byte of picture test answers (bit i answers the i-th picture
//          of the pass, modulo 8); with tag bit 2 set the user has navigated
//   get    GetRecord with a signed one-byte index
// A record: with tag bit 2 set, the name of the n-th record made so far (one
// byte n, modulo their number) with the letter case flipped where a one-byte
// mask has its bits (bit i for bytes i, i + 8, ...); else a name length
// (modulo 129) and the name's bytes. Then the reserved byte and, for the
// caption, url, hotPicture and coolPicture in turn, a length byte and the
// text. With tag bit 3 set, every field is filled behind its text up to its
// last byte, without a NUL; with tag bit 4 set, the bytes behind each NUL
// are not zero.
enum RecordStep : std::uint8_t { kAddRecord = 0, kRecordFrame = 1, kMergePass = 2, kGetRecord = 3 };
constexpr std::uint8_t kEarlierNameBit = 4;
constexpr std::uint8_t kNavigatedBit = 4;
constexpr std::uint8_t kFullFieldsBit = 8;
constexpr std::uint8_t kTrailingBytesBit = 16;
constexpr std::size_t kLongestName = sizeof(LinkRecord::name);

class RecordReader {
public:
    explicit RecordReader(FuzzInput& input) : m_input(input) {}

    LinkRecord Read(std::uint8_t tag)
    {
        LinkRecord record{};
        if ((tag & kEarlierNameBit) && !m_made.empty())
            EarlierName(record.name);
        else
            Text(record.name, m_input.TakeByte() % (kLongestName + 1), tag);
        record.reserved = m_input.TakeByte();
        for (char* field : {record.caption, record.url, record.hotPicture, record.coolPicture})
            Text(field, m_input.TakeByte(), tag, sizeof record.caption);
        m_made.push_back(record);
        return record;
    }

private:
    // Every text field but the name is 256 bytes wide.
    void Text(char* field, std::size_t length, std::uint8_t tag, std::size_t width = kLongestName)
    {
        std::size_t taken = 0;
        const std::uint8_t* text = m_input.TakeBytes(length < width ? length : width, taken);
        std::memcpy(field, text, taken);
        std::size_t end = taken;
        if (tag & kFullFieldsBit) {
            for (; end < width; ++end)
                field[end] = 'x';
        } else if (tag & kTrailingBytesBit) {
            for (std::size_t i = end + 1; i < width; ++i)
                field[i] = static_cast<char>(i * 31 + 1);
        }
    }

    void EarlierName(char (&name)[kLongestName])
    {
        std::memcpy(name, m_made[m_input.TakeByte() % m_made.size()].name, sizeof name);
        const std::uint8_t mask = m_input.TakeByte();
        for (std::size_t i = 0; i < sizeof name; ++i) {
            const char c = name[i];
            const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
            if (letter && (mask >> (i % 8) & 1))
                name[i] = static_cast<char>(c ^ 0x20);
        }
    }

    FuzzInput& m_input;
    std::vector<LinkRecord> m_made;
};

} // namespace kestrel::fuzz
