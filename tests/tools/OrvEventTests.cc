// orv-event as users run it: packing, unpacking and door calls across processes.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/un.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/framework/DoorApplication.h"
#include "platform/framework/DoorPath.h"
#include "platform/framework/DoorService.h"
#include "platform/event/EventCodec.h"
#include "platform/io/FdGuard.h"
#include "tests/support/Process.h"
#include "tests/event/RandomMembers.h"
#include "tests/support/TempDir.h"

using orv::framework::doorPath;
using orv::io::FdGuard;

namespace {

const std::string tool = std::string(KAV_BUILD_DIR) + "/tools/orv-event/orv-event";

std::string readAll(const std::string& path)
{
    return TempDir::read(path);
}

// Records every call it gets and answers with a fixed status.
class RecordingService : public DoorService {
public:
    RecordingService(std::vector<std::pair<unsigned, std::string>>& calls, std::mutex& mutex)
        : DoorService(true)
        , m_calls(calls)
        , m_mutex(mutex)
    {
    }
    void methodDispatch() override
    {
        unsigned size = 0;
        getParam(size);
        std::string param(size, '\0');
        getVoidParam(param.data(), size);
        std::lock_guard lock(m_mutex);
        m_calls.emplace_back(getMethodID(), param);
        if (getMethodID() == 9)
            doorReturn(5);
    }

private:
    std::vector<std::pair<unsigned, std::string>>& m_calls;
    std::mutex& m_mutex;
};

class OrvEventTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_dir = m_temp.path("");
        m_env = { { "ORV_DOOR_DIR", m_dir + "/doors" }, { "ORV_LOG_DIR", m_dir + "/logs" } };
        setenv("ORV_LOG_DIR", (m_dir + "/logs").c_str(), 1);
        std::ofstream(m_dir + "/full.json") << R"({
            "class": "fault.cpu.ecache", "code": "X12", "type": "FAULT", "timestamp": 1700000000,
            "diagEngName": "diagA", "diagEngVersion": "2.0", "domainsAffected": "AC",
            "platformCSN": "0123", "platformModel": "M15",
            "classes": ["fault.cpu.ecache", "fault.io.x"], "indictment": ["CPU0", "CPU1", ""]})";
    }

    ProcessResult run(std::vector<std::string> args) const
    {
        args.insert(args.begin(), tool);
        return runProcess(args, m_env);
    }

    TempDir m_temp;
    std::string m_dir;
    EnvChanges m_env;
};

TEST_F(OrvEventTest, PackMatchesTheSuitesOwnBytesAndUnpacksBack)
{
    ProcessResult packed = run({ "pack", m_dir + "/full.json" });
    ASSERT_EQ(packed.exitStatus, 0);
    EXPECT_EQ(packed.output, readAll(std::string(KAV_TESTDATA_DIR) + "/event-full.xdr"));

    ProcessResult unpacked = run({ "unpack", std::string(KAV_TESTDATA_DIR) + "/event-full.xdr" });
    ASSERT_EQ(unpacked.exitStatus, 0);
    auto json = nlohmann::json::parse(unpacked.output);
    EXPECT_EQ(json["byteOrder"], "little");
    ASSERT_EQ(json["members"].size(), 11u);
    EXPECT_EQ(
        json["members"][0], nlohmann::json::parse(R"({"name":"class","type":"string","value":"fault.cpu.ecache"})"));
    EXPECT_EQ(json["members"][3], nlohmann::json::parse(R"({"name":"timestamp","type":"int64","value":1700000000})"));
}

// unpack | pack gives back the same bytes for the golden events and for
// random events of every type, texts that are not UTF-8, big-endian packing
// hosts, empty arrays, names unique per type and deep lists included.
TEST_F(OrvEventTest, UnpackThenPackGivesBackTheSameBytes)
{
    std::vector<std::string> files;
    for (const char* golden : { "event-full.xdr", "event-minimal.xdr", "event-extra-members.xdr",
             "event-empty-arrays.xdr", "event-unique-type.xdr", "event-deep.xdr" })
        files.push_back(std::string(KAV_TESTDATA_DIR) + "/" + golden);
    RandomMembers random(13);
    for (int i = 0; i < 20; ++i) {
        const std::vector<char> bytes
            = orv::event::pack(random.list(), i % 2 ? orv::event::ByteOrder::Big : orv::event::ByteOrder::Little);
        files.push_back(m_dir + "/random-" + std::to_string(i) + ".bin");
        std::ofstream(files.back(), std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    for (const std::string& file : files) {
        ProcessResult unpacked = run({ "unpack", file });
        ASSERT_EQ(unpacked.exitStatus, 0) << file << ": " << unpacked.output;
        std::ofstream(m_dir + "/typed.json") << unpacked.output;
        ProcessResult packed = run({ "pack", m_dir + "/typed.json" });
        ASSERT_EQ(packed.exitStatus, 0) << file << ": " << packed.output;
        EXPECT_EQ(packed.output, readAll(file)) << file << ":\n" << unpacked.output;
    }
}

TEST_F(OrvEventTest, ErrorsAreOneLineAndNonzero)
{
    std::ofstream(m_dir + "/bad.json") << R"({"class": 5})";
    std::ofstream(m_dir + "/garbage.bin") << "garbage";
    for (const auto& args : std::vector<std::vector<std::string>> { { "post", m_dir + "/bad.json" },
             { "post", m_dir + "/missing.json" }, { "post", m_dir + "/full.json" }, // no door
             { "unpack", m_dir + "/garbage.bin" }, { "call", "x", m_dir + "/full.json" } }) {
        ProcessResult result = run(args);
        EXPECT_NE(result.exitStatus, 0) << args[0];
        EXPECT_EQ(result.output.rfind("orv-event: ", 0), 0u) << result.output;
        EXPECT_EQ(std::count(result.output.begin(), result.output.end(), '\n'), 1) << result.output;
    }
    EXPECT_EQ(run({}).exitStatus, 2);
}

TEST_F(OrvEventTest, DoorCallsReachAServiceInAnotherProcess)
{
    setenv("ORV_DOOR_DIR", (m_dir + "/doors").c_str(), 1);
    std::vector<std::pair<unsigned, std::string>> calls;
    std::mutex mutex;
    DoorApplication server("TEST", 1, 1);
    ASSERT_EQ(server.registerObj(new RecordingService(calls, mutex), 0), 0);
    ASSERT_EQ(server.doorCreate(KAV_DOOR, 0), 0);
    std::thread serving([&] { server.handleEvents(); });

    std::ofstream(m_dir + "/raw.bin") << "raw bytes";
    std::ofstream(m_dir + "/binary.json") << R"({"class": "fault.a", "code": {"base64": "//4xMg=="}})";
    EXPECT_EQ(run({ "post", m_dir + "/binary.json" }).exitStatus, 0);
    EXPECT_EQ(run({ "post", m_dir + "/full.json" }).exitStatus, 0);
    EXPECT_EQ(run({ "test-email", m_dir + "/full.json" }).exitStatus, 0);
    EXPECT_EQ(run({ "call", "7", m_dir + "/full.json" }).exitStatus, 0);
    EXPECT_EQ(run({ "send-raw", "3", m_dir + "/raw.bin" }).exitStatus, 0);
    ProcessResult refused = run({ "call", "9", m_dir + "/full.json" });
    EXPECT_NE(refused.exitStatus, 0);
    EXPECT_NE(refused.output.find("status 5"), std::string::npos) << refused.output;

    server.requestStop();
    serving.join();
    std::string full = readAll(std::string(KAV_TESTDATA_DIR) + "/event-full.xdr");
    ASSERT_EQ(calls.size(), 6u);
    const std::vector<char> binary = orv::event::pack({ { "class", "fault.a" },
        { "code",
            "\xff\xfe"
            "12" } });
    EXPECT_EQ(calls[0], std::make_pair(0u, std::string(binary.begin(), binary.end())));
    EXPECT_EQ(calls[1], std::make_pair(0u, full));
    EXPECT_EQ(calls[2], std::make_pair(1u, full));
    EXPECT_EQ(calls[3].first, 7u);
    EXPECT_EQ(calls[4], std::make_pair(3u, std::string("raw bytes")));
}

TEST_F(OrvEventTest, GivesUpOnADaemonThatNeverAnswers)
{
    // A door that takes connections into its queue and never serves them.
    std::filesystem::create_directories(m_dir + "/doors");
    FdGuard door(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    setenv("ORV_DOOR_DIR", (m_dir + "/doors").c_str(), 1);
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    doorPath(KAV_DOOR).copy(address.sun_path, sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(door.get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(door.get(), 4), 0);

    auto start = std::chrono::steady_clock::now();
    ProcessResult result = run({ "--timeout", "0.5", "post", m_dir + "/full.json" });
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_NE(result.output.find("timed out"), std::string::npos) << result.output;

    for (const char* bad : { "0", "-2", "soon" })
        EXPECT_NE(run({ "--timeout", bad, "post", m_dir + "/full.json" }).exitStatus, 0) << bad;
}

}
