// Registers the null service and opens its door, the way the daemon's own
// work area does for the manager.
#pragma once

#include "platform/framework/WorkArea.h"

class NullDoorWorkArea : public WorkArea {
public:
    // The door the null server answers on, in the usual door folder.
    static constexpr const char* DOOR_NAME = "kav-null";

    NullDoorWorkArea();

    int createWorkArea() override;
};
