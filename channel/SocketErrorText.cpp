#include "channel/SocketErrorText.h"

#include <algorithm>
#include <cerrno>
#include <iterator>

namespace kestrel {

namespace {

struct SocketErrorEntry {
    unsigned long code;
    const char* text;
};

// The Windows Sockets codes, and the few Windows codes that overlapped socket
// calls report. The tab runs in 996 and 11013 belong to those texts.
constexpr SocketErrorEntry kSocketErrors[] = {
    {6, "6:Specified event object invalid"},
    {8, "8:Insufficient memory available"},
    {87, "87:One or more parameters are invalid"},
    {258, "258:Operation timed out"},
    {995, "995:Overlapped operation aborted"},
    {996, "996:Overlapped I/O event object is not in a signaled \t\t\t\t\t\t\t\t\t\tstate"},
    {997, "997:Overlapped operations will complete later"},
    {10004, "10004:Interrupted function call"},
    {10009, "10009:Bad file handle"},
    {10013, "10013:Permission denied"},
    {10014, "10014:Invalid address"},
    {10022, "10022:Invalid argument"},
    {10024, "10024:Too many open files"},
    {10035, "10035:Resource temporarily unavailable"},
    {10036, "10036:Operation now in progress"},
    {10037, "10037:Operation already in progress"},
    {10038, "10038:Socket operation on an invalid socket"},
    {10039, "10039:Destination address required"},
    {10040, "10040:Message too long"},
    {10041, "10041:Wrong protocol type for socket"},
    {10042, "10042:Bad protocol option"},
    {10043, "10043:Protocol not supported"},
    {10044, "10044:Socket type not supported"},
    {10045, "10045:Operation not supported"},
    {10046, "10046:Protocol family not supported"},
    {10047, "10047:Address family does not support requested operation"},
    {10048, "10048:Address already in use"},
    {10049, "10049:Cannot assign requested address"},
    {10050, "10050:Network is down"},
    {10051, "10051:Network is unreachable"},
    {10052, "10052:Network dropped the connection on reset"},
    {10053, "10053:Software caused the connection to abort"},
    {10054, "10054:Connection reset by peer"},
    {10055, "10055:No buffer space available"},
    {10056, "10056:Socket is already connected"},
    {10057, "10057:Socket is not connected"},
    {10058, "10058:Cannot send after socket shutdown"},
    {10060, "10060:Connection timed out"},
    {10061, "10061:Connection refused"},
    {10064, "10064:Host is down"},
    {10065, "10065:No route to host"},
    {10067, "10067:Too many processes"},
    {10091, "10091:Network subsystem is unavailable"},
    {10092, "10092:Winsock"},
    {10093, "10093:Winsock has not been initialized"},
    {10101, "10101:Graceful shutdown in progress"},
    {10102, "10102:No more records found"},
    {10103, "10103:Operation canceled"},
    {10104, "10104:The procedure call table is invalid"},
    {10105, "10105:Invalid service provider"},
    {10106, "10106:The provider failed to initialize"},
    {10107, "10107:System call failure"},
    {10108, "10108:No such service found"},
    {10109, "10109:Class type not found"},
    {10110, "10110:No more records found"},
    {10111, "10111:Operation canceled"},
    {10112, "10112:Query refused"},
    {11001, "11001:Host not found"},
    {11002, "11002:Nonauthoritative host not found"},
    {11003, "11003:A nonrecoverable error occurred"},
    {11004, "11004:No data record of the requested type found"},
    {11005, "11005:At least one reserve message has arrived"},
    {11006, "11006:At least one path message has arrived"},
    {11007, "11007:No QOS senders"},
    {11008, "11008:No QOS receivers"},
    {11009, "11009:Reservation request has been confirmed"},
    {11010, "11010:Error due to lack of resources"},
    {11011, "11011:Invalid credentials"},
    {11012, "11012:Unknown or conflicting style"},
    {11013, "11013:Invalid FILTERSPEC structure or provider-specific\t\t\t\t\t\t\t\t\t\tobject"},
    {11014, "11014:Problem with a FLOWSPEC"},
    {11015, "11015:General QOS error"},
};

} // namespace

std::string SocketErrorText(unsigned long code)
{
    const auto entry = std::find_if(std::begin(kSocketErrors), std::end(kSocketErrors),
                                    [code](const SocketErrorEntry& e) { return e.code == code; });
    return entry != std::end(kSocketErrors) ? entry->text : "Unkown error";
}

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
