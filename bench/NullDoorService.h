// A door service that answers every call at once with no reply data: the
// framework's own cost of a door call, against which the daemon is measured.
#pragma once

#include "platform/framework/DoorService.h"

class NullDoorService : public DoorService {
public:
    // Concurrent like the daemon's manager, so both run on the same threads.
    NullDoorService();

    void methodDispatch() override;
};
