#include "cmd/kav/KAVApp.h"

#include "cmd/kav/KAVNotifier.h"

KAVApp::KAVApp()
    : DoorApplication("KAV", 1, 1)
{
}

void KAVApp::usage()
{
}

void KAVApp::terminateApplication()
{
    KAVNotifier::stopping();
    DoorApplication::terminateApplication();
}

void KAVApp::handleSIGHUP()
{
    KAVNotifier::reloading();
    DoorApplication::handleSIGHUP();
    KAVNotifier::reloaded();
}
