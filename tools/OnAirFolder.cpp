#include "tools/OnAirFolder.h"

#include "base/WholeFile.h"
#include "tools/OneLine.h"

#include <cerrno>
#include <sys/stat.h>

namespace kestrel {
namespace {

// A problem text is one line of the status file whatever bytes the refused
// file held.
std::string StatusText(const OnAir& onAir)
{
    std::string status;
    if (!onAir.source.empty())
        status += "source=" + OneLine(onAir.source) + "\n";
    if (!onAir.refused.empty())
        status += "refused=" + OneLine(onAir.refused) + "\n";
    return status;
}

} // namespace

int COnAirFolder::Show(const OnAir& onAir)
{
    if (m_written && onAir == m_shown)
        return 0;
    // Run by hand the folder may not be there yet; the service's run-time
    // folder is.
    if (::mkdir(m_folder.c_str(), 0755) != 0 && errno != EEXIST)
        return errno;
    if (const int error = ReplaceWholeFile(m_folder + "/on-air.ini", onAir.text))
        return error;
    if (const int error = ReplaceWholeFile(m_folder + "/on-air.status", StatusText(onAir)))
        return error;
    m_written = true;
    m_shown = onAir;
    return 0;
}

} // namespace kestrel
