#include "channel/SocketErrorText.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>

namespace kestrel {
namespace {

const std::string kTenTabs(10, '\t');

TEST(SocketErrorTextTest, NamesTheCommonBindFailures)
{
    EXPECT_EQ(SocketErrorText(10048), "10048:Address already in use");
    EXPECT_EQ(SocketErrorText(10049), "10049:Cannot assign requested address");
}

TEST(SocketErrorTextTest, WinsockTextEndsAfterTheWord)
{
    EXPECT_EQ(SocketErrorText(10092), "10092:Winsock");
}

TEST(SocketErrorTextTest, KeepsTheTabRunsInsideTwoTexts)
{
    EXPECT_EQ(SocketErrorText(996),
              "996:Overlapped I/O event object is not in a signaled " + kTenTabs + "state");
    EXPECT_EQ(SocketErrorText(11013),
              "11013:Invalid FILTERSPEC structure or provider-specific" + kTenTabs + "object");
}

TEST(SocketErrorTextTest, CodesOutsideTheTableAreUnknown)
{
    for (unsigned long code : {0ul, 10059ul, 12000ul, 5ul, 11016ul, 4294967295ul})
        EXPECT_EQ(SocketErrorText(code), "Unkown error") << code;
}

TEST(SocketErrorTextTest, SharedTitlesCarryTheirOwnCodes)
{
    EXPECT_EQ(SocketErrorText(10102), "10102:No more records found");
    EXPECT_EQ(SocketErrorText(10110), "10110:No more records found");
    EXPECT_EQ(SocketErrorText(10103), "10103:Operation canceled");
    EXPECT_EQ(SocketErrorText(10111), "10111:Operation canceled");
}

TEST(SocketErrorTextTest, EveryKnownCodeHasATextLeadByItsCode)
{
    const unsigned long codes[] = {
        6,     8,     87,    258,   995,   996,   997,   10004, 10009, 10013, 10014, 10022,
        10024, 10035, 10036, 10037, 10038, 10039, 10040, 10041, 10042, 10043, 10044, 10045,
        10046, 10047, 10048, 10049, 10050, 10051, 10052, 10053, 10054, 10055, 10056, 10057,
        10058, 10060, 10061, 10064, 10065, 10067, 10091, 10092, 10093, 10101, 10102, 10103,
        10104, 10105, 10106, 10107, 10108, 10109, 10110, 10111, 10112, 11001, 11002, 11003,
        11004, 11005, 11006, 11007, 11008, 11009, 11010, 11011, 11012, 11013, 11014, 11015,
    };
    static_assert(sizeof codes / sizeof codes[0] == 72);
    for (unsigned long code : codes) {
        const std::string text = SocketErrorText(code);
        const std::string lead = std::to_string(code) + ":";
        EXPECT_EQ(text.compare(0, lead.size(), lead), 0) << text;
        EXPECT_GT(text.size(), lead.size()) << text;
        EXPECT_LT(text.size(), 2048u) << text;
    }
}

TEST(SocketErrorCodeTest, TranslatesSocketErrorsToTheirWinsockCodes)
{
    EXPECT_EQ(SocketErrorCode(EADDRINUSE), 10048u);
    EXPECT_EQ(SocketErrorCode(EADDRNOTAVAIL), 10049u);
    EXPECT_EQ(SocketErrorCode(EACCES), 10013u);
    EXPECT_EQ(SocketErrorCode(EINTR), 10004u);
    EXPECT_EQ(SocketErrorCode(EBADF), 10009u);
    EXPECT_EQ(SocketErrorCode(EINVAL), 10022u);
    EXPECT_EQ(SocketErrorCode(EMFILE), 10024u);
    EXPECT_EQ(SocketErrorCode(EAGAIN), 10035u);
    EXPECT_EQ(SocketErrorCode(EWOULDBLOCK), 10035u);
    EXPECT_EQ(SocketErrorCode(ENOTSOCK), 10038u);
    EXPECT_EQ(SocketErrorCode(EMSGSIZE), 10040u);
    EXPECT_EQ(SocketErrorCode(EAFNOSUPPORT), 10047u);
    EXPECT_EQ(SocketErrorCode(ENETUNREACH), 10051u);
    EXPECT_EQ(SocketErrorCode(ECONNRESET), 10054u);
    EXPECT_EQ(SocketErrorCode(ENOBUFS), 10055u);
    EXPECT_EQ(SocketErrorCode(ETIMEDOUT), 10060u);
    EXPECT_EQ(SocketErrorCode(ECONNREFUSED), 10061u);
    EXPECT_EQ(SocketErrorCode(EHOSTUNREACH), 10065u);
    EXPECT_EQ(SocketErrorCode(ENOMEM), 8u);
}

TEST(SocketErrorCodeTest, ErrorsWithoutCounterpartPrintAsUnknown)
{
    for (int err : {0, ENOENT, EPIPE, EROFS, -1}) {
        EXPECT_EQ(SocketErrorCode(err), 0u) << err;
        EXPECT_EQ(SocketErrorText(SocketErrorCode(err)), "Unkown error") << err;
    }
}

TEST(SocketErrorCodeTest, TranslatedBindFailureReadsAsItsTitle)
{
    EXPECT_EQ(SocketErrorText(SocketErrorCode(EADDRINUSE)), "10048:Address already in use");
    EXPECT_EQ(SocketErrorText(SocketErrorCode(EADDRNOTAVAIL)), "10049:Cannot assign requested address");
}

} // namespace
} // namespace kestrel
