#pragma once

#include "base/ClassroomState.h"
#include "base/LinkRecord.h"
#include "catalogue/CatalogueEffect.h"

#include <string_view>
#include <vector>

namespace kestrel {

class CReceivedRecords;

// The links the window shows as buttons: at most twenty, numbered from 1 in
// the order they first arrived. While a classroom state's list is in force,
// the links follow it instead: only listed names, in its order, numbered
// without gaps. Each start learns them again from the received-record store. The catalogue decides
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

    // A state's list comes into force: the links it does not name leave at
    // once. Its order, and the listed names still to come, apply at the next
    // pass; names it does not list are passed over until a list names them,
    // and without its home flag so is the home record.
    CatalogueEffects FollowList(const ClassroomState& state);
    // The list lapsed: the next pass appends what it held back, as before.
    void DropList();
    bool ListInForce() const { return m_listInForce; }

private:
    void MergeHomeRecord(const LinkRecord& record, CatalogueEffects& effects);
    int FindLink(const LinkRecord& record) const;
    // The record's place in the list; -1 when the list does not name it.
    int ListPlace(const LinkRecord& record) const;
    // Puts the links in list order, renumbering the pass's effects.
    void TakeListOrder(CatalogueEffects& effects);

    LinkRecord m_links[kMaxLinks] = {};
    bool m_awaitingTest[kMaxLinks] = {};
    int m_linkCount = 0;
    bool m_listInForce = false;
    bool m_listHasHome = false;
    std::vector<LinkNameHash> m_listed;
};

} // namespace kestrel
