#include "NullDoorPseudoMain.h"

#include <new>

#include "DoorApplication.h"
#include "NullDoorWorkArea.h"

Application* NullDoorPseudoMain::createApplicationObject()
{
    return new (std::nothrow) DoorApplication("NULL", 1, 1);
}

WorkArea* NullDoorPseudoMain::createWorkAreaObject()
{
    return new (std::nothrow) NullDoorWorkArea();
}
