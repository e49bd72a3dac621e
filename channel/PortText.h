#pragma once

#include <string_view>

namespace kestrel {

// The channel port as the settings file writes it, read the way the C
// library's atol reads: leading blanks and one sign allowed, digits up to
// the first other character, 0 when there are none. Values beyond the
// 32-bit range stop at its ends. The socket takes the low 16 bits.
long PortFromText(std::string_view text);

} // namespace kestrel
