#pragma once

#include "base/LinkRecord.h"

namespace kestrel {

class CCatalogueHost;
class CReceivedRecords;

// The links the window shows as buttons: at most twenty, numbered from 1 in
// the order they first arrived, never removed or reordered. Each start
// learns them again from the received-record store.
class CLinkCatalogue {
public:
    int LinkCount() const { return m_linkCount; }
    // Link k, 1 <= k <= LinkCount().
    const LinkRecord& Link(int k) const { return m_links[k - 1]; }

    // One merge pass over the received records: the home record sets the home URL
    // (opening it when it was empty), known names are replaced whole, new
    // names become links. The buttons are rebuilt once when anything
    // changed. Returns whether it did.
    bool Merge(const CReceivedRecords& store, CCatalogueHost& host);

private:
    void MergeHomeRecord(const LinkRecord& record, CCatalogueHost& host);
    int FindLink(const LinkRecord& record) const;

    LinkRecord m_links[kMaxLinks] = {};
    int m_linkCount = 0;
};

} // namespace kestrel
