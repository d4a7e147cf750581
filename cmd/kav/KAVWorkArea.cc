#include "KAVWorkArea.h"

#include <cstdlib>
#include <new>

#include "DoorApplication.h"
#include "DoorPath.h"
#include "KAVManager.h"
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

    // From here on the door server owns the manager.
    if (int rc = server->registerObj(manager, 0); rc != 0)
        return rc;

    int rc = server->doorCreate(KAV_DOOR, 0);
    if (rc != 0) {
        logStatement(4, LogDest::trace(), CREATE_DOOR_FAILED, KAV_DOOR, rc);
        logStatement(4, LogDest::platform(), CREATE_DOOR_FAILED, KAV_DOOR, rc);
    }
    return rc;
}
