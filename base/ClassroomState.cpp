#include "base/ClassroomState.h"

#include "base/AsciiCase.h"

#include <sodium.h>

#include <algorithm>

namespace kestrel {

LinkNameHash HashLinkName(std::string_view name)
{
    unsigned char folded[sizeof(LinkRecord::name)];
    const std::size_t length = std::min(name.size(), sizeof folded);
    for (std::size_t i = 0; i < length; ++i)
        folded[i] = static_cast<unsigned char>(FoldAsciiCase(name[i]));
    unsigned char full[crypto_generichash_BYTES];
    crypto_generichash(full, sizeof full, folded, length, nullptr, 0);
    LinkNameHash hash;
    std::copy_n(full, hash.size(), hash.begin());
    return hash;
}

} // namespace kestrel
