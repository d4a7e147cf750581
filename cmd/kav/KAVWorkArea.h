// The daemon's work area: refuses the settings it cannot run with, then
// creates the dispatch manager and the daemon's door, then the door of its
// counters, and then tells systemd it is ready.
#pragma once

#include <memory>

#include "platform/framework/WorkArea.h"

class DoorServer;
class KAVNotifier;
class KAVStats;

class KAVWorkArea : public WorkArea {
public:
    KAVWorkArea();
    ~KAVWorkArea() override;

    int initialize() override;
    int createWorkArea() override;

private:
    static constexpr int statsServiceNumber = 1;
    // The exit status of a setting the daemon refuses to start with.
    static constexpr int settingRefused = 78;

    static void createStatsDoor(DoorServer& server, std::shared_ptr<KAVStats> stats);

    // Under systemd only; it outlives the door server's shutdown.
    std::unique_ptr<KAVNotifier> m_notifier;
};
