// kestrel_pupils: a classroom of simulated pupils in one process, for the
// room view's page test and its benchmark. Runs until SIGINT or SIGTERM, or
// for --seconds; prints a line whenever the number of pupils holding the
// state's links changes.
#include "base/ConsoleLine.h"
#include "base/SteadyClock.h"
#include "bench/PupilSimulator.h"
#include "tools/StopSignals.h"
#include "tools/WholeNumber.h"

#include <arpa/inet.h>
#include <sys/resource.h>

#include <cstring>
#include <string>

namespace {

const char* const kUsage =
    "usage: kestrel_pupils --trust FILE [--port N] [--to ADDRESS] [--group GROUP] [--count N] [--stale K]\n"
    "                      [--seconds S]\n"
    "       kestrel_pupils --report-to ADDRESS:PORT [--port N] [--count N] [--seconds S]\n"
    "  --trust FILE   the trusted-keys file of the announcer's key (needed: only a trusted state asks for reports)\n"
    "  --port N       the room's channel port (9000)\n"
    "  --to ADDRESS   the card to hear on, as a browser's IP地址 (every card)\n"
    "  --group GROUP  a multicast group to join, as a browser's 组播地址 (none)\n"
    "  --count N      pupils, 1 to 4096 (1000); pupil i reports from 127.100.0.0 + i\n"
    "  --stale K      the first K pupils take no link records (0)\n"
    "  --seconds S    stop after S seconds (0: on SIGINT or SIGTERM)\n"
    "  --report-to ADDRESS:PORT  hear nothing (a browser here holds the channel port) and report every five\n"
    "                 seconds, as machines that never took a state, to that address and port\n";

// "ADDRESS:PORT", an IPv4 address and a port.
bool ReadReportTarget(const std::string& text, kestrel::PupilOptions& options)
{
    const std::size_t colon = text.rfind(':');
    in_addr address{};
    long port = 0;
    if (colon == std::string::npos || inet_pton(AF_INET, text.substr(0, colon).c_str(), &address) != 1
        || !kestrel::ReadWholeNumber(std::string_view(text).substr(colon + 1), 1, 65535, port))
        return false;
    options.reportAddress = address.s_addr;
    options.reportPort = static_cast<std::uint16_t>(port);
    return true;
}

bool ParseOptions(int argc, char** argv, kestrel::PupilOptions& options, long& seconds)
{
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (i + 1 >= argc)
            return false;
        const char* value = argv[++i];
        long number = 0;
        if (option == "--trust")
            options.trustedKeysPath = value;
        else if (option == "--to")
            options.bindAddress = value;
        else if (option == "--group")
            options.group = value;
        else if (option == "--port" && kestrel::ReadWholeNumber(value, 1, 65535, number))
            options.port = static_cast<std::uint16_t>(number);
        else if (option == "--count" && kestrel::ReadWholeNumber(value, 1, kestrel::CPupilSimulator::kMaxPupils, number))
            options.count = static_cast<int>(number);
        else if (option == "--stale" && kestrel::ReadWholeNumber(value, 0, kestrel::CPupilSimulator::kMaxPupils, number))
            options.stale = static_cast<int>(number);
        else if (option == "--seconds" && kestrel::ReadWholeNumber(value, 0, 86400, seconds))
            continue;
        else if (option == "--report-to" && ReadReportTarget(value, options))
            continue;
        else
            return false;
    }
    return !options.trustedKeysPath.empty() || options.reportPort != 0;
}

} // namespace

int main(int argc, char** argv)
{
    using namespace kestrel;
    PupilOptions options;
    long seconds = 0;
    if (!ParseOptions(argc, argv, options, seconds)) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    // A socket per pupil.
    rlimit files{};
    if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
        files.rlim_cur = files.rlim_max;
        setrlimit(RLIMIT_NOFILE, &files);
    }
    CStopSignals stop;
    CPupilSimulator room(options);
    if (!room.Start())
        return 1;
    PrintLine(std::to_string(room.Count()) + " pupils of port " + std::to_string(options.port)
              + (options.reportPort != 0 ? ", hearing nothing" : ", " + std::to_string(options.stale) + " of them stale"));
    const std::int64_t end = seconds > 0 ? SteadyMilliseconds() + seconds * 1000 : CScreenReporter::kNever;
    int applied = -1;
    while (SteadyMilliseconds() < end) {
        if (!room.RunUntil(std::min(end, SteadyMilliseconds() + 1000), stop.Descriptor()))
            break;
        if (room.AppliedCount() != applied) {
            applied = room.AppliedCount();
            PrintLine(std::to_string(applied) + "/" + std::to_string(room.Count()) + " applied, "
                      + std::to_string(room.ReportsSent()) + " reports sent");
        }
    }
    return 0;
}
