#include "catalogue/LinkCatalogue.h"

#include "base/ReceivedRecords.h"
#include "catalogue/HomeUrl.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace kestrel {

bool ChangesLinkButtons(const CatalogueEffects& effects)
{
    return std::any_of(effects.begin(), effects.end(), [](const CatalogueEffect& effect) {
        return effect.kind == CatalogueEffect::Kind::LinkAdded || effect.kind == CatalogueEffect::Kind::LinkChanged
            || effect.kind == CatalogueEffect::Kind::PictureVerdict;
    });
}

CatalogueEffects CLinkCatalogue::Merge(const CReceivedRecords& store, bool navigated)
{
    CatalogueEffects effects;
    if (AwaitingPictureTests())
        return effects;
    const int count = store.GetCount();
    LinkRecord record = {};

    for (int i = 0; i < count; ++i) {
        if (!store.GetRecord(i, record))
            continue;
        if (IsHomeRecord(record)) {
            MergeHomeRecord(record, effects);
            continue;
        }
        const int k = FindLink(record);
        if (k > 0) {
            // Replaced whole, so a name that differs only in letter case takes
            // the new case, and pictures a failed first test emptied come back
            // for the next rebuild to try again.
            LinkRecord& link = m_links[k - 1];
            if (std::memcmp(&link, &record, sizeof record) != 0) {
                link = record;
                effects.push_back({CatalogueEffect::Kind::LinkChanged, k});
            }
            continue;
        }
        // With twenty links held a new name gets no place, no button and no picture test.
        if (m_linkCount == kMaxLinks)
            continue;
        m_links[m_linkCount] = record;
        m_awaitingTest[m_linkCount] = true;
        ++m_linkCount;
        effects.push_back({CatalogueEffect::Kind::LinkAdded, m_linkCount});
        if (!navigated) {
            navigated = true;
            effects.push_back({CatalogueEffect::Kind::OpenFirstLink, 1});
        }
    }
    return effects;
}

bool CLinkCatalogue::AwaitingPictureTests() const
{
    return std::any_of(m_awaitingTest, m_awaitingTest + m_linkCount, [](bool awaiting) { return awaiting; });
}

CatalogueEffects CLinkCatalogue::SettlePictureTest(std::string_view url, bool usable)
{
    CatalogueEffects effects;
    for (int k = 1; k <= m_linkCount; ++k) {
        LinkRecord& link = m_links[k - 1];
        if (!m_awaitingTest[k - 1] || FieldText(link.hotPicture) != url)
            continue;
        m_awaitingTest[k - 1] = false;
        if (!usable) {
            link.hotPicture[0] = '\0';
            link.coolPicture[0] = '\0';
        }
        effects.push_back({CatalogueEffect::Kind::PictureVerdict, k, false, usable});
    }
    return effects;
}

void CLinkCatalogue::MergeHomeRecord(const LinkRecord& record, CatalogueEffects& effects)
{
    std::string& homeUrl = HomeUrl();
    const std::string_view url = FieldText(record.url);
    const bool wasEmpty = homeUrl.empty();
    // The same address again is no news for the window.
    if (!wasEmpty && homeUrl == url)
        return;
    homeUrl.assign(url);
    effects.push_back({CatalogueEffect::Kind::HomeUrlSet, 0, wasEmpty});
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
