#pragma once

#include "base/ClassroomState.h"
#include "base/LinkRecord.h"
#include "base/ReceivedRecords.h"

#include <mutex>

namespace kestrel {

// The received-record store: the last record heard for each link name, in
// the order the names first arrived. Thirty slots; only a classroom state's
// list frees them. The catalogue merge polls it once a second.
class CLinkRecordStore final : public CReceivedRecords {
public:
    static constexpr int kCapacity = 30;

    // Stores the record, replacing the one of the same name. Refused when
    // the name is empty or when thirty other names are held.
    bool AddRecord(const LinkRecord& record);
    // Frees the slots of every name whose hash is not among `kept`; the
    // other records keep their order.
    void KeepOnly(const LinkNameHash* kept, int keptCount);
    // The digest of the held records as `state` lists them, as the announcer
    // computes it for that state; false when a listed record, or the home
    // record the state says there is, is not held.
    bool DigestListed(const ClassroomState& state, CatalogueDigest& digest) const;
    int GetCount() const override;
    bool GetRecord(int index, LinkRecord& record) const override;

private:
    mutable std::mutex m_lock;
    int m_count = 0;
    // Plain records, as the catalogue reads them: the receiver turns each
    // back from its wire form before it is stored.
    LinkRecord m_slots[kCapacity] = {};
    // Each slot's name, folded when it was stored: a lookup folds only the
    // new name, once, however many slots it passes.
    LinkNameKey m_keys[kCapacity];
    // Each slot's name as a classroom state lists it.
    LinkNameHash m_hashes[kCapacity] = {};
};

} // namespace kestrel
