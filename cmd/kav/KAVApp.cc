#include "cmd/kav/KAVApp.h"

KAVApp::KAVApp()
    : DoorApplication("KAV", 1, 1)
{
}

void KAVApp::usage()
{
}
