#include "platform/framework/DoorApplication.h"

DoorApplication::DoorApplication(const char* name, unsigned version, unsigned flags)
    : m_name(name != nullptr ? name : "")
    , m_version(version)
    , m_flags(flags)
{
}

// The door threads call the hooks; they must be gone before this object is.
DoorApplication::~DoorApplication()
{
    shutDown();
}

void DoorApplication::handleEvents()
{
    startServing();
    Application::handleEvents();
    shutDown();
}

void DoorApplication::cleanup()
{
    shutDown();
    Application::cleanup();
}

void DoorApplication::doorStart()
{
    Application::doorStart();
}

void DoorApplication::doorInvocation()
{
    Application::doorInvocation();
}
