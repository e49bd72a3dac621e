#include "catalogue/LinkCatalogue.h"

#include "catalogue/CatalogueHost.h"
#include "catalogue/HomeUrl.h"
#include "base/ReceivedRecords.h"

#include <cstring>
#include <string>
#include <vector>

namespace kestrel {

bool CLinkCatalogue::Merge(const CReceivedRecords& store, CCatalogueHost& host)
{
    const int count = store.GetCount();
    LinkRecord record = {};
    bool changed = false;
    int firstNewLink = m_linkCount + 1;

    for (int i = 0; i < count; ++i) {
        if (!store.GetRecord(i, record))
            continue;
        if (IsHomeRecord(record)) {
            MergeHomeRecord(record, host);
            continue;
        }
        const int k = FindLink(record);
        if (k > 0) {
            // Replaced whole, so a name that differs only in letter case takes
            // the new case, and pictures a failed first test emptied come back
            // for the next rebuild to try again.
            LinkRecord& link = m_links[k - 1];
            if (std::memcmp(&link, &record, sizeof record) != 0) {
                changed = true;
                link = record;
            }
            continue;
        }
        // With twenty links held a new name gets no place, no button and no picture test.
        if (m_linkCount == kMaxLinks)
            continue;
        changed = true;
        m_links[m_linkCount++] = record;
        if (!host.IsNavigated())
            host.OpenFirstLink();
    }

    // The picture test of this pass's new links runs as one batch, so a pass
    // with many new links waits about one request, not one per link.
    if (firstNewLink <= m_linkCount) {
        std::vector<std::string> pictures;
        for (int k = firstNewLink; k <= m_linkCount; ++k)
            pictures.emplace_back(FieldText(m_links[k - 1].hotPicture));
        const std::vector<bool> usable = host.TestPictures(pictures);
        for (int k = firstNewLink; k <= m_linkCount; ++k) {
            const std::size_t i = static_cast<std::size_t>(k - firstNewLink);
            if (i >= usable.size() || !usable[i]) {
                m_links[k - 1].hotPicture[0] = '\0';
                m_links[k - 1].coolPicture[0] = '\0';
            }
        }
    }

    if (changed)
        host.RebuildLinkButtons();
    return changed;
}

void CLinkCatalogue::MergeHomeRecord(const LinkRecord& record, CCatalogueHost& host)
{
    std::string& homeUrl = HomeUrl();
    const std::string_view url = FieldText(record.url);
    if (homeUrl.empty()) {
        host.EnableStopAndRefresh();
        homeUrl.assign(url);
        host.NavigateHome();
    }
    homeUrl.assign(url);
}

int CLinkCatalogue::FindLink(const LinkRecord& record) const
{
    const std::string_view name = FieldText(record.name);
    for (int k = 1; k <= m_linkCount; ++k) {
        if (LinkNamesEqual(FieldText(m_links[k - 1].name), name))
            return k;
    }
    return 0;
}

} // namespace kestrel
