#include "bench/NullDoorPseudoMain.h"

#include <new>

#include "platform/framework/DoorApplication.h"
#include "bench/NullDoorWorkArea.h"

Application* NullDoorPseudoMain::createApplicationObject()
{
    return new (std::nothrow) DoorApplication("NULL", 1, 1);
}

WorkArea* NullDoorPseudoMain::createWorkAreaObject()
{
    return new (std::nothrow) NullDoorWorkArea();
}
