#pragma once

#include "base/ClassroomState.h"

#include <string>
#include <vector>

namespace kestrel::test {

// A classroom state listing `names` in toolbar order, with a home record.
inline ClassroomState ListedState(const std::vector<std::string>& names, ClassroomMode mode = ClassroomMode::Open,
                                  std::uint32_t validForSeconds = 60)
{
    ClassroomState state;
    state.mode = mode;
    state.hasHome = true;
    state.validForSeconds = validForSeconds;
    for (const std::string& name : names)
        state.nameHashes[state.linkCount++] = HashLinkName(name);
    return state;
}

} // namespace kestrel::test
