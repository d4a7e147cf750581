#include "cmd/kav/KAVWorkArea.h"

#include <cstdlib>
#include <memory>
#include <new>

#include "platform/framework/DoorApplication.h"
#include "platform/framework/DoorPath.h"
#include "cmd/kav/KAVManager.h"
#include "cmd/kav/KAVNotifier.h"
#include "cmd/kav/KAVStatsService.h"
#include "cmd/kav/journal/JournalSettings.h"
#include "platform/log/LogStatement.h"

using orv::framework::KAV_STATS_DOOR;

KAVWorkArea::KAVWorkArea()
    : WorkArea("KAVWorkArea")
{
}

KAVWorkArea::~KAVWorkArea() = default;

// Mails over the ceiling wait in the journal: a ceiling without one would
// lose them, so it is refused before the door opens.
int KAVWorkArea::initialize()
{
    const auto settings = orv::journal::JournalSettings::fromEnvironment();
    if (settings.mailPerMinute == 0 || settings.enabled())
        return 0;
    logStatement(4, LogDest::trace(), KAV_MAIL_RATE_WITHOUT_JOURNAL, settings.mailPerMinute);
    logStatement(4, LogDest::platform(), KAV_MAIL_RATE_WITHOUT_JOURNAL, settings.mailPerMinute);
    return settingRefused;
}

int KAVWorkArea::createWorkArea()
{
    auto* server = dynamic_cast<DoorServer*>(theApplication);
    if (!server)
        return -1;

    std::unique_ptr<KAVManager> manager(new (std::nothrow) KAVManager());
    if (!manager) {
        logStatement(4, LogDest::trace(), MEM_ALLOC_FAILED, "KAVManager");
        logStatement(4, LogDest::platform(), MEM_ALLOC_FAILED, "KAVManager");
        exit(MEM_ALLOC_FAILED);
    }

    std::shared_ptr<KAVStats> stats = manager->stats();
    // Once registered the door server owns the manager; a refused one is ours to delete.
    if (int rc = server->registerObj(manager.get(), 0); rc != 0)
        return rc;
    manager.release();

    int rc = server->doorCreate(KAV_DOOR, 0);
    if (rc != 0) {
        logStatement(4, LogDest::trace(), CREATE_DOOR_FAILED, KAV_DOOR, rc);
        logStatement(4, LogDest::platform(), CREATE_DOOR_FAILED, KAV_DOOR, rc);
        return rc;
    }
    createStatsDoor(*server, stats);
    m_notifier = KAVNotifier::startIfManaged(std::move(stats));
    return 0;
}

// The counters are for operators only: without their door the daemon still
// reports events.
void KAVWorkArea::createStatsDoor(DoorServer& server, std::shared_ptr<KAVStats> stats)
{
    std::unique_ptr<KAVStatsService> service(new (std::nothrow) KAVStatsService(std::move(stats)));
    if (!service) {
        logStatement(4, LogDest::trace(), MEM_ALLOC_FAILED, "KAVStatsService");
        logStatement(4, LogDest::platform(), MEM_ALLOC_FAILED, "KAVStatsService");
        return;
    }
    if (server.registerObj(service.get(), statsServiceNumber) != 0)
        return;
    service.release();
    if (int rc = server.doorCreate(KAV_STATS_DOOR, statsServiceNumber); rc != 0) {
        logStatement(4, LogDest::trace(), CREATE_DOOR_FAILED, KAV_STATS_DOOR, rc);
        logStatement(4, LogDest::platform(), CREATE_DOOR_FAILED, KAV_STATS_DOOR, rc);
    }
}
