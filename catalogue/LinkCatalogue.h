#pragma once

#include "base/LinkRecord.h"
#include "catalogue/CatalogueEffect.h"

#include <string_view>

namespace kestrel {

class CReceivedRecords;

// The links the window shows as buttons: at most twenty, numbered from 1 in
// the order they first arrived, never removed or reordered. Each start
// learns them again from the received-record store. The catalogue decides
// and reports what changed; it never asks the window anything and never
// waits for the network.
class CLinkCatalogue {
public:
    int LinkCount() const { return m_linkCount; }
    // Link k, 1 <= k <= LinkCount().
    const LinkRecord& Link(int k) const { return m_links[k - 1]; }

    // One merge pass over the received records: the home record sets the
    // home URL, known names are replaced whole, new names become links (link
    // 1 opening by itself while the window is not `navigated`). The effects
    // come in store order; none when nothing happened. A pass waits for the
    // picture tests of the one before: while any of them has no verdict,
    // Merge takes nothing and reports nothing, so passes stay in order.
    CatalogueEffects Merge(const CReceivedRecords& store, bool navigated);

    // True while link k waits for the verdict of its picture test.
    bool AwaitingPictureTest(int k) const { return m_awaitingTest[k - 1]; }
    bool AwaitingPictureTests() const;
    // The picture test of `url` ended: every link waiting for a test of that
    // address gets its verdict, in link order. A failed test empties both
    // pictures of the link, so its button is built without them; the next
    // pass takes the record as received again.
    CatalogueEffects SettlePictureTest(std::string_view url, bool usable);

private:
    void MergeHomeRecord(const LinkRecord& record, CatalogueEffects& effects);
    int FindLink(const LinkRecord& record) const;

    LinkRecord m_links[kMaxLinks] = {};
    bool m_awaitingTest[kMaxLinks] = {};
    int m_linkCount = 0;
};

} // namespace kestrel
