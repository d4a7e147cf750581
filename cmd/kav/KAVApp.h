// The daemon's door application, named "KAV". Under systemd it says when it
// stops and when it reloads (KAVNotifier).
#pragma once

#include "platform/framework/DoorApplication.h"

class KAVApp : public DoorApplication {
public:
    KAVApp();
    ~KAVApp() override = default;

    // The daemon has no options, so there is nothing to explain.
    void usage() override;
    void terminateApplication() override;
    void handleSIGHUP() override;
};
