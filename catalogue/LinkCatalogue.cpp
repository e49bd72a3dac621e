#include "catalogue/LinkCatalogue.h"

#include "base/ReceivedRecords.h"
#include "catalogue/HomeUrl.h"

#include <algorithm>
#include <cstring>
#include <numeric>
#include <string>

namespace kestrel {

bool ChangesLinkButtons(const CatalogueEffects& effects)
{
    return std::any_of(effects.begin(), effects.end(), [](const CatalogueEffect& effect) {
        return effect.kind != CatalogueEffect::Kind::HomeUrlSet && effect.kind != CatalogueEffect::Kind::OpenFirstLink;
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
            if (!m_listInForce || m_listHasHome)
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
        // With twenty links held a new name gets no place, no button and no
        // picture test; a name the list does not give waits without one.
        if (m_linkCount == kMaxLinks || (m_listInForce && ListPlace(record) < 0))
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
    if (m_listInForce)
        TakeListOrder(effects);
    return effects;
}

CatalogueEffects CLinkCatalogue::FollowList(const ClassroomState& state)
{
    m_listed.assign(state.nameHashes.begin(), state.nameHashes.begin() + std::clamp(state.linkCount, 0, kMaxLinks));
    m_listInForce = true;
    m_listHasHome = state.hasHome;
    CatalogueEffects effects;
    int kept = 0;
    for (int k = 1; k <= m_linkCount; ++k) {
        if (ListPlace(m_links[k - 1]) < 0) {
            effects.push_back({CatalogueEffect::Kind::LinkRemoved, k});
            continue;
        }
        m_links[kept] = m_links[k - 1];
        m_awaitingTest[kept] = m_awaitingTest[k - 1];
        ++kept;
    }
    std::fill(m_awaitingTest + kept, m_awaitingTest + m_linkCount, false);
    m_linkCount = kept;
    return effects;
}

void CLinkCatalogue::DropList()
{
    m_listInForce = false;
    m_listed.clear();
}

int CLinkCatalogue::ListPlace(const LinkRecord& record) const
{
    const auto found = std::find(m_listed.begin(), m_listed.end(), HashLinkName(FieldText(record.name)));
    return found == m_listed.end() ? -1 : static_cast<int>(found - m_listed.begin());
}

void CLinkCatalogue::TakeListOrder(CatalogueEffects& effects)
{
    int place[kMaxLinks];
    int order[kMaxLinks];
    for (int i = 0; i < m_linkCount; ++i)
        place[i] = ListPlace(m_links[i]);
    std::iota(order, order + m_linkCount, 0);
    std::sort(order, order + m_linkCount, [&place](int a, int b) { return place[a] < place[b]; });
    if (std::is_sorted(order, order + m_linkCount))
        return;
    LinkRecord links[kMaxLinks];
    bool awaiting[kMaxLinks];
    int newNumber[kMaxLinks + 1] = {};
    for (int i = 0; i < m_linkCount; ++i) {
        links[i] = m_links[order[i]];
        awaiting[i] = m_awaitingTest[order[i]];
        newNumber[order[i] + 1] = i + 1;
    }
    std::copy(links, links + m_linkCount, m_links);
    std::copy(awaiting, awaiting + m_linkCount, m_awaitingTest);
    // The pass's effects name links as they now stand.
    for (CatalogueEffect& effect : effects) {
        if (effect.kind == CatalogueEffect::Kind::LinkAdded || effect.kind == CatalogueEffect::Kind::LinkChanged)
            effect.link = newNumber[effect.link];
    }
    effects.push_back({CatalogueEffect::Kind::LinksReordered});
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
