#include "tests/e2e/DaemonSandbox.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <sstream>
#include <stdexcept>

using orv::framework::DoorClient;

namespace fs = std::filesystem;

namespace {

constexpr const char* configDir = "/etc/opt/KTRXORV/ORV/config";
constexpr const char* logDir = "/var/opt/KTRXORV/ORV/logs";
constexpr const char* doorDirInside = "/run/KTRXORV/doors";
constexpr const char* proxySocketInside = "/run/KTRXORV/qob-proxy";

// Outside the sandbox the tools must not see the tester's own settings, nor
// the daemon a service manager the tests may run under.
EnvChanges cleanEnv()
{
    return { { "ORV_DOOR_DIR", unsetVar }, { "ORV_LOG_DIR", unsetVar }, { "ORV_LOG_LEVEL", unsetVar },
        { "ORV_EVENTDB", unsetVar }, { "QOB_PROXY_SOCKET", unsetVar }, { "NOTIFY_SOCKET", unsetVar },
        { "WATCHDOG_USEC", unsetVar }, { "WATCHDOG_PID", unsetVar } };
}

// Stops a stand-in that the sandbox started, if it runs.
void stopHelper(pid_t& pid)
{
    if (pid > 0)
        stopProcess(pid, SIGTERM);
    pid = -1;
}

std::vector<std::string> fileLines(const std::string& path)
{
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

}

DaemonSandbox::DaemonSandbox()
{
    std::string pattern = (fs::temp_directory_path() / "kav-e2e-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("mkdtemp failed");
    m_root = pattern;
    for (const char* dir : { configDir, logDir, doorDirInside, "/tmp" })
        fs::create_directories(hostPath(dir));
    chmod(hostPath("/tmp").c_str(), 01777);
}

DaemonSandbox::~DaemonSandbox()
{
    if (m_kav > 0)
        stopProcess(m_kav, SIGKILL);
    stopSink();
    stopProxy();
    if (!getenv("KAV_E2E_KEEP"))
        fs::remove_all(m_root);
}

std::string DaemonSandbox::hostPath(const std::string& inside) const
{
    static const std::pair<const char*, const char*> mapping[]
        = { { "/etc/opt/", "/etc-opt/" }, { "/var/opt/", "/var-opt/" }, { "/run/", "/run/" }, { "/tmp/", "/tmp/" } };
    for (const auto& [from, to] : mapping) {
        std::string prefix = from;
        if (inside.rfind(prefix, 0) == 0)
            return m_root + to + inside.substr(prefix.size());
        if (inside + "/" == prefix)
            return m_root + std::string(to).substr(0, std::string(to).size() - 1);
    }
    return m_root + inside;
}

void DaemonSandbox::writeFile(const std::string& inside, const std::string& contents, int mode) const
{
    std::string path = hostPath(inside);
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc) << contents;
    chmod(path.c_str(), static_cast<mode_t>(mode));
}

std::string DaemonSandbox::readFile(const std::string& inside) const
{
    std::ifstream in(hostPath(inside), std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void DaemonSandbox::writeEventDB(const std::string& json) const
{
    writeFile(std::string(configDir) + "/eventdb.json", json);
}

std::string DaemonSandbox::buildPath(const std::string& relative)
{
    return std::string(KAV_BUILD_DIR) + "/" + relative;
}

std::string DaemonSandbox::doorDir() const
{
    return hostPath(doorDirInside);
}

bool DaemonSandbox::startKav(const std::string& logLevel, const EnvChanges& extra)
{
    EnvChanges env = cleanEnv();
    env["ORV_LOG_LEVEL"] = logLevel;
    for (const auto& [name, value] : extra)
        env[name] = value;
    m_logsInside = extra.count("KAV_SANDBOX_LOG_SIZE") != 0;
    m_kav
        = spawnProcess({ buildPath("tools/kav-sandbox/kav-sandbox"), m_root, KAV_BUILD_DIR, "/run/build/cmd/kav/kav" },
            env, m_root + "/kav.out");
    return waitForSocket(doorDir() + "/kav");
}

std::string DaemonSandbox::kavView(const std::string& inside) const
{
    return "/proc/" + std::to_string(m_kav) + "/root" + inside;
}

long DaemonSandbox::kavRssKiB() const
{
    for (const std::string& line : fileLines("/proc/" + std::to_string(m_kav) + "/status")) {
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    }
    return -1;
}

size_t DaemonSandbox::kavDescriptors() const
{
    std::error_code failed;
    fs::directory_iterator fds("/proc/" + std::to_string(m_kav) + "/fd", failed);
    return failed ? 0 : static_cast<size_t>(std::distance(fds, fs::directory_iterator()));
}

std::string DaemonSandbox::kavOutput() const
{
    std::ifstream in(m_root + "/kav.out", std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), {});
}

nlohmann::json DaemonSandbox::kavStats() const
{
    const ProcessResult result = orvEvent({ "stats" });
    return result.exitStatus == 0 ? nlohmann::json::parse(result.output, nullptr, false) : nlohmann::json();
}

DoorClient DaemonSandbox::kavClient() const
{
    setenv("ORV_DOOR_DIR", doorDir().c_str(), 1);
    return DoorClient(KAV_DOOR);
}

int DaemonSandbox::stopKav()
{
    int status = stopProcess(m_kav, SIGTERM);
    m_kav = -1;
    return status;
}

bool DaemonSandbox::startSink(const std::vector<std::string>& extraArgs)
{
    EnvChanges env = cleanEnv();
    env["ORV_DOOR_DIR"] = doorDir();
    env["ORV_LOG_DIR"] = m_root + "/sink-logs";
    std::vector<std::string> argv { buildPath("tools/orv-teo-sink/orv-teo-sink"), "--out", m_root + "/frames.jsonl" };
    argv.insert(argv.end(), extraArgs.begin(), extraArgs.end());
    m_sink = spawnProcess(argv, env, m_root + "/sink.out");
    return waitForSocket(doorDir() + "/teo");
}

void DaemonSandbox::stopSink()
{
    stopHelper(m_sink);
}

std::vector<std::string> DaemonSandbox::frames() const
{
    return fileLines(m_root + "/frames.jsonl");
}

bool DaemonSandbox::startProxy(const std::vector<std::string>& extraArgs)
{
    std::string socket = hostPath(proxySocketInside);
    std::vector<std::string> argv { buildPath("tools/orv-qob-proxy/orv-qob-proxy"), "--socket", socket, "--out",
        m_root + "/proxy.jsonl" };
    argv.insert(argv.end(), extraArgs.begin(), extraArgs.end());
    m_proxy = spawnProcess(argv, cleanEnv(), m_root + "/proxy.out");
    return waitForSocket(socket);
}

void DaemonSandbox::stopProxy()
{
    stopHelper(m_proxy);
}

std::vector<std::string> DaemonSandbox::proxyLines() const
{
    return fileLines(m_root + "/proxy.jsonl");
}

ProcessResult DaemonSandbox::orvEvent(const std::vector<std::string>& args) const
{
    EnvChanges env = cleanEnv();
    env["ORV_DOOR_DIR"] = doorDir();
    std::vector<std::string> argv { buildPath("tools/orv-event/orv-event") };
    argv.insert(argv.end(), args.begin(), args.end());
    return runProcess(argv, env);
}

ProcessResult DaemonSandbox::orvEventInside(const std::vector<std::string>& args, const EnvChanges& extra) const
{
    std::vector<std::string> argv { buildPath("tools/kav-sandbox/kav-sandbox"), m_root, KAV_BUILD_DIR,
        "/run/build/tools/orv-event/orv-event" };
    argv.insert(argv.end(), args.begin(), args.end());
    EnvChanges env = cleanEnv();
    for (const auto& [name, value] : extra)
        env[name] = value;
    return runProcess(argv, env);
}

ProcessResult DaemonSandbox::post(const std::string& eventJson, const std::string& command) const
{
    std::string file = m_root + "/event-" + std::to_string(++m_posted) + ".json";
    std::ofstream(file) << eventJson;
    return orvEvent({ command, file });
}

std::string DaemonSandbox::logPath(const std::string& name) const
{
    const std::string inside = std::string(logDir) + "/" + name + ".log";
    return m_logsInside ? kavView(inside) : hostPath(inside);
}

std::vector<std::string> DaemonSandbox::rawLog(const std::string& name) const
{
    return fileLines(logPath(name));
}

std::vector<LogEntry> DaemonSandbox::log(const std::string& name) const
{
    static const std::regex shape(R"(^\S+ \S+\[\d+\] L(\d+) \S+:\d+ (.*)$)");
    std::ifstream in(logPath(name));
    std::vector<LogEntry> entries;
    for (std::string line; std::getline(in, line);) {
        std::smatch match;
        if (std::regex_match(line, match, shape))
            entries.push_back({ std::stoi(match[1]), match[2] });
        else
            entries.push_back({ -1, line });
    }
    return entries;
}

std::vector<std::string> DaemonSandbox::logTexts(const std::string& name) const
{
    std::vector<std::string> texts;
    for (const auto& entry : log(name))
        texts.push_back(entry.text);
    return texts;
}

size_t countContaining(const std::vector<std::string>& lines, const std::string& text)
{
    return static_cast<size_t>(
        std::count_if(lines.begin(), lines.end(), [&](const std::string& l) { return l.find(text) != l.npos; }));
}
