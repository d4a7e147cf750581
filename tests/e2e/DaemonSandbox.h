// A private sandbox for one end-to-end test: the real daemon runs in it with
// its fixed paths (see tools/kav-sandbox), and the test reaches its files,
// doors and logs from outside through the sandbox root.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/framework/DoorClient.h"
#include "tests/support/Process.h"

// The daemon's configuration folder and mail spool, as seen in the sandbox.
inline const std::string sandboxConfigDir = "/etc/opt/KTRXORV/ORV/config/";
inline const std::string sandboxSpoolDir = "/var/opt/KTRXORV/ORV/mail-spool";
// The daemon's environment for remote reporting: the client library from the
// build tree and the proxy stand-in's socket.
inline const EnvChanges withClientLibrary
    = { { "LD_LIBRARY_PATH", "/run/build/platform/qob" }, { "QOB_PROXY_SOCKET", "/run/KTRXORV/qob-proxy" } };

// Built with a sanitizer, whose allocator holds freed memory back on
// purpose: memory checks of the daemon mean nothing then.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
inline constexpr bool sanitized = true;
#else
inline constexpr bool sanitized = false;
#endif

struct LogEntry {
    int level = -1;
    std::string text; // everything after "<file>:<line> "
};

class DaemonSandbox {
public:
    DaemonSandbox();
    ~DaemonSandbox();

    DaemonSandbox(const DaemonSandbox&) = delete;
    DaemonSandbox& operator=(const DaemonSandbox&) = delete;

    const std::string& root() const { return m_root; }
    // Host path of a path inside the sandbox ("/etc/opt/..." → "<root>/etc-opt/...").
    std::string hostPath(const std::string& inside) const;
    void writeFile(const std::string& inside, const std::string& contents, int mode = 0644) const;
    std::string readFile(const std::string& inside) const;

    void writeEventDB(const std::string& json) const;

    // Starts the daemon (ORV_LOG_LEVEL as given) and waits for its door.
    // With KAV_SANDBOX_LOG_SIZE among `extra`, the logs are read from the
    // daemon's own small file system (while it runs).
    bool startKav(const std::string& logLevel = "0", const EnvChanges& extra = {});
    // SIGTERM; the daemon's exit status.
    int stopKav();
    pid_t kavPid() const { return m_kav; }
    // A path as the running daemon sees it, reached through its /proc root:
    // the only way to a tmpfs mounted inside the sandbox.
    std::string kavView(const std::string& inside) const;
    // The daemon's resident set size in KiB, or -1.
    long kavRssKiB() const;
    // How many descriptors the daemon holds open.
    size_t kavDescriptors() const;
    // What the daemon wrote to its standard output and error.
    std::string kavOutput() const;
    // The daemon's counters, as orv-event stats gives them.
    nlohmann::json kavStats() const;
    // A client of the daemon's door, for calls from this process. Sets
    // ORV_DOOR_DIR in this process: make clients before starting threads.
    orv::framework::DoorClient kavClient() const;

    // The front-end stand-in, outside the sandbox but on its door folder.
    bool startSink(const std::vector<std::string>& extraArgs = {});
    void stopSink();
    std::vector<std::string> frames() const;

    // The remote-services proxy stand-in, listening on the sandbox's proxy socket.
    bool startProxy(const std::vector<std::string>& extraArgs = {});
    void stopProxy();
    pid_t proxyPid() const { return m_proxy; }
    std::vector<std::string> proxyLines() const; // its call records so far

    // orv-event with the given arguments, against the sandbox's door.
    ProcessResult orvEvent(const std::vector<std::string>& args) const;
    // orv-event run inside the sandbox, so it finds the daemon's fixed paths;
    // the sandbox root is /run/sandbox there.
    ProcessResult orvEventInside(const std::vector<std::string>& args, const EnvChanges& extra = {}) const;
    // Writes `eventJson` to a file and posts it with `command` (post, test-email).
    ProcessResult post(const std::string& eventJson, const std::string& command = "post") const;

    std::vector<LogEntry> log(const std::string& name) const; // "trace", "platform", "domain-A"
    std::string logPath(const std::string& name) const; // where the test reads that log
    std::vector<std::string> rawLog(const std::string& name) const; // its lines as they are
    std::vector<std::string> logTexts(const std::string& name) const;

    std::string doorDir() const;
    static std::string buildPath(const std::string& relative);

private:
    std::string m_root;
    pid_t m_kav = -1;
    pid_t m_sink = -1;
    pid_t m_proxy = -1;
    mutable int m_posted = 0;
    bool m_logsInside = false;
};

// How many of `lines` contain `text`.
size_t countContaining(const std::vector<std::string>& lines, const std::string& text);

// Waits for what the daemon does in the background (with a journal); the
// bound is only there so that a fault fails the test instead of hanging it.
template <typename Condition> bool eventuallyTrue(Condition condition)
{
    const auto bound = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > bound)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}
