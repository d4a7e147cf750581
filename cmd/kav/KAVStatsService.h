// The door that answers the daemon's counters (method 0: their JSON text),
// kept apart from the event door so that door's methods stay as they are.
#pragma once

#include <memory>

#include "platform/framework/DoorService.h"
#include "cmd/kav/KAVStats.h"

class KAVStatsService : public DoorService {
public:
    static constexpr unsigned getStatsMethod = 0;
    // Answer status of a method this door does not have.
    static constexpr int unknownMethodStatus = 1;

    explicit KAVStatsService(std::shared_ptr<const KAVStats> stats);

    void methodDispatch() override;

private:
    std::shared_ptr<const KAVStats> m_stats;
};
