// The daemon's door application, named "KAV".
#pragma once

#include "platform/framework/DoorApplication.h"

class KAVApp : public DoorApplication {
public:
    KAVApp();
    ~KAVApp() override = default;

    // The daemon has no options, so there is nothing to explain.
    void usage() override;
};
