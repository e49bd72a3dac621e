// Link records fed to the receiver (directly and as frames) and merged into
// the catalogue, by the script of RecordScript.h. The store is held to a
// plain model of its rules; the catalogue to the promises the window relies
// on: at most twenty links, never fewer, names unique, the home record never
// a link, and a merge with nothing new in the store changes nothing.
#include "catalogue/HomeUrl.h"
#include "catalogue/LinkCatalogue.h"
#include "base/LinkRecord.h"
#include "channel/LinkRecordFrame.h"
#include "channel/LinkReceiver.h"
#include "fuzz/FuzzInput.h"
#include "fuzz/RecordScript.h"
#include "tests/support/CataloguePasses.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

using kestrel::CLinkCatalogue;
using kestrel::CLinkRecordStore;
using kestrel::LinkRecord;
using kestrel::fuzz::Require;

// The link-name rule written out once more: the field up to its NUL or its
// end, ASCII letters folded, every other byte as it is.
std::string FoldedName(const LinkRecord& record)
{
    std::string name;
    for (std::size_t i = 0; i < sizeof record.name && record.name[i] != '\0'; ++i) {
        const char c = record.name[i];
        name.push_back(c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c);
    }
    return name;
}

bool Same(const LinkRecord& a, const LinkRecord& b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// The store's rules: a named record replaces the one of its name, or takes
// the next of thirty slots.
class ModelStore {
public:
    bool Add(const LinkRecord& record)
    {
        const std::string name = FoldedName(record);
        if (name.empty())
            return false;
        for (LinkRecord& held : m_records) {
            if (FoldedName(held) == name) {
                held = record;
                return true;
            }
        }
        if (m_records.size() == CLinkRecordStore::kCapacity)
            return false;
        m_records.push_back(record);
        return true;
    }

    const std::vector<LinkRecord>& Records() const { return m_records; }

private:
    std::vector<LinkRecord> m_records;
};

// The merge as the window runs it, with picture tests answered by the bits
// of the script's answer byte, one per test of a pass.
class FuzzHost {
public:
    FuzzHost()
    {
        passes.usable = [this](const std::string&, std::size_t i) { return (answers >> (i % 8) & 1) != 0; };
    }

    bool Pass(CLinkCatalogue& catalogue, const CLinkRecordStore& store) { return passes.Pass(catalogue, store); }

    // What a pass costs beyond the merge itself.
    struct Costs {
        int rebuilds;
        int pictureTests;
        int firstLinkOpenings;
    };
    Costs Counted() const
    {
        return {passes.rebuilds, static_cast<int>(passes.pictureBatches.size()), passes.firstLinkOpenings};
    }

    kestrel::test::CataloguePasses passes;
    std::uint8_t answers = 0;
};

void RequireStoreMatchesModel(const CLinkRecordStore& store, const ModelStore& model)
{
    const int count = store.GetCount();
    Require(count >= 0 && count <= CLinkRecordStore::kCapacity, "the store holds at most thirty records");
    Require(static_cast<std::size_t>(count) == model.Records().size(), "the store holds the model's records");
    for (int i = 0; i < count; ++i) {
        LinkRecord record;
        Require(store.GetRecord(i, record), "every slot below the count can be read");
        Require(Same(record, model.Records()[static_cast<std::size_t>(i)]), "each slot holds the model's record");
        for (int j = 0; j < i; ++j)
            Require(FoldedName(record) != FoldedName(model.Records()[static_cast<std::size_t>(j)]),
                    "no two slots hold the same name");
    }
}

void RequireGetRecordBounds(const CLinkRecordStore& store, int index)
{
    LinkRecord untouched;
    std::memset(&untouched, 0xA5, sizeof untouched);
    LinkRecord record = untouched;
    const bool inRange = index >= 0 && index < store.GetCount();
    Require(store.GetRecord(index, record) == inRange, "GetRecord succeeds exactly for indexes below the count");
    Require(inRange || Same(record, untouched), "a refused GetRecord leaves its destination untouched");
}

// What the catalogue shows for a store record: the record itself, or, when
// its picture test failed at its first arrival, the record without pictures.
bool ShowsRecord(const LinkRecord& link, const LinkRecord& record)
{
    LinkRecord withoutPictures = record;
    withoutPictures.hotPicture[0] = '\0';
    withoutPictures.coolPicture[0] = '\0';
    return Same(link, record) || Same(link, withoutPictures);
}

void RequireCatalogueShowsStore(const CLinkCatalogue& catalogue, const ModelStore& model)
{
    const int links = catalogue.LinkCount();
    Require(links >= 0 && links <= kestrel::kMaxLinks, "the catalogue holds at most twenty links");
    for (int k = 1; k <= links; ++k) {
        Require(FoldedName(catalogue.Link(k)) != "home", "the home record never becomes a link");
        for (int j = 1; j < k; ++j)
            Require(FoldedName(catalogue.Link(k)) != FoldedName(catalogue.Link(j)), "no two links share a name");
    }
    for (const LinkRecord& record : model.Records()) {
        if (FoldedName(record) == "home") {
            Require(kestrel::HomeUrl() == std::string(kestrel::FieldText(record.url)), "the home URL is the home record's");
            continue;
        }
        int shownAs = 0;
        for (int k = 1; k <= links; ++k) {
            if (FoldedName(catalogue.Link(k)) == FoldedName(record))
                shownAs = k;
        }
        Require(shownAs > 0 || links == kestrel::kMaxLinks, "every record is a link while there is room");
        Require(shownAs == 0 || ShowsRecord(catalogue.Link(shownAs), record), "a link shows its record as received");
    }
}

void Merge(CLinkCatalogue& catalogue, const CLinkRecordStore& store, const ModelStore& model, FuzzHost& host)
{
    const int linksBefore = catalogue.LinkCount();
    host.Pass(catalogue, store);
    Require(catalogue.LinkCount() >= linksBefore, "links are never removed");
    RequireCatalogueShowsStore(catalogue, model);
    const int linksAfterFirst = catalogue.LinkCount();

    // Nothing came in since. The next pass takes every record as received,
    // which gives back pictures a failed first test emptied, without testing
    // or opening anything; after it nothing changes any more.
    const FuzzHost::Costs afterFirst = host.Counted();
    host.Pass(catalogue, store);
    Require(host.Counted().pictureTests == afterFirst.pictureTests
                && host.Counted().firstLinkOpenings == afterFirst.firstLinkOpenings,
            "a pass over an unchanged store neither tests nor opens a link");
    Require(catalogue.LinkCount() == linksAfterFirst, "a pass over an unchanged store adds no link");
    for (const LinkRecord& record : model.Records()) {
        for (int k = 1; k <= catalogue.LinkCount(); ++k) {
            if (FoldedName(catalogue.Link(k)) == FoldedName(record))
                Require(Same(catalogue.Link(k), record), "a link holds its record as received");
        }
    }

    std::vector<LinkRecord> links;
    for (int k = 1; k <= catalogue.LinkCount(); ++k)
        links.push_back(catalogue.Link(k));
    const FuzzHost::Costs before = host.Counted();
    Require(!host.Pass(catalogue, store), "a pass over an unchanged store reports no change");
    Require(host.Counted().rebuilds == before.rebuilds && host.Counted().pictureTests == before.pictureTests
                && host.Counted().firstLinkOpenings == before.firstLinkOpenings,
            "a pass over an unchanged store neither rebuilds, nor tests, nor opens a link");
    Require(catalogue.LinkCount() == static_cast<int>(links.size()), "a pass over an unchanged store adds no link");
    for (int k = 1; k <= catalogue.LinkCount(); ++k)
        Require(Same(catalogue.Link(k), links[static_cast<std::size_t>(k - 1)]), "a pass over an unchanged store changes no link");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    kestrel::fuzz::FuzzInput input(data, size);
    kestrel::fuzz::RecordReader records(input);
    kestrel::HomeUrl().clear();
    const auto receiver = std::make_unique<kestrel::CLinkReceiver>();
    const auto catalogue = std::make_unique<CLinkCatalogue>();
    ModelStore model;
    FuzzHost host;

    while (!input.Empty()) {
        const std::uint8_t tag = input.TakeByte();
        switch (tag & 3) {
        case kestrel::fuzz::kAddRecord: {
            const LinkRecord record = records.Read(tag);
            Require(receiver->AddRecord(record) == model.Add(record), "AddRecord stores exactly what the rules store");
            break;
        }
        case kestrel::fuzz::kRecordFrame: {
            const LinkRecord record = records.Read(tag);
            const unsigned char marker = tag >> 5;
            unsigned char frame[kestrel::kLinkRecordFrameSize];
            kestrel::EncodeLinkRecordFrame(record, marker, frame);
            receiver->Feed(frame, sizeof frame);
            if (marker <= 1)
                model.Add(record);
            break;
        }
        case kestrel::fuzz::kMergePass:
            host.answers = input.TakeByte();
            host.passes.navigated = host.passes.navigated || (tag & kestrel::fuzz::kNavigatedBit);
            Merge(*catalogue, receiver->Store(), model, host);
            break;
        default:
            RequireGetRecordBounds(receiver->Store(), static_cast<std::int8_t>(input.TakeByte()));
            break;
        }
        RequireStoreMatchesModel(receiver->Store(), model);
    }
    return 0;
}
