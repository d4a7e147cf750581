#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <thread>
#include <chrono>
#include <signal.h>

#include "cmd/kav/email/EditTemplate.h"
#include "cmd/kav/email/EmailReportingService.h"
#include "platform/io/FileOpen.h"
#include "platform/log/LogStatement.h"
#include "tests/email/LogCapture.h"
#include "tests/support/TempDir.h"

using orv::io::FdGuard;

namespace {

// A script in `dir` with the given shell body; returns its path.
std::string script(const TempDir& dir, const std::string& name, const std::string& body)
{
    std::string path = dir.write(name, "#!/bin/sh\n" + body);
    std::filesystem::permissions(path, std::filesystem::perms::owner_all);
    return path;
}

bool gone(pid_t pid)
{
    for (int i = 0; i < 50; ++i) {
        std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
        std::string pidText, name, state;
        if (!(stat >> pidText >> name >> state) || state == "Z")
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

bool has(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

}

TEST(MailSubmission, PathsAndIdentifiers)
{
    EmailReportingService service;
    EXPECT_EQ(service.getTemplatePath(""), "/etc/opt/KTRXORV/ORV/config/templates/");
    EXPECT_EQ(service.getScriptPath("a b"), "/etc/opt/KTRXORV/ORV/config/scripts/a b");
    EXPECT_EQ(service.getTmpPath("AVLMIME1"), "/tmp/AVLMIME1");
    EXPECT_EQ(service.getECFPath(), "/etc/opt/KTRXORV/ORV/config/event_email.cf");
    EXPECT_EQ(EmailReportingService::genID(1700000000), "000000");
    EXPECT_EQ(EmailReportingService::genID(1234567), "234567");
    EXPECT_EQ(EmailReportingService::genID(-1), "999999");
    EXPECT_EQ(service.genID().size(), 6u);

    // Names drawn by many threads at once never repeat.
    std::vector<std::vector<std::string>> drawn(4);
    std::vector<std::thread> threads;
    for (auto& names : drawn) {
        threads.emplace_back([&names] {
            for (int i = 0; i < 500; ++i)
                names.push_back(EmailReportingService::scratchSuffix());
        });
    }
    for (auto& thread : threads)
        thread.join();
    std::set<std::string> distinct;
    for (const auto& names : drawn)
        distinct.insert(names.begin(), names.end());
    EXPECT_EQ(distinct.size(), 2000u);
    EXPECT_EQ(distinct.begin()->front(), '-');
}

TEST(MailSubmission, ScratchFilesNeverReuseAName)
{
    TempDir dir;
    const std::string target = dir.write("target", "precious");
    std::filesystem::create_symlink(target, dir.path("link"));
    std::filesystem::create_symlink(dir.path("nowhere"), dir.path("dangling"));
    for (const char* name : { "target", "link", "dangling" })
        EXPECT_FALSE(EmailReportingService::createScratchFile(dir.path(name)).valid()) << name;
    EXPECT_EQ(TempDir::read(target), "precious");
    EXPECT_FALSE(std::filesystem::exists(dir.path("nowhere")));

    FdGuard fresh = EmailReportingService::createScratchFile(dir.path("fresh"));
    ASSERT_TRUE(fresh.valid());
    struct stat info { };
    ASSERT_EQ(fstat(fresh.get(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0400u);

    // Only a plain file of this user is taken as the edited template.
    std::string content = "none";
    EXPECT_TRUE(orv::io::readScratchFile(dir.write("own", "text"), content));
    EXPECT_EQ(content, "text");
    ASSERT_EQ(mkfifo(dir.path("fifo").c_str(), 0600), 0);
    for (const char* name : { "link", "fifo", "absent" })
        EXPECT_FALSE(orv::io::readScratchFile(dir.path(name), content)) << name;
    if (geteuid() == 0) {
        ASSERT_EQ(chown(dir.path("own").c_str(), 65534, 65534), 0);
        EXPECT_FALSE(orv::io::readScratchFile(dir.path("own"), content));
    }

    // The edited template goes to the same directory under the same rule.
    EditTemplate editor;
    editor.processTags({}, {}, dir.write("tpl", "body\n"), dir.path("link"));
    EXPECT_EQ(TempDir::read(target), "precious");
    EXPECT_EQ(editor.writeLines(dir.path("target")), -1);
}

TEST(MailSubmission, CommandLineKeepsArgumentsWhole)
{
    TempDir dir;
    const std::string out = dir.path("args");
    const std::string echo = script(dir, "echo it", "printf '%s|' \"$#\" \"$@\" > '" + out + "'\n");
    const std::string hostile = "x;touch " + dir.path("owned") + ";$(id)`id`'\"*";
    EmailReportingService service;
    EXPECT_EQ(service.execSendmail(echo, "/tmp/M 1", hostile), 0);
    EXPECT_EQ(TempDir::read(out), "2|/tmp/M 1|" + hostile + "|");
    EXPECT_FALSE(std::filesystem::exists(dir.path("owned")));

    // Without a "#!" line the shell still reads it.
    const std::string bare = dir.write("bare", "printf '%s|' \"$#\" \"$@\" > '" + out + "'\nexit 4\n");
    std::filesystem::permissions(bare, std::filesystem::perms::owner_all);
    LogCapture log;
    EXPECT_EQ(service.execSendmail(bare, "M", "r"), -1);
    EXPECT_EQ(TempDir::read(out), "2|M|r|");
    EXPECT_TRUE(has(log.trace(), "command exited with status <4>"));
}

TEST(MailSubmission, HangingScriptIsStoppedWithWhatItStarted)
{
    TempDir dir;
    // Starts a child that ignores SIGTERM, then hangs itself ignoring it too.
    const std::string pids = dir.path("pids");
    const std::string hang = script(dir, "hang",
        "trap '' TERM\n(trap '' TERM; echo $$ > /dev/null; exec sleep 60) &\necho $! > '" + pids
            + "'\nwhile :; do sleep 1; done\n");
    ASSERT_EQ(setenv("ORV_MAIL_SCRIPT_TIMEOUT", "1", 1), 0);
    EmailReportingService service;
    LogCapture log;
    const auto began = std::chrono::steady_clock::now();
    EXPECT_EQ(service.execSendmail(hang, "M", "r"), -1);
    const auto took = std::chrono::steady_clock::now() - began;
    unsetenv("ORV_MAIL_SCRIPT_TIMEOUT");
    EXPECT_GE(took, std::chrono::seconds(3)) << "SIGKILL comes 2 s after SIGTERM";
    EXPECT_LT(took, std::chrono::seconds(10));
    EXPECT_TRUE(has(log.trace(), "command still running after 1 seconds, stopped"));
    EXPECT_TRUE(has(log.trace(), "EmailReportingService::execSendmail command got signal <9>"));
    // Gone, or a zombie its new parent has not reaped yet; never still sleeping.
    const std::string child = TempDir::read(pids);
    EXPECT_TRUE(gone(std::stoi(child))) << child;

    EXPECT_EQ(EmailReportingService::scriptTimeout(), 120);
    for (const char* bad : { "0", "-5", "12x", "" }) {
        setenv("ORV_MAIL_SCRIPT_TIMEOUT", bad, 1);
        EXPECT_EQ(EmailReportingService::scriptTimeout(), 120) << bad;
    }
    unsetenv("ORV_MAIL_SCRIPT_TIMEOUT");
}

TEST(MailSubmission, WaitStatusOutcomes)
{
    EmailReportingService service;
    LogCapture log;
    EXPECT_EQ(service.sendmailResult(0, 11), 0);
    EXPECT_EQ(service.sendmailResult(3 << 8, 0), -1);
    EXPECT_TRUE(has(log.trace(), "EmailReportingService::execSendmail command exited with status <3>"));
    EXPECT_TRUE(has(log.platform(), "Mail submission failed: command exited with status 3."));

    EXPECT_EQ(service.sendmailResult(9, 0), -1);
    EXPECT_TRUE(has(log.trace(), "EmailReportingService::execSendmail command got signal <9>"));
    EXPECT_TRUE(has(log.trace(), "Mail submission failed: command got signal 9."));
    EXPECT_FALSE(has(log.platform(), "signal"));

    EXPECT_EQ(service.sendmailResult(-1, 11), -1);
    EXPECT_TRUE(has(log.trace(), "EmailReportingService::execSendmail system_safe called errno <11>"));
    EXPECT_TRUE(has(log.platform(), "Mail submission failed: system_safe failed errno 11."));

    LogCapture stopped;
    EXPECT_EQ(service.sendmailResult(0x137f, 0), -1);
    EXPECT_EQ(stopped.trace() + stopped.platform(), "");
}

TEST(MailSubmission, TemplateIsCheckedBeforeScript)
{
    TempDir dir;
    EmailReportingService service;
    const std::string tpl = dir.write("tpl", "x\n");
    const std::string sh = dir.write("sh", "");
    EXPECT_EQ(service.verifyFilesExist(tpl, sh), 0);

    LogCapture both;
    EXPECT_EQ(service.verifyFilesExist(dir.path("no-tpl"), dir.path("no-sh")), -1);
    EXPECT_TRUE(has(both.trace(), "can't find template file \n"));
    EXPECT_TRUE(has(both.trace(), "template path is " + dir.path("no-tpl")));
    EXPECT_TRUE(has(both.platform(), "Email template file " + dir.path("no-tpl") + " not found."));
    EXPECT_FALSE(has(both.trace() + both.platform(), "script"));

    LogCapture script;
    ASSERT_EQ(mkfifo(dir.path("fifo").c_str(), 0600), 0);
    EXPECT_EQ(service.verifyFilesExist(tpl, dir.path("fifo")), -1) << "a FIFO must not block the report";
    EXPECT_TRUE(has(script.platform(), "Email script file " + dir.path("fifo") + " not found."));
}

// A file that is there but cannot be opened is not reported missing: with
// no descriptor left, the reason is given.
TEST(MailSubmission, FileThatCannotBeOpenedIsNamedWithTheReason)
{
    TempDir dir;
    EmailReportingService service;
    const std::string tpl = dir.write("tpl", "x\n");
    const std::string sh = dir.write("sh", "");
    // Both logs opened while descriptors are to be had.
    logStatement(2, LogDest::trace(), "before the limit");
    logStatement(2, LogDest::platform(), "before the limit");
    LogCapture capture;

    rlimit saved {};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
    // A descriptor is the lowest number free; below the limit there is none.
    const int lowestFree = dup(0);
    ASSERT_GE(lowestFree, 0);
    close(lowestFree);
    rlimit tight = saved;
    tight.rlim_cur = static_cast<rlim_t>(lowestFree);
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &tight), 0);
    const int result = service.verifyFilesExist(tpl, sh);
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &saved), 0);

    EXPECT_EQ(result, -1);
    EXPECT_TRUE(has(capture.platform(),
        "KAV_EMAIL_FILE_OPEN_FAILED: Email template file " + tpl + " could not be opened: Too many open files."))
        << capture.platform();
    EXPECT_FALSE(has(capture.platform(), "not found"));
    EXPECT_TRUE(has(capture.trace(), "can't open template file: Too many open files"));
}
