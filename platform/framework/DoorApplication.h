// An application whose event loop serves doors: handleEvents() serves
// until SIGTERM or SIGINT (or requestStop()), then shuts the door server
// down. The door hooks of both bases meet here, in the application's.
#pragma once

#include <string>

#include "platform/framework/Application.h"
#include "platform/framework/DoorServer.h"

class DoorApplication : public Application, public DoorServer {
public:
    // `version` and `flags` are the application's own; the framework only
    // keeps them.
    DoorApplication(const char* name, unsigned version, unsigned flags);
    ~DoorApplication() override;

    void handleEvents() override;
    void cleanup() override;
    void doorStart() override;
    void doorInvocation() override;

    const std::string& name() const { return m_name; }
    unsigned version() const { return m_version; }
    unsigned flags() const { return m_flags; }

private:
    std::string m_name;
    unsigned m_version;
    unsigned m_flags;
};
