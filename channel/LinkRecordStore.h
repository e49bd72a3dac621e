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
};

} // namespace kestrel
