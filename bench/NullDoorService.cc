#include "bench/NullDoorService.h"

NullDoorService::NullDoorService()
    : DoorService(true)
{
}

void NullDoorService::methodDispatch()
{
    doorReturn();
}
