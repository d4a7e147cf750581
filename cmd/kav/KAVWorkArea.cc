#include "KAVWorkArea.h"

#include <cstdlib>
#include <new>

#include "DoorApplication.h"
#include "DoorPath.h"
#include "KAVManager.h"
#include "KAVStatsService.h"
#include "LogStatement.h"

KAVWorkArea::KAVWorkArea()
    : WorkArea("KAVWorkArea")
{
}

int KAVWorkArea::createWorkArea()
{
    auto* server = dynamic_cast<DoorServer*>(theApplication);
    if (!server)
        return -1;

    auto* manager = new (std::nothrow) KAVManager();
    if (!manager) {
        logStatement(4, LogDest::trace(), MEM_ALLOC_FAILED, "KAVManager");
        logStatement(4, LogDest::platform(), MEM_ALLOC_FAILED, "KAVManager");
        exit(MEM_ALLOC_FAILED);
    }

    std::shared_ptr<KAVStats> stats = manager->stats();
    // From here on the door server owns the manager.
    if (int rc = server->registerObj(manager, 0); rc != 0)
        return rc;

    int rc = server->doorCreate(KAV_DOOR, 0);
    if (rc != 0) {
        logStatement(4, LogDest::trace(), CREATE_DOOR_FAILED, KAV_DOOR, rc);
        logStatement(4, LogDest::platform(), CREATE_DOOR_FAILED, KAV_DOOR, rc);
        return rc;
    }
    createStatsDoor(*server, std::move(stats));
    return 0;
}

// The counters are for operators only: without their door the daemon still
// reports events.
void KAVWorkArea::createStatsDoor(DoorServer& server, std::shared_ptr<KAVStats> stats)
{
    auto* service = new (std::nothrow) KAVStatsService(std::move(stats));
    if (!service) {
        logStatement(4, LogDest::trace(), MEM_ALLOC_FAILED, "KAVStatsService");
        logStatement(4, LogDest::platform(), MEM_ALLOC_FAILED, "KAVStatsService");
        return;
    }
    if (server.registerObj(service, statsServiceNumber) != 0) {
        delete service;
        return;
    }
    if (int rc = server.doorCreate(KAV_STATS_DOOR, statsServiceNumber); rc != 0) {
        logStatement(4, LogDest::trace(), CREATE_DOOR_FAILED, KAV_STATS_DOOR, rc);
        logStatement(4, LogDest::platform(), CREATE_DOOR_FAILED, KAV_STATS_DOOR, rc);
    }
}
