// The installation as an administrator gets it: `cmake --install` into a
// staging folder, the installed daemon run from its real prefix in the
// sandbox with the installed configuration, and the installed unit, log
// rotation snippet and manual pages checked with the system's own tools.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "tests/e2e/DaemonSandbox.h"
#include "tests/install/StagedInstall.h"
#include "tests/support/TempDir.h"

namespace fs = std::filesystem;

namespace {

const std::string config = StagedInstall::configDir;
const std::string logDir = "/var/opt/KTRXORV/ORV/logs";
const std::string spoolDir = "/var/opt/KTRXORV/ORV/mail-spool";
const std::string sampleEvent = std::string(StagedInstall::prefix) + "/share/kav/examples/01-cpu-ecache.json";
const std::string eventMessage = "CPU_ECACHE_FAULT: Processor E-cache fault fault.cpu.ecache: code X12 on AC.";

bool eventually(const std::function<bool()>& done, int seconds = 10)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

std::vector<std::string> spooledMails(const DaemonSandbox& box)
{
    std::vector<std::string> mails;
    std::error_code missing;
    for (const auto& entry : fs::directory_iterator(box.hostPath(spoolDir), missing)) {
        if (entry.path().filename().string().rfind("mail-", 0) == 0)
            mails.push_back(TempDir::read(entry.path().string()));
    }
    return mails;
}

class InstallTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(m_stage.install().exitStatus, 0); }

    // The installed daemon on the installed configuration.
    void startInstalled(const std::string& logLevel = "2")
    {
        m_stage.useInstalledConfiguration();
        ASSERT_TRUE(m_stage.startDaemon(logLevel)) << TempDir::read(m_box.root() + "/kav.out");
    }

    void postSample(const std::string& command = "post")
    {
        ProcessResult posted = m_stage.orvEvent({ command, m_stage.staged(sampleEvent) });
        ASSERT_EQ(posted.exitStatus, 0) << posted.output;
    }

    // Lines of the sample event's message in one file of the log folder.
    size_t messagesIn(const std::string& file) const { return linesWith(file, eventMessage); }

    size_t linesWith(const std::string& file, const std::string& text) const
    {
        std::ifstream in(m_box.hostPath(logDir + "/" + file));
        size_t count = 0;
        for (std::string line; std::getline(in, line);)
            count += line.find(text) != std::string::npos;
        return count;
    }

    DaemonSandbox m_box;
    StagedInstall m_stage { m_box };
};

}

// A new administrator's first steps with the package: the shipped
// configuration checks clean, the sample event's route names the shipped
// email line, and the counters show the sample once it is reported.
TEST_F(InstallTest, OperatorCommandsWorkFromTheInstalledPackage)
{
    startInstalled();
    const std::string orvEvent = std::string(StagedInstall::prefix) + "/bin/orv-event";

    ProcessResult checked = m_stage.inSandbox({ orvEvent, "check-config" });
    EXPECT_EQ(checked.exitStatus, 0) << checked.output;
    EXPECT_EQ(checked.output, "");

    ProcessResult routed = m_stage.inSandbox({ orvEvent, "route", "--json", sampleEvent });
    ASSERT_EQ(routed.exitStatus, 0) << routed.output;
    EXPECT_NE(routed.output.find("hw-team@example.com"), std::string::npos) << routed.output;
    EXPECT_EQ(messagesIn("platform.log"), 0u);

    postSample();
    ProcessResult stats = m_stage.orvEvent({ "stats" });
    ASSERT_EQ(stats.exitStatus, 0) << stats.output;
    EXPECT_NE(stats.output.find(R"("eventsReceived": 1,)"), std::string::npos) << stats.output;
    ProcessResult metrics = m_stage.orvEvent({ "stats", "--prometheus" });
    ASSERT_EQ(metrics.exitStatus, 0) << metrics.output;
    EXPECT_NE(metrics.output.find("kav_events_received_total 1\n"), std::string::npos) << metrics.output;
}

TEST_F(InstallTest, KeepsAnAdministratorsConfiguration)
{
    std::string controlFile = m_stage.staged(config + "/event_email.cf");
    std::string shipped = TempDir::read(controlFile);
    std::ofstream(controlFile, std::ios::trunc) << "# edited by the administrator\n";
    fs::remove(m_stage.staged(config + "/templates/short.tpl"));

    ProcessResult again = m_stage.install();
    ASSERT_EQ(again.exitStatus, 0) << again.output;

    EXPECT_EQ(TempDir::read(controlFile), "# edited by the administrator\n");
    EXPECT_EQ(TempDir::read(controlFile + ".new"), shipped);
    // A file the administrator removed comes back; untouched ones get no copy.
    EXPECT_TRUE(fs::exists(m_stage.staged(config + "/templates/short.tpl")));
    EXPECT_FALSE(fs::exists(m_stage.staged(config + "/templates/short.tpl.new")));
    EXPECT_FALSE(fs::exists(m_stage.staged(config + "/eventdb.json.new")));
    EXPECT_FALSE(fs::exists(m_stage.staged("/etc/logrotate.d/kav.new")));
}

// Every channel of the sample event with only installed files: the daemon
// finds the client library through its own RUNPATH, the email goes out
// through the installed spool script.
TEST_F(InstallTest, InstalledDaemonReportsThroughEveryChannel)
{
    ASSERT_TRUE(m_box.startSink());
    ASSERT_TRUE(m_box.startProxy());
    startInstalled();

    postSample();
    EXPECT_EQ(messagesIn("platform.log"), 1u);
    EXPECT_EQ(messagesIn("domain-A.log"), 1u);
    EXPECT_EQ(messagesIn("domain-C.log"), 1u);
    EXPECT_EQ(messagesIn("domain-B.log"), 0u);

    ASSERT_TRUE(eventually([&] { return m_box.frames().size() == 1; }));
    std::vector<std::string> frames = m_box.frames();
    EXPECT_NE(frames[0].find(R"("text":"fault.cpu.ecache:X12:0123")"), std::string::npos) << frames[0];

    ASSERT_TRUE(eventually([&] { return countContaining(m_box.proxyLines(), R"("type":"ALARM")") == 1; }));
    EXPECT_EQ(countContaining(m_box.proxyLines(), R"("app":"orv-kav")"), 1u);
    std::string maps = TempDir::read("/proc/" + std::to_string(m_stage.daemonPid()) + "/maps");
    EXPECT_NE(maps.find(std::string(StagedInstall::prefix) + "/lib/libqobimapi.so.1"), std::string::npos);

    std::vector<std::string> mails = spooledMails(m_box);
    ASSERT_EQ(mails.size(), 1u);
    EXPECT_EQ(mails[0].rfind("X-Envelope-To: hw-team@example.com\n", 0), 0u) << mails[0];
    EXPECT_NE(mails[0].find("Subject: fault.cpu.ecache on M15 0123"), std::string::npos) << mails[0];
    EXPECT_NE(mails[0].find("Content-MD5: "), std::string::npos);

    // The test email of the newcomer's first check goes the same way.
    postSample("test-email");
    EXPECT_EQ(spooledMails(m_box).size(), 2u);
    EXPECT_EQ(messagesIn("platform.log"), 1u);
    EXPECT_EQ(m_stage.stopDaemon(), 0);
}

TEST_F(InstallTest, HangupAfterRenamingTheLogsStartsFreshOnes)
{
    startInstalled();
    postSample();
    for (const char* name : { "platform", "trace" })
        fs::rename(m_box.hostPath(logDir + "/" + name + ".log"), m_box.hostPath(logDir + "/" + name + ".log.1"));

    ASSERT_EQ(kill(m_stage.daemonPid(), SIGHUP), 0);
    // The daemon notes the signal as it lets go of the old files: the line
    // goes to the old file or, at a turn of the second, to the new one.
    ASSERT_TRUE(eventually(
        [&] { return linesWith("trace.log.1", "SIGHUP received") + linesWith("trace.log", "SIGHUP received") == 1; }));
    postSample();

    EXPECT_EQ(messagesIn("platform.log"), 1u);
    EXPECT_EQ(messagesIn("platform.log.1"), 1u);
    EXPECT_EQ(linesWith("trace.log", "EVENT-CLASS: fault.cpu.ecache; received"), 1u);
}

// The snippet as logrotate reads it, then a forced rotation under the
// running daemon: the next event goes to a fresh file.
TEST_F(InstallTest, LogrotateSnippetRotatesTheLogs)
{
    if (std::string(LOGROTATE).empty())
        GTEST_SKIP() << "logrotate is not installed";
    std::string snippet = m_stage.staged("/etc/logrotate.d/kav");
    ProcessResult check = runProcess({ LOGROTATE, "-d", "-s", m_box.root() + "/check.state", snippet });
    EXPECT_EQ(check.exitStatus, 0) << check.output;
    EXPECT_EQ(check.output.find("error"), std::string::npos) << check.output;

    startInstalled();
    postSample();
    ProcessResult rotated = m_stage.inSandbox(
        { LOGROTATE, "-f", "-s", "/run/sandbox/rotate.state", StagedInstall::stagedInside("/etc/logrotate.d/kav") });
    ASSERT_EQ(rotated.exitStatus, 0) << rotated.output;
    EXPECT_EQ(messagesIn("platform.log.1"), 1u);
    // Outside systemd nothing signals the daemon: it notices within a second.
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    postSample();
    EXPECT_EQ(messagesIn("platform.log"), 1u);
    EXPECT_EQ(messagesIn("platform.log.1"), 1u);
}

TEST_F(InstallTest, UnitPassesSystemdVerification)
{
    if (std::string(SYSTEMD_ANALYZE).empty())
        GTEST_SKIP() << "systemd-analyze is not installed";
    // In the sandbox the unit's ExecStart exists: the staged /opt is in place.
    // Unknown keys and bad values are only warnings: any output fails.
    ProcessResult verified = m_stage.inSandbox(
        { SYSTEMD_ANALYZE, "verify", "--man=no", StagedInstall::stagedInside("/lib/systemd/system/kav.service") });
    EXPECT_EQ(verified.exitStatus, 0) << verified.output;
    EXPECT_EQ(verified.output, "");
}

TEST_F(InstallTest, ManualPagesFormatWithoutWarnings)
{
    if (std::string(MAN).empty())
        GTEST_SKIP() << "man is not installed";
    for (const char* page : { "/usr/share/man/man8/kav.8.gz", "/usr/share/man/man1/orv-event.1.gz",
             "/usr/share/man/man5/event_email.cf.5.gz" }) {
        ASSERT_TRUE(fs::exists(m_stage.staged(page))) << page;
        // Only the warnings: the formatted page itself is thrown away.
        ProcessResult formatted = runProcess(
            { "/bin/sh", "-c", "\"$0\" --warnings=w -l \"$1\" 2>&1 >/dev/null", MAN, m_stage.staged(page) });
        EXPECT_EQ(formatted.exitStatus, 0) << page;
        EXPECT_EQ(formatted.output, "") << page;
    }
}
