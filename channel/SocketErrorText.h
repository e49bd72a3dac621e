#pragma once

#include <string>

namespace kestrel {

// The one-line text for a Windows Sockets error code, such as
// "10048:Address already in use": the code, a colon and the error's title.
// Any code outside the table gives "Unkown error".
std::string SocketErrorText(unsigned long code);

} // namespace kestrel
