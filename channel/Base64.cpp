#include "channel/Base64.h"

#include <sodium.h>

namespace kestrel {

std::string Base64Text(const unsigned char* bytes, std::size_t count)
{
    std::string text(sodium_base64_ENCODED_LEN(count, sodium_base64_VARIANT_ORIGINAL), '\0');
    sodium_bin2base64(text.data(), text.size(), bytes, count, sodium_base64_VARIANT_ORIGINAL);
    text.resize(text.size() - 1); // the NUL libsodium writes
    return text;
}

bool DecodeBase64Exactly(std::string_view text, unsigned char* bytes, std::size_t count)
{
    std::size_t decoded = 0;
    const char* end = nullptr;
    return sodium_base642bin(bytes, count, text.data(), text.size(), nullptr, &decoded, &end,
                             sodium_base64_VARIANT_ORIGINAL)
            == 0
        && decoded == count && end == text.data() + text.size();
}

} // namespace kestrel
