// The email channel of the real daemon with the repository's scripts: mails
// read back with Python's email package, once delivered over SMTP.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <regex>
#include <set>
#include <fstream>
#include <sstream>
#include <thread>

#include <md5.h>

#include <nlohmann/json.hpp>

#include "tests/e2e/DaemonSandbox.h"
#include "platform/event/EventCodec.h"

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

const std::string& config = sandboxConfigDir;
const std::string& spool = sandboxSpoolDir;

// A well-formed message: the parser notes nothing.
const json layoutDefects = json::array();

json event(const std::string& code = "X12", const std::string& eventClass = "test.mail")
{
    return { { "class", eventClass }, { "code", code }, { "type", "FAULT" }, { "timestamp", 1700000000 },
        { "domainsAffected", "AC" }, { "platformCSN", "0123" }, { "platformModel", "M15" }, { "diagEngName", "de" },
        { "diagEngVersion", "2.0" }, { "classes", { "test.mail" } }, { "indictment", { "CPU0" } } };
}

std::string body(const std::string& code = "X12")
{
    return "Subject: test.mail " + code + "\ncode=" + code + " sev=DXAEVENT_SEV_MAJOR <5>\n";
}

std::string packedHex(const json& ev)
{
    std::string hex;
    char digits[3];
    for (char byte : orv::event::pack(orv::event::fromJson(ev))) {
        snprintf(digits, sizeof digits, "%02x", static_cast<unsigned char>(byte));
        hex += digits;
    }
    return hex;
}

// An entry for "test.mail" events: template t.tpl unless named.
std::string line(const std::string& recipients, const std::string& script = "spool_mail",
    const std::string& include = "Y", const std::string& templateName = "t.tpl")
{
    return "^test\\.mail$ [A-R] " + templateName + " kav@sc0.example " + include + " " + recipients + " " + script
        + "\n";
}

std::string fileText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::vector<std::string> filesIn(const std::string& dir)
{
    std::vector<std::string> files;
    if (fs::exists(dir)) {
        for (const auto& file : fs::directory_iterator(dir))
            files.push_back(file.path());
    }
    return files;
}

// Each message file as Python's email package reads it.
std::vector<json> describe(const std::vector<std::string>& paths)
{
    std::vector<std::string> argv { "/usr/bin/env", "python3", EMAIL_E2E_DIR "/describe_mail.py" };
    argv.insert(argv.end(), paths.begin(), paths.end());
    ProcessResult result = runProcess(argv);
    EXPECT_EQ(result.exitStatus, 0) << result.output;
    json mails = json::parse(result.output, nullptr, false);
    return mails.is_array() ? mails.get<std::vector<json>>() : std::vector<json>(paths.size());
}

class EmailE2E : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_box.writeEventDB(R"({"test.mail": {"channels": ["email"], "severity": 5},
                               "test.noseverity": {"channels": ["email"]}})");
        for (std::string script : { "spool_mail", "send_mail" })
            m_box.writeFile(config + "scripts/" + script, fileText(KAV_SOURCE_DIR "/config/scripts/" + script), 0755);
        m_box.writeFile(config + "templates/t.tpl",
            "Subject: <EVENT_CLASS> <EVENT_CODE>\ncode=<EVENT_CODE> sev=<EVENT_SEVERITY>\n");
    }

    void start(const std::string& ecf, const EnvChanges& env = {})
    {
        m_box.writeFile(config + "event_email.cf", ecf);
        ASSERT_TRUE(m_box.startKav("0", env));
    }

    void post(const json& ev, const std::string& command = "post")
    {
        ProcessResult result = m_box.post(ev.dump(), command);
        ASSERT_EQ(result.exitStatus, 0) << result.output;
    }

    // The spooled mails by recipients field; the spool is emptied.
    std::map<std::string, json> takeMails()
    {
        std::map<std::string, json> mails;
        std::vector<std::string> files = filesIn(m_box.hostPath(spool));
        for (json& mail : files.empty() ? std::vector<json> {} : describe(files))
            mails.emplace(mail["headers"].value("X-Envelope-To", ""), mail);
        fs::remove_all(m_box.hostPath(spool));
        return mails;
    }

    bool scratchIsEmpty() const { return fs::is_empty(m_box.hostPath("/tmp")); }

    // Posts `count` events with codes PREFIX0, PREFIX1, ... from as many
    // callers at once and expects every post to succeed.
    void postConcurrently(const std::string& prefix, int count)
    {
        std::vector<pid_t> posts;
        for (int i = 0; i < count; ++i) {
            const std::string file = m_box.root() + "/" + prefix + std::to_string(i) + ".json";
            std::ofstream(file) << event(prefix + std::to_string(i)).dump();
            posts.push_back(spawnProcess({ DaemonSandbox::buildPath("tools/orv-event/orv-event"), "post", file },
                { { "ORV_DOOR_DIR", m_box.doorDir() } }));
        }
        for (pid_t pid : posts) {
            int status = -1;
            waitpid(pid, &status, 0);
            EXPECT_EQ(status, 0);
        }
    }

    DaemonSandbox m_box;
};

}

TEST_F(EmailE2E, OneMailPerSelectedLine)
{
    start(line("ops@x.example") + line("desk@x.example", "spool_mail", "N")
        + "^other$ . t.tpl kav@sc0.example Y nobody@x.example spool_mail\n");
    post(event());
    auto mails = takeMails();
    ASSERT_EQ(mails.size(), 2u);

    const json& full = mails["ops@x.example"];
    EXPECT_EQ(full["defects"], layoutDefects) << full.dump();
    EXPECT_EQ(full["headers"]["Subject"], "test.mail X12");
    EXPECT_EQ(full["headers"]["From"], "kav@sc0.example");
    const std::string id = full["headers"]["Message-ID"];
    EXPECT_TRUE(std::regex_match(id, std::regex("<[0-9]{6}\\.[0-9]+\\.[0-9]+\\.[A-Za-z0-9]{16}@[A-Za-z0-9.-]+>")))
        << id;
    EXPECT_TRUE(std::regex_match(full["headers"]["Date"].get<std::string>(),
        std::regex("[A-Z][a-z]{2}, [0-9]{2} [A-Z][a-z]{2} 20[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2} \\+0000")))
        << full["headers"]["Date"];
    ASSERT_EQ(full["parts"].size(), 2u);
    EXPECT_EQ(full["parts"][0]["text"], body());
    EXPECT_EQ(full["parts"][1]["hex"], packedHex(event()));
    EXPECT_EQ(full["parts"][1]["md5"], full["parts"][1]["digest"]);
    EXPECT_TRUE(full["parts"][1]["filename"].get<std::string>().starts_with("DXAEvent@"));

    const json& plain = mails["desk@x.example"];
    ASSERT_EQ(plain["parts"].size(), 1u);
    EXPECT_EQ(plain["parts"][0]["text"], body());
    EXPECT_TRUE(scratchIsEmpty());
}

TEST_F(EmailE2E, FailuresSpareTheOtherRecipients)
{
    start(line("first@x.example", "spool_mail", "Y", "absent.tpl") + line("second@x.example"));
    post(event());
    auto mails = takeMails();
    ASSERT_EQ(mails.size(), 1u);
    EXPECT_EQ(mails.count("second@x.example"), 1u);
    EXPECT_EQ(countContaining(m_box.logTexts("trace"), "can't find template file"), 1u);
    EXPECT_EQ(
        countContaining(m_box.logTexts("platform"), "Email template file " + config + "templates/absent.tpl"), 1u);

    json unselected = event();
    unselected["classes"] = { "other.fault" };
    post(unselected);
    post(event("X14", "test.noseverity"));
    EXPECT_EQ(countContaining(m_box.logTexts("platform"), "could not read getEventSeverity"), 1u);
    EXPECT_TRUE(takeMails().empty());

    m_box.writeFile(config + "event_email.cf", line("a@x.example", "exit3") + line("b@x.example", "kill9"));
    m_box.writeFile(config + "scripts/exit3", "#!/bin/sh\nexit 3\n", 0755);
    m_box.writeFile(config + "scripts/kill9", "#!/bin/sh\nkill -9 $$\n", 0755);
    post(event());
    auto trace = m_box.logTexts("trace");
    EXPECT_EQ(countContaining(trace, "EmailReportingService::execSendmail command exited with status <3>"), 1u);
    EXPECT_EQ(countContaining(trace, "EmailReportingService::execSendmail command got signal <9>"), 1u);
    EXPECT_EQ(countContaining(m_box.logTexts("platform"), "Mail submission failed: command exited with status 3."), 1u);

    fs::remove(m_box.hostPath(config + "event_email.cf"));
    post(event());
    EXPECT_EQ(countContaining(m_box.logTexts("platform"), "The email control file " + config + "event_email.cf"), 1u);
    EXPECT_TRUE(scratchIsEmpty());
}

TEST_F(EmailE2E, TestEmailIsTheSameMailAsAReport)
{
    start(line("ops@x.example"));
    post(event());
    json report = takeMails()["ops@x.example"];
    post(event(), "test-email");
    json test = takeMails()["ops@x.example"];
    // Only the identifier and the attachment's file name may differ.
    for (json* mail : { &report, &test }) {
        (*mail)["headers"].erase("Message-ID");
        (*mail)["headers"].erase("Date");
        (*mail)["headers"].erase("Content-Type");
        (*mail)["parts"][1].erase("filename");
    }
    EXPECT_EQ(report, test);
    EXPECT_TRUE(scratchIsEmpty());
}

TEST_F(EmailE2E, TwentyConcurrentReportsStayApart)
{
    start(line("ops@x.example"));
    postConcurrently("C", 20);

    std::vector<json> mails = describe(filesIn(m_box.hostPath(spool)));
    ASSERT_EQ(mails.size(), 20u);
    std::set<std::string> ids;
    for (const json& mail : mails)
        ids.insert(mail["headers"].value("Message-ID", ""));
    EXPECT_EQ(ids.size(), 20u);
    for (int i = 0; i < 20; ++i) {
        const std::string code = "C" + std::to_string(i);
        auto mail = std::find_if(
            mails.begin(), mails.end(), [&](const json& m) { return m["headers"]["Subject"] == "test.mail " + code; });
        ASSERT_NE(mail, mails.end()) << code;
        EXPECT_EQ((*mail)["parts"][0]["text"], body(code));
        EXPECT_EQ((*mail)["parts"][1]["hex"], packedHex(event(code))) << code;
    }
    EXPECT_TRUE(scratchIsEmpty());
}

TEST_F(EmailE2E, DeliversThroughARealSmtpClient)
{
    ASSERT_TRUE(fs::exists("/usr/bin/msmtp")) << "needs the msmtp package";
    const std::string inbox = m_box.root() + "/smtp";
    fs::create_directories(inbox);
    pid_t server = spawnProcess(
        { "/usr/bin/env", "python3", EMAIL_E2E_DIR "/smtp_sink.py", inbox }, {}, m_box.root() + "/smtp.out");
    for (int i = 0; i < 500 && !fs::exists(inbox + "/port"); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_TRUE(fs::exists(inbox + "/port")) << fileText(m_box.root() + "/smtp.out");

    m_box.writeFile("/etc/opt/test/msmtprc",
        "account default\nhost 127.0.0.1\nport " + fileText(inbox + "/port")
            + "\nfrom kav@sc0.example\nauth off\ntls off\nlogfile /etc/opt/test/msmtp.log\n",
        0600);
    m_box.writeFile("/etc/opt/test/sendmail", "#!/bin/sh\nexec /usr/bin/msmtp -C /etc/opt/test/msmtprc \"$@\"\n", 0755);
    start(line("ops@x.example,desk@x.example", "send_mail"), { { "SENDMAIL", "/etc/opt/test/sendmail" } });
    post(event());
    stopProcess(server, SIGTERM);

    ASSERT_EQ(filesIn(inbox).size(), 3u) << m_box.readFile("/etc/opt/test/msmtp.log"); // port, envelope, mail
    EXPECT_EQ(json::parse(fileText(inbox + "/msg-1.json"))["to"], json({ "<ops@x.example>", "<desk@x.example>" }));
    json mail = describe({ inbox + "/msg-1.eml" })[0];
    EXPECT_EQ(mail["defects"], layoutDefects) << mail.dump();
    EXPECT_EQ(mail["headers"]["Subject"], "test.mail X12");
    EXPECT_EQ(mail["headers"]["From"], "kav@sc0.example");
    EXPECT_EQ(mail["headers"]["MIME-Version"], "1.0");
    ASSERT_EQ(mail["parts"].size(), 2u);
    EXPECT_EQ(mail["parts"][0]["text"], body());
    EXPECT_EQ(mail["parts"][1]["type"], "application/octet-stream");
    EXPECT_EQ(mail["parts"][1]["hex"], packedHex(event()));
    EXPECT_EQ(mail["parts"][1]["md5"], mail["parts"][1]["digest"]);
    EXPECT_TRUE(scratchIsEmpty());
}

TEST_F(EmailE2E, ScriptsInheritOnlyTheStandardDescriptors)
{
    // Lists its own descriptors without opening one to do so.
    m_box.writeFile(config + "scripts/list_fds",
        "#!/usr/bin/env python3\nimport os, sys\n"
        "def is_open(fd):\n    try:\n        os.fstat(fd)\n        return True\n    except OSError:\n        return "
        "False\n"
        "fds = [str(fd) for fd in range(1024) if is_open(fd)]\n"
        "os.makedirs('"
            + spool
            + "', exist_ok=True)\n"
              "with open('"
            + spool
            + "/fds-' + sys.argv[2] + '-' + str(os.getpid()), 'w') as out:\n"
              "    out.write(' '.join(fds))\n",
        0755);
    start(line("a", "list_fds") + line("b", "list_fds"));
    postConcurrently("F", 6);
    const std::vector<std::string> lists = filesIn(m_box.hostPath(spool));
    EXPECT_EQ(lists.size(), 12u);
    for (const std::string& list : lists)
        EXPECT_EQ(fileText(list), "0 1 2") << list;
    EXPECT_TRUE(scratchIsEmpty());
}

namespace {

// A script that starts a child, notes both pids in the spool and hangs, deaf
// to SIGTERM like its child.
const std::string hangingScript = "#!/bin/sh\ntrap '' TERM\nsleep 300 &\nmkdir -p " + spool + "\necho $$ $! > " + spool
    + "/.hang-pids\nwhile :; do sleep 1; done\n";

// Gone, or a zombie not reaped yet: nothing that still runs. The script's
// background child is killed with its group but is nobody's to wait for,
// and on a busy machine it may take a moment to be scheduled and die.
bool ended(const std::string& pid)
{
    for (int i = 0; i < 250; ++i) {
        std::ifstream stat("/proc/" + pid + "/stat");
        std::string self, name, state;
        if (!(stat >> self >> name >> state) || state == "Z")
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

}

TEST_F(EmailE2E, HangingScriptIsStoppedAndTheNextRecipientServed)
{
    m_box.writeFile(config + "scripts/hang", hangingScript, 0755);
    start(line("a@x.example", "hang") + line("b@x.example"), { { "ORV_MAIL_SCRIPT_TIMEOUT", "1" } });
    const auto began = std::chrono::steady_clock::now();
    post(event());
    EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::seconds(15));

    std::istringstream pids(m_box.readFile(spool + "/.hang-pids"));
    fs::remove(m_box.hostPath(spool + "/.hang-pids"));
    for (std::string pid; pids >> pid;)
        EXPECT_TRUE(ended(pid)) << pid;
    auto trace = m_box.logTexts("trace");
    EXPECT_EQ(countContaining(trace, "execSendmail command still running after 1 seconds, stopped"), 1u);
    EXPECT_EQ(countContaining(trace, "EmailReportingService::execSendmail command got signal <9>"), 1u);
    EXPECT_EQ(countContaining(trace, "Mail submission failed: command got signal 9."), 1u);
    auto mails = takeMails();
    EXPECT_EQ(mails.size(), 1u);
    EXPECT_EQ(mails.count("b@x.example"), 1u);
    EXPECT_TRUE(scratchIsEmpty());
}

TEST_F(EmailE2E, ShutdownStopsAWaitingScript)
{
    m_box.writeFile(config + "scripts/hang", hangingScript, 0755);
    start(line("a@x.example", "hang") + line("b@x.example"));
    const std::string file = m_box.root() + "/hang.json";
    std::ofstream(file) << event().dump();
    const pid_t poster = spawnProcess({ DaemonSandbox::buildPath("tools/orv-event/orv-event"), "post", file },
        { { "ORV_DOOR_DIR", m_box.doorDir() } });
    const std::string pidFile = m_box.hostPath(spool + "/.hang-pids");
    for (int i = 0; i < 500 && fileText(pidFile).empty(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_TRUE(fs::exists(pidFile));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));

    const auto began = std::chrono::steady_clock::now();
    EXPECT_EQ(m_box.stopKav(), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::seconds(8));
    stopProcess(poster, SIGTERM);
    std::istringstream pids(fileText(pidFile));
    fs::remove(pidFile);
    for (std::string pid; pids >> pid;)
        EXPECT_TRUE(ended(pid)) << pid;
    auto trace = m_box.logTexts("trace");
    EXPECT_EQ(countContaining(trace, "execSendmail command stopped, report cut short by shutdown"), 1u);
    EXPECT_EQ(countContaining(trace, "reportEmail cut short by shutdown, 1 of 2 recipients not mailed"), 1u);
    EXPECT_TRUE(takeMails().empty());
    EXPECT_TRUE(scratchIsEmpty());
}

TEST_F(EmailE2E, EventTextCannotForgeParts)
{
    // The boundary used to be "-" and the six digits of the current second:
    // delimiters for the next few seconds, an HTML part and an early end.
    std::string code = "X";
    for (time_t second = time(nullptr); second < time(nullptr) + 8; ++second) {
        char id[8];
        snprintf(id, sizeof id, "%06lld", static_cast<long long>(second % 1000000));
        code += std::string("\n---") + id + "\nContent-Type: text/html\n\n<b>forged</b>\n---" + id + "--\n";
    }
    start(line("ops@x.example"));
    post(event(code));
    json mail = takeMails()["ops@x.example"];
    EXPECT_EQ(mail["defects"], layoutDefects) << mail.dump();
    ASSERT_EQ(mail["parts"].size(), 2u) << mail.dump();
    EXPECT_EQ(mail["parts"][0]["type"], "text/plain");
    EXPECT_EQ(mail["parts"][0]["text"], body(code));
    EXPECT_EQ(mail["parts"][1]["hex"], packedHex(event(code)));
    EXPECT_EQ(mail["parts"][1]["md5"], mail["parts"][1]["digest"]);
}

TEST_F(EmailE2E, Utf8SubjectAndBodyReadBack)
{
    const std::string code = "\u00dcn\u00efc\u00f8d\u00e9 \u2713 \u2014 \u6771\u4eac";
    start(line("ops@x.example"));
    post(event(code));
    json mail = takeMails()["ops@x.example"];
    EXPECT_EQ(mail["defects"], layoutDefects) << mail.dump();
    EXPECT_TRUE(mail["headers"]["Subject"].get<std::string>().starts_with("=?UTF-8?B?"));
    EXPECT_EQ(mail["subject"], "test.mail " + code);
    ASSERT_EQ(mail["parts"].size(), 2u);
    EXPECT_EQ(mail["parts"][0]["text"], body(code));

    // Plain ASCII stays readable as it is.
    post(event("X12"));
    json plain = takeMails()["ops@x.example"];
    EXPECT_EQ(plain["headers"]["Subject"], "test.mail X12");
}

TEST_F(EmailE2E, ExplodingTemplateAndStallingPatternFinishQuickly)
{
    // Each of the 8000 list tags in the code would take the 150 KB list.
    std::string code;
    for (int i = 0; i < 8000; ++i)
        code += "<EVENT_INDICTMENT_LIST>";
    json ev = event(code);
    ev["indictment"] = { std::string(150000, 'y') };
    m_box.writeFile(config + "templates/list.tpl", "Subject: <EVENT_CODE>\n<EVENT_CODE>\n");
    start("((a{,30}){,30}){,30} [A-R] t.tpl kav@sc0.example Y stall@x.example spool_mail\n"
        + line("ops@x.example", "spool_mail", "Y", "list.tpl"));
    const auto began = std::chrono::steady_clock::now();
    post(ev);
    EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::seconds(10));

    auto mails = takeMails();
    ASSERT_EQ(mails.size(), 1u);
    const json& mail = mails["ops@x.example"];
    EXPECT_EQ(mail["defects"], layoutDefects);
    EXPECT_LE(mail["parts"][0]["size"].get<size_t>(), 1048576u);
    EXPECT_EQ(mail["parts"][1]["hex"], packedHex(ev));
    auto trace = m_box.logTexts("trace");
    EXPECT_EQ(countContaining(trace, "edited template reached its limit of 1048576 bytes"), 1u);
    EXPECT_EQ(countContaining(trace, "Bad message class regular expresion <((a{,30}){,30}){,30}> in ECF file"), 1u);
    EXPECT_TRUE(scratchIsEmpty());
}

TEST_F(EmailE2E, EventNearTheDoorLimitMailedExactly)
{
    json ev = event();
    ev["indictment"] = { std::string(15 << 20, 'z'), "CPU1" };
    const std::vector<char> packed = orv::event::pack(orv::event::fromJson(ev));
    ASSERT_GT(packed.size(), 15u << 20);
    char digest[MD5_DIGEST_STRING_LENGTH];
    MD5Data(reinterpret_cast<const uint8_t*>(packed.data()), packed.size(), digest);
    start(line("ops@x.example"));
    post(ev);
    json mail = takeMails()["ops@x.example"];
    EXPECT_EQ(mail["defects"], layoutDefects);
    ASSERT_EQ(mail["parts"].size(), 2u);
    EXPECT_EQ(mail["parts"][1]["size"], packed.size());
    EXPECT_EQ(mail["parts"][1]["md5hex"], digest);
    EXPECT_EQ(mail["parts"][1]["md5"], mail["parts"][1]["digest"]);
    EXPECT_TRUE(scratchIsEmpty());
}

// With a journal each recipient line is a delivery of its own: the one
// whose script fails is tried again until it goes through, and the others
// are mailed once, at the first try.
TEST_F(EmailE2E, JournaledMailRetriesOnlyTheFailingRecipient)
{
    m_box.writeFile(config + "scripts/flaky",
        "#!/bin/sh\n"
        "f=/var/opt/KTRXORV/ORV/flaky-tries\n"
        "n=$(($(cat $f 2>/dev/null || echo 0) + 1))\n"
        "echo $n > $f\n"
        "[ $n -ge 3 ] || exit 1\n"
        "exec "
            + config + "scripts/spool_mail \"$@\"\n",
        0755);
    start(line("a@x.example", "flaky") + line("b@x.example") + line("c@x.example"),
        { { "ORV_JOURNAL", "/var/opt/KTRXORV/ORV/kav/journal.db" }, { "ORV_RETRY_FIRST", "0.2" } });
    post(event());
    ASSERT_TRUE(
        eventuallyTrue([&] { return countContaining(m_box.logTexts("platform"), "KAV_DELIVERED_AFTER_RETRY") == 1; }));
    EXPECT_EQ(m_box.stopKav(), 0);

    const auto mails = takeMails();
    EXPECT_EQ(mails.size(), 3u);
    for (const char* to : { "a@x.example", "b@x.example", "c@x.example" })
        EXPECT_EQ(mails.count(to), 1u) << to;
    EXPECT_EQ(m_box.readFile("/var/opt/KTRXORV/ORV/flaky-tries"), "3\n");
    EXPECT_EQ(countContaining(m_box.logTexts("platform"), "test.mail code X12: email delivered after 3 tries"), 1u);
    EXPECT_TRUE(scratchIsEmpty());
}

// Mail scripts that hang tie up mail deliveries only: with every mail
// thread stuck, the door still answers at once and another event's log and
// front-end deliveries are made.
TEST_F(EmailE2E, HangingMailHoldsUpNothingElse)
{
    m_box.writeEventDB(R"({"test.mail": {"channels": ["email"], "severity": 5},
                           "test.fast": {"channels": ["message", "orvEvent"], "severity": 2, "messageNumber": 7001,
                                         "args": ["{code}"]}})");
    m_box.writeFile(config + "scripts/hang", hangingScript, 0755);
    std::string ecf;
    for (int i = 0; i < 8; ++i)
        ecf += line("r" + std::to_string(i) + "@x.example", "hang");
    ASSERT_TRUE(m_box.startSink());
    start(ecf, { { "ORV_JOURNAL", "/var/opt/KTRXORV/ORV/kav/journal.db" }, { "ORV_MAIL_SCRIPT_TIMEOUT", "120" } });
    for (int i = 0; i < 8; ++i)
        post(event("M" + std::to_string(i)));
    post(event("F1", "test.fast"));
    ASSERT_TRUE(eventuallyTrue([&] { return m_box.frames().size() == 1; }));
    EXPECT_TRUE(eventuallyTrue([&] { return countContaining(m_box.logTexts("platform"), "MSG7001: F1") == 1; }));
    EXPECT_EQ(m_box.stopKav(), 0);
}
