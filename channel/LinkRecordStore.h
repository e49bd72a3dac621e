#pragma once

#include "base/LinkRecord.h"
#include "base/ReceivedRecords.h"

#include <mutex>

namespace kestrel {

// The received-record store: the last record heard for each link name, in
// the order the names first arrived. Thirty slots, never shrinking; the
// catalogue merge polls it once a second.
class CLinkRecordStore final : public CReceivedRecords {
public:
    static constexpr int kCapacity = 30;

    // Stores the record, replacing the one of the same name. Refused when
    // the name is empty or when thirty other names are held.
    bool AddRecord(const LinkRecord& record);
    // The same for a record given inverted, as a link-record frame carries
    // it.
    bool AddInvertedRecord(const unsigned char* inverted);
    int GetCount() const override;
    bool GetRecord(int index, LinkRecord& record) const override;

private:
    using InvertedRecord = unsigned char[kLinkRecordSize];

    // Finds the key's slot, or takes the next free one for it, and has
    // fillSlot write the inverted record there.
    template <typename FillSlot>
    bool Store(const LinkNameKey& key, FillSlot&& fillSlot);

    mutable std::mutex m_lock;
    int m_count = 0;
    // Each record as a link-record frame carries it, inverted: a received
    // record is stored by a plain copy, and only the catalogue's reads, once
    // a second, turn records back.
    InvertedRecord m_slots[kCapacity] = {};
    // Each slot's name, folded when it was stored: a lookup folds only the
    // new name, once, however many slots it passes.
    LinkNameKey m_keys[kCapacity];
};

} // namespace kestrel
