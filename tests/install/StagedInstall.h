// An installation made with `cmake --install` into a staging folder of a
// daemon sandbox, and the installed programs run from it: inside the sandbox
// the staged /opt takes the place of the real one (KAV_SANDBOX_OPT), so the
// daemon runs from its real prefix with nothing from the build tree.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "tests/e2e/DaemonSandbox.h"
#include "tests/support/Process.h"

class StagedInstall {
public:
    static constexpr const char* prefix = "/opt/KTRXORV";
    static constexpr const char* configDir = "/etc/opt/KTRXORV/ORV/config";

    explicit StagedInstall(const DaemonSandbox& box);
    ~StagedInstall();

    StagedInstall(const StagedInstall&) = delete;
    StagedInstall& operator=(const StagedInstall&) = delete;

    // `cmake --install` of the build tree with DESTDIR set to the stage.
    ProcessResult install() const;
    // Host path of an installed file ("/opt/KTRXORV/bin/kav" → "<stage>/opt/...").
    std::string staged(const std::string& installed) const;
    // The same file as seen from inside the sandbox.
    static std::string stagedInside(const std::string& installed);
    // Puts the installed configuration where the sandboxed daemon reads it.
    void useInstalledConfiguration() const;

    // Starts the installed daemon (without LD_LIBRARY_PATH) and waits for its door.
    bool startDaemon(const std::string& logLevel = "2");
    int stopDaemon();
    pid_t daemonPid() const { return m_daemon; }

    // The installed orv-event, against the sandbox's door.
    ProcessResult orvEvent(const std::vector<std::string>& args) const;
    // Runs `argv` inside the sandbox, with the staged /opt.
    ProcessResult inSandbox(const std::vector<std::string>& argv) const;

private:
    EnvChanges sandboxEnv() const;
    std::vector<std::string> sandboxed(const std::vector<std::string>& argv) const;

    const DaemonSandbox& m_box;
    std::string m_stage;
    pid_t m_daemon = -1;
};
