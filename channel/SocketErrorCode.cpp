#include "channel/SocketErrorCode.h"

#include <algorithm>
#include <cerrno>
#include <iterator>

namespace kestrel {

namespace {

struct ErrnoCodePair {
    int err;
    unsigned long code;
};

// EAGAIN and EWOULDBLOCK, or EOPNOTSUPP and ENOTSUP, may share one value;
// the first row for a value wins, and both mean the same code anyway.
constexpr ErrnoCodePair kSocketCodes[] = {
    {ENOMEM, 8},
    {EINTR, 10004},
    {EBADF, 10009},
    {EACCES, 10013},
    {EFAULT, 10014},
    {EINVAL, 10022},
    {EMFILE, 10024},
    {EAGAIN, 10035},
    {EWOULDBLOCK, 10035},
    {EINPROGRESS, 10036},
    {EALREADY, 10037},
    {ENOTSOCK, 10038},
    {EDESTADDRREQ, 10039},
    {EMSGSIZE, 10040},
    {EPROTOTYPE, 10041},
    {ENOPROTOOPT, 10042},
    {EPROTONOSUPPORT, 10043},
    {ESOCKTNOSUPPORT, 10044},
    {EOPNOTSUPP, 10045},
    {EPFNOSUPPORT, 10046},
    {EAFNOSUPPORT, 10047},
    {EADDRINUSE, 10048},
    {EADDRNOTAVAIL, 10049},
    {ENETDOWN, 10050},
    {ENETUNREACH, 10051},
    {ENETRESET, 10052},
    {ECONNABORTED, 10053},
    {ECONNRESET, 10054},
    {ENOBUFS, 10055},
    {EISCONN, 10056},
    {ENOTCONN, 10057},
    {ESHUTDOWN, 10058},
    {ETIMEDOUT, 10060},
    {ECONNREFUSED, 10061},
    {EHOSTDOWN, 10064},
    {EHOSTUNREACH, 10065},
#ifdef EPROCLIM
    {EPROCLIM, 10067},
#endif
};

} // namespace

unsigned long SocketErrorCode(int err)
{
    const auto pair = std::find_if(std::begin(kSocketCodes), std::end(kSocketCodes),
                                   [err](const ErrnoCodePair& p) { return p.err == err; });
    return pair != std::end(kSocketCodes) ? pair->code : 0;
}

} // namespace kestrel
