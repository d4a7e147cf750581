#include "bench/NullDoorWorkArea.h"

#include <memory>
#include <new>

#include "platform/framework/Application.h"
#include "platform/framework/DoorServer.h"
#include "bench/NullDoorService.h"

NullDoorWorkArea::NullDoorWorkArea()
    : WorkArea("NullDoorWorkArea")
{
}

int NullDoorWorkArea::createWorkArea()
{
    auto* server = dynamic_cast<DoorServer*>(theApplication);
    if (!server)
        return -1;
    std::unique_ptr<NullDoorService> service(new (std::nothrow) NullDoorService());
    if (!service)
        return -1;
    if (int rc = server->registerObj(service.get(), 0); rc != 0)
        return rc;
    service.release(); // the server owns it now
    return server->doorCreate(DOOR_NAME, 0);
}
