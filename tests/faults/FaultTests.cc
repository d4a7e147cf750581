// The real daemon under faults and hostile callers: idle and garbled door
// clients, a proxy that dies mid-stream, the front-end daemon down, a full
// /tmp, a lost log directory and a mail script that never ends.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "tests/e2e/SandboxEvents.h"
#include "platform/framework/DoorProtocol.h"
#include "platform/event/EventCodec.h"
#include "platform/io/FdGuard.h"
#include "platform/io/SocketIo.h"

using orv::framework::DoorClient;
using orv::framework::DoorProtocol;
using orv::framework::DoorReply;
using orv::io::FdGuard;

using namespace sandbox;

namespace {

const std::string logDir = "/var/opt/KTRXORV/ORV/logs";

const std::string badEventLine = "A DXAEvent object could not be created from the door call.";

json entry(const std::vector<std::string>& channels)
{
    return sampleEntry(channels, 5, 0, "fault");
}

std::vector<char> packed(const std::string& eventClass, const std::string& code)
{
    return packEvent(sampleEvent(eventClass, code));
}

// Fills the file system of `path` with it, then shortens it so that
// `spare` bytes are free.
void fillLeaving(const std::string& path, std::uintmax_t spare)
{
    {
        std::ofstream fill(path, std::ios::binary);
        std::vector<char> block(4096, 'x');
        while (fill.write(block.data(), static_cast<long>(block.size())) && fill.flush()) { }
    }
    const std::uintmax_t size = fs::file_size(path);
    fs::resize_file(path, size > spare ? size - spare : 0);
}

// Lines in which a log line starts other than at the start: a line cut
// short with the next one written straight after it.
size_t gluedLines(const std::vector<std::string>& lines)
{
    static const std::regex start(R"(.\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z \S+\[\d+\] L\d)");
    return static_cast<size_t>(std::count_if(
        lines.begin(), lines.end(), [](const std::string& line) { return std::regex_search(line, start); }));
}

std::uintmax_t logBytes(const DaemonSandbox& box)
{
    std::uintmax_t bytes = 0;
    for (const auto& file : fs::directory_iterator(box.hostPath(logDir)))
        bytes += file.file_size();
    return bytes;
}

FdGuard connectTo(const std::string& path)
{
    FdGuard fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_un address {};
    if (!fd.valid() || orv::io::unixAddress(path, address) != 0
        || ::connect(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        return FdGuard();
    return fd;
}

// True when the server closes `fd` within `timeout` (anything it says
// before closing is read and dropped).
bool closedByServer(int fd, std::chrono::milliseconds timeout)
{
    auto deadline = std::chrono::steady_clock::now() + timeout;
    char buffer[64];
    while (std::chrono::steady_clock::now() < deadline) {
        pollfd p { fd, POLLIN, 0 };
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (::poll(&p, 1, static_cast<int>(left.count()) + 1) <= 0)
            continue;
        ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0)
            return true;
    }
    return false;
}

// Sends one raw door request: header claiming `claimed` bytes, then `param`.
FdGuard sendRaw(const std::string& door, unsigned method, uint32_t claimed, const std::vector<char>& param)
{
    FdGuard fd = connectTo(door);
    DoorProtocol::RequestBytes header = DoorProtocol::encode(DoorProtocol::Request { method, claimed });
    if (fd.valid())
        orv::io::sendAll(fd.get(), header.data(), header.size());
    if (fd.valid() && !param.empty())
        orv::io::sendAll(fd.get(), param.data(), param.size());
    return fd;
}

template <typename Predicate> bool eventually(Predicate done, std::chrono::seconds timeout = 20s)
{
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

class FaultTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_box.writeEventDB(json {
            { "fault.msg", entry({ "message" }) },
            { "fault.remote", entry({ "remote" }) },
            { "fault.all", entry({ "message", "orvEvent", "remote", "email" }) },
            { "fault.mail", entry({ "message", "email" }) },
            { "fault.hang", entry({ "email" }) },
            { "fault.both", entry({ "message", "orvEvent" }) },
            { "fault.attach", entry({ "email" }) },
            { "fault.big", entry({ "message", "orvEvent", "remote", "email" }) },
        }
                               .dump());
        m_box.writeFile(config + "templates/t.tpl", "Subject: <EVENT_CLASS> <EVENT_CODE>\ncode=<EVENT_CODE>\n");
        m_box.writeFile(config + "templates/a.tpl", "Subject: <EVENT_CLASS>\nThe event is attached.\n");
        // Keeps each mail under the name the daemon gave its file.
        m_box.writeFile(config + "scripts/spool_copy", "#!/bin/sh\nexec cp \"$1\" " + spool + "/\n", 0755);
        m_box.writeFile(
            config + "scripts/hang", "#!/bin/sh\necho $$ > /var/opt/KTRXORV/ORV/hang.pid\nexec sleep 600\n", 0755);
        m_box.writeFile(config + "event_email.cf",
            "^fault\\.(all|mail)$ .* t.tpl kav@sc0.example N ops@example.com spool_copy\n"
            "^fault\\.hang$ .* t.tpl kav@sc0.example N ops@example.com hang\n"
            "^fault\\.(attach|big)$ .* a.tpl kav@sc0.example Y ops@example.com spool_copy\n");
        fs::create_directories(m_box.hostPath(spool));
    }

    void TearDown() override
    {
        // A hung script outlives the daemon unless it is ended here.
        std::ifstream pidFile(m_box.hostPath("/var/opt/KTRXORV/ORV/hang.pid"));
        pid_t pid = 0;
        if (pidFile >> pid && pid > 0)
            ::kill(pid, SIGKILL);
    }

    void startKav(const EnvChanges& env = withLibrary)
    {
        ASSERT_TRUE(m_box.startKav("0", env));
        m_client = std::make_unique<DoorClient>(m_box.kavClient());
    }

    int call(const std::vector<char>& param, unsigned method = 0) const
    {
        DoorReply reply;
        return m_client->call(method, param.data(), param.size(), reply);
    }

    void report(const std::string& eventClass, const std::string& code) const
    {
        EXPECT_EQ(call(packed(eventClass, code)), 0) << eventClass << " " << code;
    }

    // `callers` threads report `each` events of `eventClass` at once, coded
    // `prefix` and a number; how long that took.
    std::chrono::steady_clock::duration reportFromCallers(
        int callers, int each, const std::string& eventClass, const std::string& prefix) const
    {
        auto started = std::chrono::steady_clock::now();
        std::vector<std::thread> threads;
        for (int t = 0; t < callers; ++t)
            threads.emplace_back([&, t] {
                for (int i = 0; i < each; ++i)
                    report(eventClass, prefix + std::to_string(t * each + i));
            });
        for (auto& thread : threads)
            thread.join();
        return std::chrono::steady_clock::now() - started;
    }

    size_t mails() const
    {
        size_t count = 0;
        for (const auto& file : fs::directory_iterator(m_box.hostPath(spool)))
            count += file.is_regular_file();
        return count;
    }

    std::string kavDoor() const { return m_box.doorDir() + "/kav"; }

    // Fills the daemon's small /tmp; the path of the file that fills it.
    std::string fillTmp() const
    {
        const std::string filler = m_box.kavView("/tmp/filler");
        fillLeaving(filler, 0);
        return filler;
    }

    // The reports of `channel` counted so far.
    int counted(const std::string& channel, const std::string& result) const
    {
        return m_box.kavStats()["channels"][channel].value(result, -1);
    }

    DaemonSandbox m_box;
    std::unique_ptr<DoorClient> m_client;
};

TEST_F(FaultTest, IdleAndHalfSentCallersAreDroppedWithoutStarvingEvents)
{
    startKav({});
    std::vector<FdGuard> idle;
    const DoorProtocol::RequestBytes header = DoorProtocol::encode(DoorProtocol::Request { 0, 400 });
    for (int i = 0; i < 100; ++i) {
        idle.push_back(connectTo(kavDoor()));
        ASSERT_TRUE(idle.back().valid());
        // Half of them send part of a header, or a header and part of the parameter.
        if (i % 2)
            orv::io::sendAll(idle.back().get(), header.data(), i % 4 == 1 ? 5 : header.size());
    }

    // Real events from eight callers are served at once, though every
    // idle connection is still open.
    EXPECT_LT(reportFromCallers(8, 5, "fault.msg", "I"), 3s);
    EXPECT_EQ(countContaining(m_box.logTexts("platform"), "MSG7001: fault.msg I"), 40u);

    for (auto& fd : idle)
        EXPECT_TRUE(closedByServer(fd.get(), 10s));
    EXPECT_EQ(countContaining(m_box.logTexts("trace"), "Door request dropped: not complete within 5000 ms."), 100u);
    report("fault.msg", "after");
    EXPECT_EQ(countContaining(m_box.logTexts("platform"), "MSG7001: fault.msg after"), 1u);
}

TEST_F(FaultTest, HostileDoorParametersAreRefusedAndServingGoesOn)
{
    startKav({});
    report("fault.msg", "warm");
    long rssBefore = m_box.kavRssKiB();

    std::mt19937 random(20261209);
    std::vector<char> valid = packed("fault.msg", "V");
    size_t refused = 0; // calls that cannot hold an event
    size_t bent = 0; // calls that may, with a byte flipped
    for (int round = 0; round < 3; ++round) {
        // Every proper prefix of a valid event, and random bytes of random length.
        for (size_t length = 0; length < valid.size(); length += 7, ++refused)
            call(std::vector<char>(valid.begin(), valid.begin() + static_cast<long>(length)));
        for (int i = 0; i < 100; ++i, ++refused) {
            std::vector<char> noise(random() % 2048);
            for (char& byte : noise)
                byte = static_cast<char>(random());
            call(noise);
        }
        // A valid event with one byte flipped at a time.
        for (size_t at = 0; at < valid.size(); at += 3, ++bent) {
            std::vector<char> flipped = valid;
            flipped[at] = static_cast<char>(flipped[at] ^ 0x80);
            call(flipped);
        }
    }
    // A parameter of the largest size, all garbage, is read and refused; one
    // above it is refused unread.
    EXPECT_EQ(call(std::vector<char>(DoorProtocol::MAX_PAYLOAD, '\x7f')), 0);
    ++refused;
    FdGuard oversized = sendRaw(kavDoor(), 0, DoorProtocol::MAX_PAYLOAD + 1, {});
    EXPECT_TRUE(closedByServer(oversized.get(), 5s));
    // Not a door request at all.
    FdGuard garbled = connectTo(kavDoor());
    orv::io::sendAll(garbled.get(), "GET / HTTP/1.0\r\n\r\n", 18);
    EXPECT_TRUE(closedByServer(garbled.get(), 5s));

    // A flipped byte may leave an event that unpacks (a changed name or
    // text), which is then reported or refused by the channels instead.
    size_t badEvents = countContaining(m_box.logTexts("platform"), badEventLine);
    EXPECT_GE(badEvents, refused);
    EXPECT_LE(badEvents, refused + bent);
    auto trace = m_box.logTexts("trace");
    EXPECT_EQ(countContaining(trace, "Door request dropped: parameter of 16777217 bytes is too large."), 1u);
    EXPECT_EQ(countContaining(trace, "Door request dropped: not a door request header."), 1u);

    report("fault.msg", "still");
    EXPECT_EQ(countContaining(m_box.logTexts("platform"), "MSG7001: fault.msg still"), 1u);
    // What the refused calls took was given back (16 MiB of it in one call);
    // the sanitizers' allocators hold freed memory back on purpose.
    if (!sanitized) {
        EXPECT_LT(m_box.kavRssKiB() - rssBefore, 8 * 1024);
    }
    EXPECT_EQ(m_box.stopKav(), 0);
}

TEST_F(FaultTest, ProxyKilledAndRestartedMidStream)
{
    ASSERT_TRUE(m_box.startProxy());
    startKav();
    std::atomic<int> posted { 0 };
    std::atomic<bool> more { true };
    std::thread stream([&] {
        for (; more; ++posted)
            report("fault.remote", "R" + std::to_string(posted));
    });
    ASSERT_TRUE(eventually([&] { return posted >= 100; }));
    int down = posted;
    ::kill(m_box.proxyPid(), SIGKILL);
    m_box.stopProxy();
    std::this_thread::sleep_for(200ms);
    ASSERT_TRUE(m_box.startProxy());
    int restarted = posted;
    EXPECT_TRUE(eventually([&] { return posted >= restarted + 100; }));
    more = false;
    stream.join();
    const int total = posted;

    std::set<std::string> sequences;
    std::set<std::string> codes;
    size_t accepted = 0;
    for (const std::string& line : m_box.proxyLines()) {
        json record = json::parse(line, nullptr, false);
        if (record.value("call", "") != "senddata" || record.value("rc", -1) != 0)
            continue;
        std::string text = record["event"].value("text", "");
        ++accepted;
        codes.insert(text.substr(0, text.find(',')));
        sequences.insert(text.substr(text.find("-SEQ")));
    }
    EXPECT_EQ(sequences.size(), accepted) << "a sequence number was used twice";
    EXPECT_EQ(codes.size(), accepted) << "an event was accepted twice";
    // Reports resumed after the reconnection, up to the stream's last event.
    EXPECT_EQ(codes.count("R" + std::to_string(total - 1)), 1u);
    // Only what was posted while the proxy was away may be missing.
    EXPECT_GE(accepted, static_cast<size_t>(total - (restarted - down) - 2));
    EXPECT_GE(countContaining(m_box.logTexts("trace"), "Connection to the remote services proxy lost"), 1u);
}

TEST_F(FaultTest, FrontEndDownOtherChannelsReportEveryEvent)
{
    ASSERT_TRUE(m_box.startProxy());
    startKav();
    const size_t total = 30;
    for (size_t i = 0; i < total; ++i)
        report("fault.all", "F" + std::to_string(i));

    EXPECT_EQ(countContaining(m_box.logTexts("trace"), "Failure to send ORV event to TEO, rc = "), total);
    auto platform = m_box.logTexts("platform");
    EXPECT_EQ(countContaining(platform, "fault.all could not be reported through ORV event reporting"), total);
    EXPECT_EQ(countContaining(platform, "MSG7001: fault.all F"), total);
    EXPECT_TRUE(eventually([&] { return countContaining(m_box.proxyLines(), "\"senddata\"") == total; }));
    EXPECT_EQ(mails(), total);
}

TEST_F(FaultTest, FullTmpFailsMailsCleanlyAndRecovers)
{
    EnvChanges env = withLibrary;
    env["KAV_SANDBOX_TMP_SIZE"] = "64k";
    startKav(env);
    const std::string filler = fillTmp();
    ASSERT_TRUE(fs::exists(filler));

    report("fault.mail", "full");
    EXPECT_EQ(mails(), 0u);
    EXPECT_EQ(countContaining(m_box.logTexts("trace"), "reportEmail fails in writeAttachment()"), 1u);
    EXPECT_EQ(countContaining(m_box.logTexts("platform"), "MSG7001: fault.mail full"), 1u);
    auto left = [&] {
        std::vector<std::string> names;
        for (const auto& file : fs::directory_iterator(m_box.kavView("/tmp")))
            names.push_back(file.path().filename());
        return names;
    };
    EXPECT_EQ(left(), std::vector<std::string> { "filler" });

    fs::remove(filler);
    report("fault.mail", "room");
    EXPECT_EQ(mails(), 1u);
    EXPECT_TRUE(left().empty());
}

// With a journal, a mail that could not be written waits and goes out once
// there is room again: once, and said so.
TEST_F(FaultTest, FullTmpWithAJournalMailsOnceThereIsRoom)
{
    EnvChanges env = withLibrary;
    env["KAV_SANDBOX_TMP_SIZE"] = "64k";
    env["ORV_JOURNAL"] = "/var/opt/KTRXORV/ORV/kav/journal.db";
    env["ORV_RETRY_FIRST"] = "0.2";
    env["ORV_RETRY_MAX_INTERVAL"] = "0.4";
    startKav(env);
    const std::string filler = fillTmp();
    report("fault.mail", "waits");
    ASSERT_TRUE(eventually(
        [&] { return countContaining(m_box.logTexts("platform"), "fault.mail to its recipients not sent") >= 2; }));
    EXPECT_EQ(mails(), 0u);

    fs::remove(filler);
    ASSERT_TRUE(eventually([&] { return mails() == 1; }));
    EXPECT_TRUE(eventually([&] {
        return countContaining(m_box.logTexts("platform"), "fault.mail code waits: email delivered after") == 1;
    }));
    EXPECT_EQ(m_box.stopKav(), 0);
    EXPECT_EQ(mails(), 1u);
}

// Room for the attachment and the edited template (a page each) but not for
// the message: its write fails, and the trace names the file and why.
TEST_F(FaultTest, MessageThatCannotBeWrittenIsNamedWithTheReason)
{
    EnvChanges env = withLibrary;
    env["KAV_SANDBOX_TMP_SIZE"] = "64k";
    startKav(env);
    const std::string filler = fillTmp();
    fs::resize_file(filler, fs::file_size(filler) - 2 * 4096);

    report("fault.mail", "tight");
    EXPECT_EQ(mails(), 0u);
    const std::vector<std::string> trace = m_box.logTexts("trace");
    ASSERT_EQ(countContaining(trace, "EmailReportingService::reportEmail can't write </tmp/AVLMIME"), 1u);
    EXPECT_EQ(countContaining(trace, ">: write: No space left on device"), 1u);
}

TEST_F(FaultTest, LogDirectoryLostOrLogFileRemoved)
{
    ASSERT_TRUE(m_box.startSink());
    startKav({});
    const std::string platformLog = m_box.hostPath(logDir + "/platform.log");
    report("fault.msg", "first");
    ASSERT_TRUE(fs::exists(platformLog));

    // A file removed is made again by the first line written after the
    // daemon's once-a-second look at its name.
    fs::remove(platformLog);
    std::this_thread::sleep_for(1100ms);
    report("fault.msg", "second");
    EXPECT_EQ(m_box.logTexts("platform"), std::vector<std::string> { "MSG7001: fault.msg second" });

    // With no directory to write in, the daemon still serves the front end...
    const std::string dir = m_box.hostPath(logDir);
    fs::rename(dir, dir + ".away");
    std::ofstream(dir) << "not a directory\n";
    std::this_thread::sleep_for(1100ms);
    report("fault.both", "blind");
    report("fault.both", "blind2");
    EXPECT_EQ(m_box.frames().size(), 2u);
    // ...and logs again once it is back.
    fs::remove(dir);
    fs::create_directory(dir);
    report("fault.both", "back");
    EXPECT_EQ(m_box.logTexts("platform"), std::vector<std::string> { "MSG7001: fault.both back" });
    EXPECT_EQ(m_box.frames().size(), 3u);
    EXPECT_EQ(m_box.stopKav(), 0);
}

TEST_F(FaultTest, MailScriptThatNeverExitsHoldsOnlyItsOwnThread)
{
    ASSERT_TRUE(m_box.startSink());
    startKav({});
    std::thread stuck([this] { call(packed("fault.hang", "H")); });
    ASSERT_TRUE(eventually([&] { return fs::exists(m_box.hostPath("/var/opt/KTRXORV/ORV/hang.pid")); }));

    // The other door threads go on serving, one caller after another and
    // several at once.
    EXPECT_LT(reportFromCallers(6, 5, "fault.mail", "M"), 10s);
    EXPECT_EQ(mails(), 30u);

    // The held call ends when its script does.
    std::ifstream pidFile(m_box.hostPath("/var/opt/KTRXORV/ORV/hang.pid"));
    pid_t pid = 0;
    ASSERT_TRUE(pidFile >> pid);
    ::kill(pid, SIGKILL);
    stuck.join();
    EXPECT_EQ(countContaining(m_box.logTexts("trace"), "Mail submission failed: "), 1u);
    EXPECT_EQ(m_box.stopKav(), 0);
}

// Every mail either goes out or is counted failed with a platform line
// naming the class, the recipients and the reason: with a few pages free
// in /tmp, a small event's files fit, a middling one's attachment fits but
// not its message, and a large one's attachment does not fit.
TEST_F(FaultTest, FullTmpEveryMailIsSentOrCountedFailed)
{
    EnvChanges env;
    env["KAV_SANDBOX_TMP_SIZE"] = "256k";
    startKav(env);
    fillLeaving(m_box.kavView("/tmp/filler"), 40 * 1024);
    const std::vector<std::string> codes { std::string(1024, 's'), std::string(20 * 1024, 'm'),
        std::string(60 * 1024, 'l') };
    const int total = 12;
    for (int i = 0; i < total; ++i)
        report("fault.attach", codes[static_cast<size_t>(i) % codes.size()]);

    const int failed = counted("email", "failed");
    EXPECT_EQ(static_cast<int>(mails()) + failed, total);
    EXPECT_EQ(counted("email", "reported"), static_cast<int>(mails()));
    auto platform = m_box.logTexts("platform");
    EXPECT_EQ(countContaining(platform, "KAV_EMAIL_SCRATCH_FAILED: Email for event class fault.attach to "),
        static_cast<size_t>(failed));
    EXPECT_EQ(countContaining(platform, " to its recipients not sent: the attachment file /tmp/DXAEvent@"), 4u);
    EXPECT_EQ(countContaining(platform, " to ops@example.com not sent: the message file /tmp/AVLMIME"), 4u);
    EXPECT_EQ(countContaining(platform, "could not be written: No space left on device."), 8u);

    fs::remove(m_box.kavView("/tmp/filler"));
    report("fault.attach", codes[2]);
    EXPECT_EQ(mails(), 5u);
}

// The log file system full: the events whose message was not written are
// counted failed, standard error says so once per file and span, and once
// there is room the lines start on lines of their own again.
TEST_F(FaultTest, LogFileSystemFullThenFreed)
{
    EnvChanges env;
    env["KAV_SANDBOX_LOG_SIZE"] = "256k";
    startKav(env);
    report("fault.msg", "before");
    const std::string filler = m_box.kavView(logDir + "/filler");
    fillLeaving(filler, 0);
    // The last page of each log file still has room for a few dozen lines.
    const int total = 200;
    for (int i = 0; i < total; ++i)
        report("fault.msg", "full" + std::to_string(i));

    // Reported exactly when the message is whole in both its logs.
    auto platform = m_box.logTexts("platform");
    auto domain = m_box.logTexts("domain-A");
    int whole = 0;
    for (int i = 0; i < total; ++i) {
        const std::string text = "MSG7001: fault.msg full" + std::to_string(i);
        whole += std::count(platform.begin(), platform.end(), text) == 1
            && std::count(domain.begin(), domain.end(), text) == 1;
    }
    EXPECT_EQ(counted("message", "reported"), 1 + whole);
    EXPECT_EQ(counted("message", "failed"), total - whole);
    EXPECT_GE(total - whole, total / 2);
    std::string output = m_box.kavOutput();
    const size_t spans = countContaining({ output }, "log lines are being lost: No space left on device");
    EXPECT_GE(std::count(output.begin(), output.end(), '\n'), 1);
    EXPECT_LE(std::count(output.begin(), output.end(), '\n'), 3) << output; // trace, platform, domain-A
    EXPECT_EQ(spans, 1u);

    fs::remove(filler);
    for (int i = 0; i < 3; ++i)
        report("fault.msg", "room" + std::to_string(i));
    EXPECT_EQ(counted("message", "reported"), 4 + whole);
    for (const char* name : { "trace", "platform", "domain-A" })
        EXPECT_EQ(gluedLines(m_box.rawLog(name)), 0u) << name;
    platform = m_box.logTexts("platform");
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(countContaining(platform, "MSG7001: fault.msg room" + std::to_string(i)), 1u);
    output = m_box.kavOutput();
    EXPECT_NE(output.find("platform.log: log lines are written again, "), std::string::npos) << output;
}

// The log folder removed: the next line makes it again and says so once,
// and that line, and those after it, are all there.
TEST_F(FaultTest, LogFolderRemovedIsMadeAgainAtTheNextLine)
{
    startKav({});
    report("fault.msg", "first");
    fs::remove_all(m_box.hostPath(logDir));
    report("fault.msg", "second");
    report("fault.msg", "third");

    auto platform = m_box.logTexts("platform");
    ASSERT_EQ(platform.size(), 3u);
    EXPECT_EQ(platform[0],
        "LOG_FOLDER_MADE_AGAIN: The log folder had been removed; it was made again for " + logDir + "/trace.log.");
    EXPECT_EQ(platform[1], "MSG7001: fault.msg second");
    EXPECT_EQ(platform[2], "MSG7001: fault.msg third");
    EXPECT_EQ(m_box.logTexts("domain-A"),
        (std::vector<std::string> { "MSG7001: fault.msg second", "MSG7001: fault.msg third" }));
    EXPECT_EQ(counted("message", "reported"), 3);
    EXPECT_EQ(counted("message", "failed"), 0);
}

// Out of descriptors with callers waiting: the door rests instead of
// spinning on them, says so at most once a second, and serves again once
// they are gone.
TEST_F(FaultTest, DescriptorLimitWithIdleCallersNeitherSpinsNorFloods)
{
    EnvChanges env;
    env["KAV_SANDBOX_NOFILE"] = "64";
    startKav(env);
    report("fault.msg", "first");
    const auto traceBefore = fs::file_size(m_box.logPath("trace"));
    std::vector<FdGuard> idle;
    for (int i = 0; i < 80; ++i) {
        idle.push_back(connectTo(kavDoor()));
        ASSERT_TRUE(idle.back().valid());
    }
    // Within the 5 seconds the idle callers are allowed.
    std::this_thread::sleep_for(3s);
    // Counted, not timed: a spinning accept loop fails a million times in
    // these seconds, one that rests fails a few dozen, in a line or so a
    // second.
    EXPECT_LT(fs::file_size(m_box.logPath("trace")) - traceBefore, 64u * 1024);
    const std::string failed = "Door kav: accept failed: Too many open files (";
    size_t lines = 0;
    unsigned long failures = 0;
    for (const std::string& line : m_box.logTexts("trace"))
        if (const size_t at = line.find(failed); at != std::string::npos) {
            ++lines;
            failures += std::stoul(line.substr(at + failed.size()));
        }
    EXPECT_GE(lines, 1u);
    EXPECT_LE(lines, 6u);
    EXPECT_LT(failures, 500u);

    idle.clear();
    ASSERT_TRUE(eventually([&] { return m_box.kavDescriptors() < 32; }));
    report("fault.msg", "after");
    EXPECT_EQ(countContaining(m_box.logTexts("platform"), "MSG7001: fault.msg after"), 1u);
}

// A 4 MiB code adds kilobytes to the logs, not megabytes, while the event
// still reaches every channel whole; so does an unknown class of 4 MiB.
TEST_F(FaultTest, LargeEventTextIsBoundedInTheLogsOnly)
{
    ASSERT_TRUE(m_box.startSink());
    ASSERT_TRUE(m_box.startProxy());
    startKav();
    report("fault.big", "warm");
    const std::uintmax_t before = logBytes(m_box);
    const std::string code(4 << 20, 'c');
    report("fault.big", code);
    EXPECT_LT(logBytes(m_box) - before, 64u * 1024);
    EXPECT_EQ(countContaining(m_box.logTexts("platform"), "MSG7001: fault.big " + std::string(1000, 'c')), 1u);
    EXPECT_EQ(countContaining(m_box.logTexts("platform"), "c[... 4194304 bytes]"), 1u);

    auto frames = m_box.frames();
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_GT(frames[1].size(), code.size());
    EXPECT_TRUE(eventually([&] {
        auto lines = m_box.proxyLines();
        return !lines.empty() && lines.back().size() > code.size();
    }));
    ASSERT_EQ(mails(), 2u);
    std::uintmax_t largest = 0;
    for (const auto& file : fs::directory_iterator(m_box.hostPath(spool)))
        largest = std::max(largest, file.file_size());
    EXPECT_GT(largest, code.size() * 4 / 3);
    EXPECT_EQ(counted("message", "failed") + counted("orvEvent", "failed") + counted("remote", "failed")
            + counted("email", "failed"),
        0);

    const std::uintmax_t beforeUnknown = logBytes(m_box);
    EXPECT_EQ(call(packed(std::string(4 << 20, 'u'), "X")), 0);
    EXPECT_LT(logBytes(m_box) - beforeUnknown, 16u * 1024);
    EXPECT_EQ(countContaining(m_box.logTexts("platform"), "u[... 4194304 bytes] is not in the event database."), 1u);
}

}
