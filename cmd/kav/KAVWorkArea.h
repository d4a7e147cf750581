// The daemon's work area: creates the dispatch manager and the daemon's
// door, then the door of its counters.
#pragma once

#include <memory>

#include "platform/framework/WorkArea.h"

class DoorServer;
class KAVStats;

class KAVWorkArea : public WorkArea {
public:
    KAVWorkArea();
    ~KAVWorkArea() override = default;

    int createWorkArea() override;

private:
    static constexpr int statsServiceNumber = 1;

    static void createStatsDoor(DoorServer& server, std::shared_ptr<KAVStats> stats);
};
