// Writes the seed corpora: for each fuzz target a few small inputs in its
// own format that reach its real cases (genuine link-record frames from the
// frame writer, the settings file as the package ships it, Chinese picture
// addresses in GBK). Run as
//   make_fuzz_seeds fuzz/corpus
// which rewrites fuzz/corpus/<target>/<seed> for every seed below.
#include "base/GbkText.h"
#include "base/ClassroomState.h"
#include "base/LinkRecord.h"
#include "channel/ClassroomStateFrame.h"
#include "channel/ReportFrame.h"
#include "channel/FrameWriter.h"
#include "channel/LinkRecordFrame.h"
#include "channel/TrustedKeys.h"
#include "config/SettingsKeys.h"
#include "fuzz/DatagramScript.h"
#include "fuzz/RecordScript.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using kestrel::LinkRecord;

fs::path g_corpus;

void WriteSeed(const char* target, const char* name, const Bytes& bytes)
{
    const fs::path folder = g_corpus / target;
    fs::create_directories(folder);
    std::ofstream(folder / name, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                          static_cast<std::streamsize>(bytes.size()));
}

void Append(Bytes& bytes, std::string_view text)
{
    bytes.insert(bytes.end(), text.begin(), text.end());
}

void AppendLittleEndian16(Bytes& bytes, std::uint16_t value)
{
    bytes.push_back(static_cast<std::uint8_t>(value));
    bytes.push_back(static_cast<std::uint8_t>(value >> 8));
}

std::string Gbk(std::string_view utf8)
{
    std::string gbk;
    kestrel::Utf8ToGbk(utf8, gbk);
    return gbk;
}

template <std::size_t N>
void SetField(char (&field)[N], std::string_view text)
{
    std::memset(field, 0, N);
    std::memcpy(field, text.data(), std::min(text.size(), N - 1));
}

LinkRecord Lesson(std::string_view nameUtf8, std::string_view page)
{
    LinkRecord record{};
    SetField(record.name, Gbk(nameUtf8));
    SetField(record.caption, Gbk(std::string(nameUtf8) + "：今天的课"));
    SetField(record.url, "http://127.0.0.1:8080/lessons/" + std::string(page) + ".html");
    SetField(record.hotPicture, "http://127.0.0.1:8080/pictures/" + std::string(page) + "-hot.bmp");
    SetField(record.coolPicture, "http://127.0.0.1:8080/pictures/" + std::string(page) + "-cool.bmp");
    return record;
}

// Frame finder scripts (DatagramScript.h).
class DatagramSeed {
public:
    DatagramSeed& Raw(const Bytes& bytes)
    {
        for (std::size_t at = 0; at < bytes.size(); at += 256) {
            const std::size_t n = std::min<std::size_t>(256, bytes.size() - at);
            m_bytes.push_back(kestrel::fuzz::kRawBytes);
            m_bytes.push_back(static_cast<std::uint8_t>(n - 1));
            m_bytes.insert(m_bytes.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at),
                           bytes.begin() + static_cast<std::ptrdiff_t>(at + n));
        }
        return *this;
    }
    DatagramSeed& LinkRecordFrame(const LinkRecord& record, std::uint8_t marker = 0)
    {
        unsigned char frame[kestrel::kLinkRecordFrameSize];
        kestrel::EncodeLinkRecordFrame(record, marker, frame);
        return Raw(Bytes(frame, frame + sizeof frame));
    }
    // A frame of `length` pattern bytes; damagedAt, when given, names the
    // byte whose lowest bit is flipped.
    DatagramSeed& Frame(std::uint16_t length, std::uint8_t type, int damagedAt = -1)
    {
        m_bytes.push_back(damagedAt < 0 ? kestrel::fuzz::kSealedFrame : kestrel::fuzz::kSealedFrame | kestrel::fuzz::kDamageBit);
        AppendLittleEndian16(m_bytes, length);
        m_bytes.insert(m_bytes.end(), {type, 0, 0});
        if (damagedAt >= 0)
            AppendLittleEndian16(m_bytes, static_cast<std::uint16_t>(damagedAt));
        return *this;
    }
    DatagramSeed& SyncRun(std::uint8_t count)
    {
        m_bytes.push_back(static_cast<std::uint8_t>(kestrel::fuzz::kSyncRun | (count - 1) << 2));
        return *this;
    }
    DatagramSeed& Cut()
    {
        m_bytes.push_back(kestrel::fuzz::kDatagramCut);
        return *this;
    }
    // The bytes since the last cut, read in place as the channel socket reads.
    DatagramSeed& CutReadInPlace()
    {
        m_bytes.push_back(kestrel::fuzz::kDatagramCut | kestrel::fuzz::kInPlaceBit);
        return *this;
    }
    // Only the first `size` bytes since the last cut form a datagram.
    DatagramSeed& CutAt(std::uint16_t size)
    {
        m_bytes.push_back(kestrel::fuzz::kDatagramCut | kestrel::fuzz::kSplitBit);
        AppendLittleEndian16(m_bytes, size);
        return *this;
    }
    const Bytes& Script() const { return m_bytes; }

private:
    Bytes m_bytes;
};

void WriteFrameFinderSeeds()
{
    const char* target = "frame_finder_fuzz";
    const LinkRecord maths = Lesson("数学", "shuxue");
    const LinkRecord music = Lesson("音乐", "yinyue");
    unsigned char frame[kestrel::kLinkRecordFrameSize];
    kestrel::EncodeLinkRecordFrame(maths, 0, frame);
    const Bytes whole(frame, frame + sizeof frame);
    const auto part = [&whole](std::size_t from, std::size_t to) {
        return Bytes(whole.begin() + static_cast<std::ptrdiff_t>(from), whole.begin() + static_cast<std::ptrdiff_t>(to));
    };

    WriteSeed(target, "link-record-frame", DatagramSeed().LinkRecordFrame(maths).Cut().Script());
    WriteSeed(target, "two-frames-one-datagram", DatagramSeed().LinkRecordFrame(maths).LinkRecordFrame(music, 1).Cut().Script());
    WriteSeed(target, "frame-over-three-datagrams",
              DatagramSeed().Raw(part(0, 10)).Cut().Raw(part(10, 600)).Cut().Raw(part(600, whole.size())).Cut().Script());
    WriteSeed(target, "garbage-and-stray-syncs-before-a-frame",
              DatagramSeed().Raw({0x01, 0xFE, 0xFE, 0x7F, 0xFE}).SyncRun(3).Raw({0x00}).LinkRecordFrame(music).Script());
    WriteSeed(target, "length-8193-then-frame", DatagramSeed().Frame(8193, 0xC8).Cut().Frame(8192, 0xC8).Cut().Script());
    WriteSeed(target, "flipped-bit-then-frame", DatagramSeed().Frame(1153, 0xC8, 700).Frame(1153, 0xC8).Cut().Script());
    WriteSeed(target, "sync-run-inside-a-header", DatagramSeed().SyncRun(6).Frame(40, 0x01).Cut().Script());
    WriteSeed(target, "hunt-past-the-backlog", DatagramSeed().Frame(8193, 0).Frame(8193, 0).Cut().Frame(20, 0xC8).Script());
    WriteSeed(target, "frames-read-in-place",
              DatagramSeed().LinkRecordFrame(maths).CutReadInPlace().Raw(part(0, 100)).CutReadInPlace()
                  .Raw(part(100, whole.size())).LinkRecordFrame(music).CutReadInPlace().Script());
    WriteSeed(target, "largest-frame-in-reads", DatagramSeed().Frame(8192, 0xC8).CutAt(8192).CutAt(18).Script());
    WriteSeed(target, "handler-fails-then-frame", DatagramSeed().Frame(100, kestrel::fuzz::kFailingFrameType).Cut().Frame(100, 0xC8).Cut().Script());
    // The largest frame completed by a full read and refused by its handler
    // leaves more than the hunting backlog; the next full read must fit.
    WriteSeed(target, "handler-fails-on-a-late-largest-frame",
              DatagramSeed().Frame(8192, kestrel::fuzz::kFailingFrameType).CutAt(8200).Frame(8164, 0x01).Cut().Frame(8174, 0x01).Cut().Script());
}

// Link-record scripts (RecordScript.h).
class RecordSeed {
public:
    RecordSeed& Add(const LinkRecord& record, std::uint8_t step = kestrel::fuzz::kAddRecord)
    {
        m_bytes.push_back(step);
        const std::string_view name = kestrel::FieldText(record.name);
        m_bytes.push_back(static_cast<std::uint8_t>(name.size()));
        Append(m_bytes, name);
        m_bytes.push_back(record.reserved);
        for (const char* field : {record.caption, record.url, record.hotPicture, record.coolPicture}) {
            const std::size_t length = strnlen(field, sizeof record.caption);
            m_bytes.push_back(static_cast<std::uint8_t>(length));
            Append(m_bytes, std::string_view(field, length));
        }
        return *this;
    }
    RecordSeed& Frame(const LinkRecord& record, std::uint8_t marker)
    {
        return Add(record, static_cast<std::uint8_t>(kestrel::fuzz::kRecordFrame | marker << 5));
    }
    // The earlier record `index` again, letter case flipped by `mask`.
    RecordSeed& AddEarlierName(std::uint8_t index, std::uint8_t mask)
    {
        m_bytes.insert(m_bytes.end(), {static_cast<std::uint8_t>(kestrel::fuzz::kAddRecord | kestrel::fuzz::kEarlierNameBit),
                                       index, mask, 0, 0, 0, 0, 0});
        return *this;
    }
    RecordSeed& Merge(std::uint8_t answers = 0xFF, bool navigated = false)
    {
        m_bytes.push_back(static_cast<std::uint8_t>(kestrel::fuzz::kMergePass | (navigated ? kestrel::fuzz::kNavigatedBit : 0)));
        m_bytes.push_back(answers);
        return *this;
    }
    RecordSeed& GetRecord(std::int8_t index)
    {
        m_bytes.push_back(kestrel::fuzz::kGetRecord);
        m_bytes.push_back(static_cast<std::uint8_t>(index));
        return *this;
    }
    const Bytes& Script() const { return m_bytes; }

private:
    Bytes m_bytes;
};

void WriteLinkRecordSeeds()
{
    const char* target = "link_records_fuzz";
    LinkRecord home{};
    SetField(home.name, "HOME");
    SetField(home.url, "http://127.0.0.1:8080/index.html");
    const LinkRecord maths = Lesson("数学", "shuxue");
    const LinkRecord music = Lesson("音乐", "yinyue");
    LinkRecord english = Lesson("English", "yingyu");

    WriteSeed(target, "home-and-two-lessons", RecordSeed().Add(home).Add(maths).Add(music).Merge().Merge().Script());
    WriteSeed(target, "name-in-other-letter-case", RecordSeed().Add(english).Merge().AddEarlierName(0, 0x55).Merge().Script());
    english.caption[0] = 'X';
    WriteSeed(target, "changed-caption", RecordSeed().Add(maths).Add(english).Merge().Add(english).Merge().Script());
    WriteSeed(target, "failed-picture-test", RecordSeed().Add(maths).Add(music).Merge(0x01).Merge(0x00).Script());
    WriteSeed(target, "frames-with-markers-0-1-2",
              RecordSeed().Frame(maths, 0).Frame(music, 1).Frame(english, 2).Merge(0xFF, true).Script());
    WriteSeed(target, "get-record-bounds", RecordSeed().Add(maths).GetRecord(-1).GetRecord(0).GetRecord(1).GetRecord(127).Script());
    RecordSeed many;
    for (int i = 0; i < 32; ++i) {
        LinkRecord lesson{};
        std::snprintf(lesson.name, sizeof lesson.name, "lesson%02d", i);
        std::snprintf(lesson.hotPicture, sizeof lesson.hotPicture, "http://127.0.0.1/%d.bmp", i);
        many.Add(lesson);
        if (i % 8 == 7)
            many.Merge(static_cast<std::uint8_t>(i * 37));
    }
    WriteSeed(target, "thirty-two-names", many.Merge().Script());
}

// Settings scripts: flags, section, key, value, then the file's bytes.
Bytes ProfileSeed(bool noFile, std::string_view section, std::string_view key, std::string_view value,
                  std::string_view file)
{
    Bytes bytes{static_cast<std::uint8_t>(noFile ? 1 : 0)};
    bytes.push_back(static_cast<std::uint8_t>(section.size()));
    Append(bytes, section);
    bytes.push_back(static_cast<std::uint8_t>(key.size()));
    Append(bytes, key);
    AppendLittleEndian16(bytes, static_cast<std::uint16_t>(value.size()));
    Append(bytes, value);
    Append(bytes, file);
    return bytes;
}

void WriteProfileSeeds()
{
    const char* target = "profile_string_fuzz";
    const std::string section(kestrel::kSettingsSection);
    const std::string key(kestrel::kMainChannelPortKey);
    const std::string shipped = "[" + section + "]\n" + key + "=9000\n[" + std::string(kestrel::kBroadcastBindSection) + "]\n"
        + std::string(kestrel::kBindAddressKey) + "=\n";
    const std::string edited =
        "; classroom settings\r\n[Other]\r\nPort=1\r\n\r\n[Net]\r\n; Port=2\r\n  pOrT = 9000  \r\n"
        "Unknown=keep me\r\n\r\n[Last]\r\nx=y";

    WriteSeed(target, "port-written-back", ProfileSeed(false, section, key, "9000", shipped));
    WriteSeed(target, "port-changed", ProfileSeed(false, section, key, "9100", shipped));
    WriteSeed(target, "no-file-yet", ProfileSeed(true, section, key, "9000", ""));
    WriteSeed(target, "key-in-other-case-among-comments", ProfileSeed(false, "net", "PORT", "9001", edited));
    WriteSeed(target, "new-key-in-a-section", ProfileSeed(false, "Net", "Address", "10.0.0.1", edited));
    WriteSeed(target, "new-section-behind-a-last-line-without-break", ProfileSeed(false, "New", "k", "v", edited));
    WriteSeed(target, "quoted-value-with-blanks", ProfileSeed(false, "Last", "x", " \"a b\" ", edited));
    WriteSeed(target, "value-longer-than-258", ProfileSeed(false, "Last", "x", std::string(300, '7'), edited));
    WriteSeed(target, "line-break-in-value-refused", ProfileSeed(false, section, key, "90\n00", shipped));
}

void WriteUrlSeeds()
{
    const char* target = "url_encoder_fuzz";
    const auto seed = [target](const char* name, const std::string& url) { WriteSeed(target, name, Bytes(url.begin(), url.end())); };
    seed("chinese-file-name", Gbk("http://127.0.0.1:8080/pictures/中文.bmp"));
    seed("second-byte-below-0x81", "http://127.0.0.1/\x81\x40.bmp");
    seed("lone-lead-byte-at-the-end", "http://127.0.0.1/a\x81");
    seed("middle-dot-and-greek", Gbk("http://127.0.0.1/·αβ.bmp"));
    seed("percent-space-query", "http://127.0.0.1/a b%20c.bmp?x=1&y=2#top");
    std::string tooLong = "http://127.0.0.1/";
    for (int i = 0; i < 60; ++i)
        tooLong += Gbk("图");
    seed("encoding-too-long", tooLong);
}

// Trusted-keys files: the text alone.
void WriteTrustedKeysSeeds()
{
    const char* target = "trusted_keys_fuzz";
    const auto line = [](unsigned char fill, const std::string& comment) {
        unsigned char seed[kestrel::kSecretSeedSize];
        std::memset(seed, fill, sizeof seed);
        kestrel::SigningKey key;
        kestrel::SigningKeyFromSeed(seed, key);
        return kestrel::TrustedKeyLine(key.publicKey, comment);
    };
    const auto seed = [target](const char* name, const std::string& text) { WriteSeed(target, name, Bytes(text.begin(), text.end())); };
    seed("one-key", line(1, "teacher room 1") + "\n");
    seed("comments-blanks-and-two-keys", "# announcers\n\n" + line(1, "") + "\n\t " + line(2, "room 2") + " \r\n" + line(1, "again"));
    seed("bad-lines", "rsa AAAA\ned25519 not-base64\ned25519\n" + line(3, "").substr(0, 40) + "\n");
    std::string many;
    for (unsigned char fill = 1; fill <= 17; ++fill)
        many += line(fill, "") + "\n";
    seed("seventeen-keys", many + line(1, "known already") + "\n");
}

// A state seed: the length choice (0: 1024 bytes), the marker, the payload.
void WriteClassroomStateSeeds()
{
    const char* target = "classroom_state_fuzz";
    const auto seed = [target](const char* name, const kestrel::ClassroomState& state) {
        unsigned char frame[kestrel::kClassroomStateFrameSize];
        kestrel::EncodeClassroomStateFrame(state, 0, nullptr, 0, frame);
        Bytes bytes{0, 0};
        bytes.insert(bytes.end(), frame + kestrel::kFrameHeaderSize, frame + kestrel::kFrameHeaderSize + kestrel::kClassroomStateSize);
        WriteSeed(target, name, bytes);
    };
    kestrel::ClassroomState lesson;
    lesson.mode = kestrel::ClassroomMode::LessonOnly;
    lesson.validForSeconds = 10;
    lesson.hasHome = true;
    for (const char* name : {"maths", "art"})
        lesson.nameHashes[lesson.linkCount++] = kestrel::HashLinkName(name);
    std::strcpy(lesson.extraHosts, "example.com 10.0.0.5");
    seed("lesson-two-links-and-home", lesson);
    kestrel::ClassroomState paused;
    paused.mode = kestrel::ClassroomMode::Paused;
    paused.validForSeconds = 3600;
    paused.pauseCountdownSeconds = 86400;
    paused.pauseId = 7;
    std::strcpy(paused.pauseMessage, "look at the board");
    seed("paused-a-day-nothing-listed", paused);
    // A screen's report in the payload's first 256 bytes.
    kestrel::ScreenReport report;
    report.flags = kestrel::kReportComplete | kestrel::kReportSigned;
    report.channelPort = 9000;
    kestrel::SetReportText(report.machine, "pc-03");
    kestrel::SetReportText(report.pageHost, "example.org");
    unsigned char frame[kestrel::kReportFrameSize];
    kestrel::EncodeReportFrame(report, frame);
    Bytes bytes{0, 0};
    bytes.insert(bytes.end(), frame + kestrel::kFrameHeaderSize, frame + sizeof frame);
    WriteSeed(target, "report-complete", bytes);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s CORPUS-FOLDER\n", argv[0]);
        return 2;
    }
    g_corpus = argv[1];
    WriteFrameFinderSeeds();
    WriteLinkRecordSeeds();
    WriteProfileSeeds();
    WriteUrlSeeds();
    WriteTrustedKeysSeeds();
    WriteClassroomStateSeeds();
    return 0;
}
