// The real daemon with all four channels, the front-end and proxy
// stand-ins and the spooling mail script: an event's bytes reach every far
// end unchanged, whatever they are.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include <nlohmann/json.hpp>

#include "platform/text/Base64.h"
#include "tests/e2e/DaemonSandbox.h"
#include "platform/event/EventCodec.h"

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

std::string fileText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string hexOf(const std::string& bytes)
{
    std::string hex;
    char digits[3];
    for (char byte : bytes) {
        snprintf(digits, sizeof digits, "%02x", static_cast<unsigned char>(byte));
        hex += digits;
    }
    return hex;
}

json base64Text(const std::string& bytes)
{
    return { { "base64", orv::text::base64Encode(bytes) } };
}

class BytesE2E : public ::testing::Test {
protected:
    // Every channel for `eventClass`, and one mail line for it with the
    // packed event attached.
    void start(const std::string& eventClass, const std::string& domain)
    {
        m_box.writeEventDB(json { { eventClass,
                                      { { "channels", { "message", "orvEvent", "remote", "email" } }, { "severity", 5 },
                                          { "priority", 1 }, { "reportingType", 0 }, { "reportingSubtype", "fault" },
                                          { "messageNumber", 7001 }, { "args", { "{class}", "{code}" } } } } }
                               .dump());
        const std::string config = sandboxConfigDir;
        m_box.writeFile(config + "scripts/spool_mail", fileText(KAV_SOURCE_DIR "/config/scripts/spool_mail"), 0755);
        m_box.writeFile(config + "templates/t.tpl", "Subject: <EVENT_CLASS>\nbody\n");
        std::string pattern = eventClass;
        for (size_t at = pattern.find('.'); at != std::string::npos; at = pattern.find('.', at + 2))
            pattern.replace(at, 1, "\\.");
        m_box.writeFile(config + "event_email.cf",
            "^" + pattern + "$ " + domain + " t.tpl kav@sc0.example Y ops@example.com spool_mail\n");
        ASSERT_TRUE(m_box.startSink());
        ASSERT_TRUE(m_box.startProxy());
        ASSERT_TRUE(m_box.startKav("0", withClientLibrary));
    }

    // The one frame, the senddata record and the one mail's parts.
    void collect()
    {
        std::vector<std::string> frames = m_box.frames();
        ASSERT_EQ(frames.size(), 1u);
        m_frame = json::parse(frames[0]);
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (m_record.is_null() && std::chrono::steady_clock::now() < deadline) {
            for (const std::string& line : m_box.proxyLines()) {
                json record = json::parse(line, nullptr, false);
                if (!record.is_discarded() && record.value("call", "") == "senddata")
                    m_record = record;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        ASSERT_FALSE(m_record.is_null());
        std::vector<std::string> argv { "/usr/bin/env", "python3", EMAIL_E2E_DIR "/describe_mail.py" };
        for (const auto& file : fs::directory_iterator(m_box.hostPath(sandboxSpoolDir)))
            argv.push_back(file.path());
        ASSERT_EQ(argv.size(), 4u);
        ProcessResult described = runProcess(argv);
        ASSERT_EQ(described.exitStatus, 0) << described.output;
        m_mail = json::parse(described.output).at(0);
    }

    DaemonSandbox m_box;
    json m_frame;
    json m_record;
    json m_mail;
};

}

TEST_F(BytesE2E, TextsThatAreNotUtf8ArriveUnchanged)
{
    start("test.bytes", "[A-R]");
    const json event = { { "class", "test.bytes" },
        { "code",
            base64Text("\xff\xfe"
                       "12") },
        { "type", "FAULT" }, { "timestamp", 1700000000 }, { "diagEngName", "diagA" }, { "diagEngVersion", "2.0" },
        { "domainsAffected", "A" }, { "platformCSN", base64Text("\x80\x81") }, { "platformModel", "M15" },
        { "classes", { "test.bytes" } }, { "indictment", { "CPU0" } } };
    ProcessResult posted = m_box.post(event.dump());
    ASSERT_EQ(posted.exitStatus, 0) << posted.output;
    const std::vector<char> packed = orv::event::pack(orv::event::fromJson(event));
    collect();

    EXPECT_EQ(m_frame["text"],
        base64Text("test.bytes:\xff\xfe"
                   "12:\x80\x81"));
    const std::string text = "\xff\xfe"
                             "12,\x80\x81-SEQ00000000";
    EXPECT_EQ(m_record["event"]["text"], base64Text(text));
    EXPECT_EQ(m_record["event"]["textLength"], text.size());
    EXPECT_EQ(m_record["event"]["alarm"]["id"],
        base64Text("\xff\xfe"
                   "12"));
    EXPECT_EQ(m_record["data"]["base64"], orv::text::base64Encode(std::string(packed.begin(), packed.end())));
    ASSERT_EQ(m_mail["parts"].size(), 2u);
    EXPECT_EQ(m_mail["parts"][1]["hex"], hexOf(std::string(packed.begin(), packed.end())));

    // The log lines show the bytes escaped.
    EXPECT_EQ(countContaining(m_box.logTexts("platform"), "MSG7001: test.bytes \\xff\\xfe12"), 1u);
}

namespace {

// Golden vectors from other producers: members of types the event does not
// use, empty numeric arrays, names unique per type, lists nested 40 deep.
struct Vector {
    std::string file;
    std::string eventClass;
    std::string code;
    std::string domain; // the first the event affects
};

void PrintTo(const Vector& vector, std::ostream* out)
{
    *out << vector.file;
}

class VectorE2E : public BytesE2E, public ::testing::WithParamInterface<Vector> { };

}

TEST_P(VectorE2E, ArrivesUnchangedAtEveryChannel)
{
    const Vector& vector = GetParam();
    start(vector.eventClass, vector.domain);
    const std::string path = KAV_TESTDATA_DIR "/" + vector.file;
    const std::string golden = fileText(path);
    ASSERT_FALSE(golden.empty()) << path;
    ProcessResult sent = m_box.orvEvent({ "send-raw", "0", path });
    ASSERT_EQ(sent.exitStatus, 0) << sent.output;
    collect();

    EXPECT_EQ(m_box.logTexts("domain-" + vector.domain),
        std::vector<std::string> { "MSG7001: " + vector.eventClass + " " + vector.code });
    EXPECT_EQ(m_frame["text"], vector.eventClass + ":" + vector.code + ":0123");
    EXPECT_EQ(m_record["event"]["text"], vector.code + ",0123-SEQ00000000");
    EXPECT_EQ(m_record["data"]["length"], golden.size());
    EXPECT_EQ(m_record["data"]["base64"], orv::text::base64Encode(golden));
    ASSERT_EQ(m_mail["parts"].size(), 2u);
    EXPECT_EQ(m_mail["parts"][1]["hex"], hexOf(golden));
    EXPECT_EQ(countContaining(m_box.logTexts("trace"), "KAV_OBJ_INSTANT_FAILED"), 0u);
}

INSTANTIATE_TEST_SUITE_P(GoldenVectors, VectorE2E,
    ::testing::Values(Vector { "event-extra-members.xdr", "fault.memory.dimm", "M7", "B" },
        Vector { "event-empty-arrays.xdr", "fault.cpu.l2", "E1", "A" },
        Vector { "event-unique-type.xdr", "fault.mem.ce", "C4", "A" },
        Vector { "event-deep.xdr", "fault.board.path", "D1", "A" }));
