#pragma once

#include "base/LinkRecord.h"

namespace kestrel {

// Everything one catalogue file announces, in file order: the home record
// when the file has one and at most kMaxLinks links.
struct AnnouncedRecords {
    static constexpr int kCapacity = kMaxLinks + 1;

    LinkRecord records[kCapacity] = {};
    int count = 0;
};

} // namespace kestrel
