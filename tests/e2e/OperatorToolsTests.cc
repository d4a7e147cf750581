// orv-event's operator commands against the real daemon in its sandbox:
// the counters after a known mix of events, and routes that foresee what
// the daemon then does.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "tests/e2e/DaemonSandbox.h"

using nlohmann::json;

namespace {

json event(const std::string& eventClass)
{
    return { { "class", eventClass }, { "code", "X12" }, { "type", "FAULT" }, { "timestamp", 1700000000 },
        { "domainsAffected", "AC" }, { "platformCSN", "0123" }, { "platformModel", "M15" }, { "diagEngName", "de" },
        { "diagEngVersion", "2.0" }, { "classes", { eventClass } }, { "indictment", { "CPU0" } } };
}

std::string fileText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::vector<std::string> filesIn(const std::string& dir)
{
    std::vector<std::string> files;
    if (std::filesystem::exists(dir)) {
        for (const auto& file : std::filesystem::directory_iterator(dir))
            files.push_back(file.path());
    }
    return files;
}

std::string headerOf(const std::string& mail, const std::string& name)
{
    const size_t at = mail.find("\n" + name + ": ");
    if (at == std::string::npos)
        return {};
    const size_t start = at + name.size() + 3;
    return mail.substr(start, mail.find('\n', start) - start);
}

class OperatorTools : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_box.writeEventDB(R"({"test.all": {"channels": ["message", "orvEvent", "remote", "email"], "severity": 5,
            "priority": 1, "reportingType": 0, "reportingSubtype": "T", "messageNumber": 7001, "args": ["{code}"]}})");
        m_box.writeFile(
            sandboxConfigDir + "scripts/spool_mail", fileText(KAV_SOURCE_DIR "/config/scripts/spool_mail"), 0755);
        m_box.writeFile(sandboxConfigDir + "templates/t.tpl", "Subject: <EVENT_CLASS> <EVENT_CODE>\nbody\n");
        m_box.writeFile(sandboxConfigDir + "event_email.cf", "^test\\.all$ .* t.tpl kav@x Y ops@x spool_mail\n");
    }

    // The configuration that comes with the daemon.
    void useSampleConfig()
    {
        m_box.writeEventDB(fileText(KAV_SOURCE_DIR "/config/eventdb.json"));
        m_box.writeFile(sandboxConfigDir + "event_email.cf", fileText(KAV_SOURCE_DIR "/config/event_email.cf"));
        for (const char* name : { "fault.tpl", "short.tpl" })
            m_box.writeFile(sandboxConfigDir + "templates/" + name,
                fileText(KAV_SOURCE_DIR "/config/templates/" + std::string(name)));
    }

    json route(const json& ev)
    {
        const std::string name = "route-" + std::to_string(++m_routes) + ".json";
        std::ofstream(m_box.root() + "/" + name) << ev.dump();
        ProcessResult result = m_box.orvEventInside({ "route", "--json", "/run/sandbox/" + name });
        EXPECT_EQ(result.exitStatus, 0) << result.output;
        return json::parse(result.output, nullptr, false);
    }

    // The proxy's records once there are `count` whole ones.
    std::vector<json> proxyRecords(size_t count)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        std::vector<std::string> lines = m_box.proxyLines();
        while ((lines.size() < count || !json::accept(lines.back())) && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            lines = m_box.proxyLines();
        }
        std::vector<json> records;
        for (const auto& line : lines)
            records.push_back(json::parse(line, nullptr, false));
        return records;
    }

    void post(const json& ev, const std::string& command = "post")
    {
        ProcessResult result = m_box.post(ev.dump(), command);
        ASSERT_EQ(result.exitStatus, 0) << result.output;
    }

    DaemonSandbox m_box;
    int m_routes = 0;
};

TEST_F(OperatorTools, StatsCountAKnownMixInBothFormats)
{
    ASSERT_TRUE(m_box.startSink());
    ASSERT_TRUE(m_box.startKav());
    // The remote channel fails every time: there is no client library here.
    post(event("test.all"));
    post(event("test.all"));
    post(event("test.all"), "test-email");
    EXPECT_EQ(m_box.post(event("test.unknown").dump()).exitStatus, 1);
    m_box.writeFile("/tmp/garbage", "not an event");
    ASSERT_EQ(m_box.orvEvent({ "send-raw", "0", m_box.hostPath("/tmp/garbage") }).exitStatus, 1);

    ProcessResult result = m_box.orvEvent({ "stats" });
    ASSERT_EQ(result.exitStatus, 0) << result.output;
    const json stats = json::parse(result.output);
    EXPECT_GE(stats["uptimeSeconds"], 0);
    EXPECT_EQ(stats["eventsReceived"], 4);
    EXPECT_EQ(stats["unknownClass"], 1);
    EXPECT_EQ(stats["badEvents"], 1);
    const json& channels = stats["channels"];
    EXPECT_EQ(channels["message"], json({ { "reported", 2 }, { "failed", 0 }, { "lastFailure", nullptr } }));
    EXPECT_EQ(channels["orvEvent"], json({ { "reported", 2 }, { "failed", 0 }, { "lastFailure", nullptr } }));
    EXPECT_EQ(channels["remote"]["reported"], 0);
    EXPECT_EQ(channels["remote"]["failed"], 2);
    EXPECT_NE(channels["remote"]["lastFailure"]["text"].get<std::string>().find("KAV_LOST_VARN: "), std::string::npos)
        << channels["remote"];
    EXPECT_EQ(channels["email"]["reported"], 3);
    EXPECT_EQ(channels["email"]["failed"], 0);

    result = m_box.orvEvent({ "stats", "--prometheus" });
    ASSERT_EQ(result.exitStatus, 0) << result.output;
    for (const char* line : { "# TYPE kav_events_received_total counter\n", "\nkav_events_received_total 4\n",
             "\nkav_unknown_class_total 1\n", "\nkav_bad_events_total 1\n", "# HELP kav_uptime_seconds ",
             "\nkav_channel_reports_total{channel=\"remote\",result=\"failed\"} 2\n",
             "\nkav_channel_reports_total{channel=\"email\",result=\"reported\"} 3\n",
             "\nkav_channel_reports_total{channel=\"orvEvent\",result=\"failed\"} 0\n" })
        EXPECT_NE(result.output.find(line), std::string::npos) << line << result.output;

    // The event door is untouched by the counters' door.
    EXPECT_EQ(m_box.orvEvent({ "call", "2", m_box.root() + "/event-1.json" }).exitStatus, 0);
}

TEST_F(OperatorTools, StatsWithoutADaemonSayWhy)
{
    ProcessResult result = m_box.orvEvent({ "stats" });
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_NE(result.output.find("kav-stats"), std::string::npos) << result.output;
}

TEST_F(OperatorTools, RouteForeseesWhatTheDaemonDoesAndSendsNothing)
{
    useSampleConfig();
    ASSERT_TRUE(m_box.startSink());
    ASSERT_TRUE(m_box.startProxy());
    ASSERT_TRUE(m_box.startKav("0", withClientLibrary));

    json temperature = event("ereport.env.temperature");
    temperature["domainsAffected"] = "C";
    const std::vector<json> events { event("fault.cpu.ecache"), event("fault.system.power"), temperature,
        event("defect.firmware.config") };
    std::vector<json> routes;
    for (const json& ev : events)
        routes.push_back(route(ev));

    EXPECT_TRUE(m_box.frames().empty());
    EXPECT_TRUE(m_box.proxyLines().empty());
    EXPECT_TRUE(filesIn(m_box.hostPath(sandboxSpoolDir)).empty());
    for (const char* log : { "trace", "platform", "domain-A", "domain-C" }) {
        for (const json& ev : events)
            EXPECT_EQ(countContaining(m_box.logTexts(log), ev["class"]), 0u) << log;
    }

    for (const json& ev : events)
        post(ev);

    // Message channel: the same text at the same level in the same logs.
    const auto platform = m_box.log("platform");
    for (const json& r : routes) {
        const json& message = r["channels"]["message"];
        if (message.is_null())
            continue;
        bool found = false;
        for (const auto& line : platform)
            found = found || (line.text == message["text"] && line.level == message["level"]);
        EXPECT_TRUE(found) << message;
        for (const auto& log : message["logs"]) {
            if (log != "platform") {
                EXPECT_EQ(countContaining(m_box.logTexts(log), message["text"]), 1u) << log;
            }
        }
    }

    // Front-end and remote channels: one frame and one message per event
    // that asks for them, in posting order.
    std::vector<json> frames;
    for (const auto& line : m_box.frames())
        frames.push_back(json::parse(line));
    std::vector<json> remote = proxyRecords(4); // the registration, then three messages
    ASSERT_FALSE(remote.empty());
    remote.erase(remote.begin());
    size_t frame = 0;
    size_t message = 0;
    for (const json& r : routes) {
        const json& plan = r["channels"]["orvEvent"];
        if (!plan.is_null()) {
            ASSERT_LT(frame, frames.size());
            EXPECT_EQ(frames[frame]["priority"], plan["priority"]);
            EXPECT_EQ(frames[frame++]["text"], plan["text"]);
        }
        const json& sent = r["channels"]["remote"];
        if (sent.is_null())
            continue;
        ASSERT_LT(message, remote.size());
        const json& record = remote[message++];
        EXPECT_EQ(record["type"], sent["type"]);
        EXPECT_EQ(record["subtype"], sent["subtype"]);
        EXPECT_EQ(record["event"]["severity"], sent["severity"]);
        EXPECT_EQ(record["event"].value("text", "").rfind(sent["text"].get<std::string>() + "-SEQ", 0), 0u) << record;
        if (sent["alarmState"].is_null()) {
            EXPECT_TRUE(record["event"].value("alarm", json()).is_null()) << record;
        } else {
            EXPECT_EQ(record["event"]["alarm"]["state"], sent["alarmState"]);
        }
    }
    EXPECT_EQ(frame, frames.size());
    EXPECT_EQ(message, remote.size());

    // Email channel: one mail per matching line, with the subject foreseen.
    std::multiset<std::pair<std::string, std::string>> foreseen;
    for (const json& r : routes) {
        for (const json& mail : r["channels"]["email"])
            foreseen.insert({ mail["recipients"].get<std::string>(), mail["subject"].get<std::string>() });
    }
    EXPECT_EQ(foreseen.size(), 3u);
    std::multiset<std::pair<std::string, std::string>> mailed;
    for (const std::string& file : filesIn(m_box.hostPath(sandboxSpoolDir))) {
        const std::string mail = "\n" + fileText(file);
        mailed.insert({ headerOf(mail, "X-Envelope-To"), headerOf(mail, "Subject") });
    }
    EXPECT_EQ(mailed, foreseen);
}

TEST_F(OperatorTools, RouteShowsChannelsNotAskedForAndRefusesUnknownClasses)
{
    useSampleConfig();
    const json r = route(event("list.suspect.info"));
    EXPECT_EQ(r["class"], "list.suspect.info");
    EXPECT_TRUE(r["channels"]["orvEvent"].is_null());
    EXPECT_TRUE(r["channels"]["remote"].is_null());
    EXPECT_TRUE(r["channels"]["email"].is_null());
    EXPECT_EQ(r["channels"]["message"]["logs"], json({ "platform", "domain-A", "domain-C" }));

    std::ofstream(m_box.root() + "/unknown.json") << event("no.such.class").dump();
    ProcessResult result = m_box.orvEventInside({ "route", "/run/sandbox/unknown.json" });
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_NE(result.output.find("unknown event class no.such.class"), std::string::npos) << result.output;
}

TEST_F(OperatorTools, CheckConfigNamesEachProblemWithItsLine)
{
    useSampleConfig();
    m_box.writeFile(
        sandboxConfigDir + "scripts/spool_mail", fileText(KAV_SOURCE_DIR "/config/scripts/spool_mail"), 0755);
    ProcessResult result = m_box.orvEventInside({ "check-config" });
    EXPECT_EQ(result.exitStatus, 0) << result.output;
    EXPECT_EQ(result.output, "");

    json db = json::parse(fileText(KAV_SOURCE_DIR "/config/eventdb.json"));
    db["bad.entry"] = { { "channels", { "nosuch" } } };
    m_box.writeEventDB(db.dump());
    const std::string ok = " .* fault.tpl kav@x Y a@x spool_mail\n";
    m_box.writeFile(sandboxConfigDir + "event_email.cf",
        "# comment\n^fault\\." + ok
            + "^fault\\. .* fault.tpl kav@x Y a@x\n"
              "^fault\\. .* fault.tpl kav@x Y a@x b@x spool_mail\n(a)\\1"
            + ok
            + "^fault\\. [A- fault.tpl kav@x Y a@x spool_mail\n"
              "^fault\\. .* fault.tpl kav@x YES a@x spool_mail\n^fault\\. .* missing.tpl kav@x Y a@x spool_mail\n"
              "^fault\\. .* long.tpl kav@x Y a@x noexec\n^fault\\. .* fault.tpl kav@x Y a@x nosuch\ncaf\xc3\xa9"
            + ok + "^x" + ok);
    m_box.writeFile(sandboxConfigDir + "templates/long.tpl", "Subject: x\nok\n" + std::string(300, 'x') + "\nafter\n");
    m_box.writeFile(sandboxConfigDir + "scripts/noexec", "#!/bin/sh\n", 0644);

    result = m_box.orvEventInside({ "check-config" });
    EXPECT_EQ(result.exitStatus, 1);
    const std::string ecf = sandboxConfigDir + "event_email.cf:";
    for (const std::string& expected :
        { sandboxConfigDir + "eventdb.json:bad.entry: entry left out: ", ecf + "3: Bad line in ECF file\n",
            ecf + "4: Bad line in ECF file - Too many fields; KAV_BAD_EMAILRECIPIENTS: ",
            ecf + "5: Bad message class regular expresion <(a)\\1>", ecf + "6: Bad domain expresion <[A->",
            ecf + "7: Bad Include-event? field expression <YES>", ecf + "8: KAV_EMAIL_FILE_NOTFOUND: ",
            ecf + "9: script " + sandboxConfigDir + "scripts/noexec is not executable\n",
            sandboxConfigDir + "templates/long.tpl:3: line longer than 249 characters",
            ecf + "10: KAV_EMAIL_FILE_NOTFOUND: ", ecf + "11: Non ascii characters" })
        EXPECT_NE(result.output.find(expected), std::string::npos) << expected << "\n" << result.output;
    EXPECT_EQ(result.output.find(ecf + "12:"), std::string::npos);
    EXPECT_EQ(std::count(result.output.begin(), result.output.end(), '\n'), 11) << result.output;
}

}
