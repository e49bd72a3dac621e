#pragma once

#include "base/LinkRecord.h"

namespace kestrel {

// The records heard on the channel, as the catalogue merge reads them: the
// last record of each name, in the order the names first arrived. The
// received-record store holds them; tests hand the merge a list of their own.
class CReceivedRecords {
public:
    virtual int GetCount() const = 0;
    // Copies record `index` into `record`; false, with `record` untouched,
    // when the index is not below the count.
    virtual bool GetRecord(int index, LinkRecord& record) const = 0;

protected:
    ~CReceivedRecords() = default;
};

} // namespace kestrel
