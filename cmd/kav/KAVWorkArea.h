// The daemon's work area: creates the dispatch manager and the daemon's door.
#pragma once

#include "WorkArea.h"

class KAVWorkArea : public WorkArea {
public:
    KAVWorkArea();
    ~KAVWorkArea() override = default;

    int createWorkArea() override;
};
