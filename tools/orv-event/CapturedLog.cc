#include "tools/orv-event/CapturedLog.h"

#include <cstdlib>
#include <utility>

#include "platform/log/Log.h"
#include "platform/log/LogFiles.h"

using orv::log::LogFiles;

CapturedLog::CapturedLog()
{
    setenv("ORV_LOG_LEVEL", "0", 1);
    reopenLogFiles(); // the threshold is read again
}

void CapturedLog::lineLogged(const Line& line)
{
    m_entries.push_back({ line.level, line.id, line.destination, line.eventOutput, line.text });
}

std::vector<CapturedLog::Entry> CapturedLog::take()
{
    return std::exchange(m_entries, {});
}

std::string CapturedLog::destinationName(int destination)
{
    if (destination == LogFiles::traceIndex)
        return "trace";
    if (destination == LogFiles::platformIndex)
        return "platform";
    const int domain = destination - LogFiles::firstDomainIndex;
    if (domain >= 0 && domain < LogFiles::domainCount)
        return std::string("domain-") + static_cast<char>('A' + domain);
    return "none";
}
