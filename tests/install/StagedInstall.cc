#include "tests/install/StagedInstall.h"

#include <signal.h>

#include <filesystem>

namespace fs = std::filesystem;

StagedInstall::StagedInstall(const DaemonSandbox& box)
    : m_box(box)
    , m_stage(box.root() + "/stage")
{
}

StagedInstall::~StagedInstall()
{
    if (m_daemon > 0)
        stopProcess(m_daemon, SIGKILL);
}

ProcessResult StagedInstall::install() const
{
    return runProcess({ CMAKE_COMMAND, "--install", KAV_BUILD_DIR, "--prefix", prefix }, { { "DESTDIR", m_stage } });
}

std::string StagedInstall::staged(const std::string& installed) const
{
    return m_stage + installed;
}

std::string StagedInstall::stagedInside(const std::string& installed)
{
    return "/run/sandbox/stage" + installed;
}

void StagedInstall::useInstalledConfiguration() const
{
    fs::copy(staged("/etc/opt"), m_box.hostPath("/etc/opt"),
        fs::copy_options::recursive | fs::copy_options::overwrite_existing);
}

// The tester's own settings must not reach the installed programs.
EnvChanges StagedInstall::sandboxEnv() const
{
    return { { "KAV_SANDBOX_OPT", staged("/opt") }, { "LD_LIBRARY_PATH", unsetVar }, { "ORV_DOOR_DIR", unsetVar },
        { "ORV_LOG_DIR", unsetVar }, { "ORV_EVENTDB", unsetVar }, { "QOB_PROXY_SOCKET", unsetVar },
        { "ORV_MAIL_SPOOL", unsetVar } };
}

std::vector<std::string> StagedInstall::sandboxed(const std::vector<std::string>& argv) const
{
    std::vector<std::string> full { DaemonSandbox::buildPath("tools/kav-sandbox/kav-sandbox"), m_box.root(),
        KAV_BUILD_DIR };
    full.insert(full.end(), argv.begin(), argv.end());
    return full;
}

bool StagedInstall::startDaemon(const std::string& logLevel)
{
    EnvChanges env = sandboxEnv();
    env["ORV_LOG_LEVEL"] = logLevel;
    // The sanitizers' runtime intercepts dlopen, so the search path is its
    // own and not the daemon's RUNPATH: name the installed folder instead.
    if (sanitized)
        env["LD_LIBRARY_PATH"] = std::string(prefix) + "/lib";
    m_daemon = spawnProcess(sandboxed({ std::string(prefix) + "/bin/kav" }), env, m_box.root() + "/kav.out");
    return waitForSocket(m_box.doorDir() + "/kav");
}

int StagedInstall::stopDaemon()
{
    int status = stopProcess(m_daemon, SIGTERM);
    m_daemon = -1;
    return status;
}

ProcessResult StagedInstall::orvEvent(const std::vector<std::string>& args) const
{
    std::vector<std::string> argv { staged(std::string(prefix) + "/bin/orv-event") };
    argv.insert(argv.end(), args.begin(), args.end());
    return runProcess(argv, { { "ORV_DOOR_DIR", m_box.doorDir() } });
}

ProcessResult StagedInstall::inSandbox(const std::vector<std::string>& argv) const
{
    return runProcess(sandboxed(argv), sandboxEnv());
}
