#include "cmd/kav/KAVStatsService.h"

#include <string>

KAVStatsService::KAVStatsService(std::shared_ptr<const KAVStats> stats)
    : DoorService(true)
    , m_stats(std::move(stats))
{
}

void KAVStatsService::methodDispatch()
{
    if (getMethodID() != getStatsMethod) {
        doorReturn(unknownMethodStatus);
        return;
    }
    const std::string text = m_stats->snapshot().dump();
    doorReturn(0, text.data(), static_cast<unsigned>(text.size()));
}
