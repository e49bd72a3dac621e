#pragma once

#include <string>

namespace kestrel {

// The one-line text for a Windows Sockets error code, such as
// "10048:Address already in use": the code, a colon and the error's title.
// Any code outside the table gives "Unkown error".
std::string SocketErrorText(unsigned long code);

// The Windows Sockets error code with the same meaning as the POSIX error
// `err` (EADDRINUSE gives 10048), so that failures read as the socket error
// texts name them. An error with no counterpart gives 0, which no text names:
// it prints as "Unkown error".
unsigned long SocketErrorCode(int err);

} // namespace kestrel
