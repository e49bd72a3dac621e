#pragma once

#include "catalogue/LinkRecord.h"

namespace kestrel {

// Everything one catalogue file announces, in file order: the home record
// when the file has one and at most twenty links (the window has twenty
// link buttons).
struct AnnouncedRecords {
    static constexpr int kMostLinks = 20;
    static constexpr int kCapacity = kMostLinks + 1;

    LinkRecord records[kCapacity] = {};
    int count = 0;
};

} // namespace kestrel
