#pragma once

namespace kestrel {

// The Windows Sockets error code with the same meaning as the POSIX error
// `err` (EADDRINUSE gives 10048), so that failures read as the socket error
// texts name them. An error with no counterpart gives 0, which no text names:
// it prints as "Unkown error".
unsigned long SocketErrorCode(int err);

} // namespace kestrel
