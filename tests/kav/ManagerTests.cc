// The dispatch manager with channels whose construction fails.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/event/DXAEvent.h"
#include "platform/framework/DoorApplication.h"
#include "cmd/kav/email/EmailReportingService.h"
#include "platform/event/EventCodec.h"
#include "platform/event/EventDB.h"
#include "cmd/kav/KAVManager.h"
#include "cmd/kav/KAVWorkArea.h"
#include "platform/log/Log.h"
#include "cmd/kav/message/MessageReportingService.h"
#include "cmd/kav/frontend/OrvEventReportingService.h"
#include "cmd/kav/remote/RemoteReportingService.h"
#include "tests/support/TempDir.h"

namespace {

class ManagerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_dir = m_temp.path("");
        setenv("ORV_LOG_DIR", m_dir.c_str(), 1);
        setenv("ORV_LOG_LEVEL", "2", 1);
        reopenLogFiles();
        std::ofstream(m_dir + "/eventdb.json") << R"({"test.remote.email": {"channels": ["remote", "email"],
            "severity": 2, "priority": 0, "reportingType": 1, "reportingSubtype": "T", "messageNumber": 7001, "args": []},
            "test.message": {"channels": ["message"], "severity": 2, "messageNumber": 7001, "args": ["{class}"]},
            "test.typo": {"channels": ["message"], "severty": 2}})";
        m_factory = KAVChannelFactory::standard();
        m_factory.eventDB = [this] { return std::make_unique<EventDB>(m_dir + "/eventdb.json"); };
        // No proxy and no mail here: only the manager's own lines matter.
        setenv("QOB_PROXY_SOCKET", (m_dir + "/no-proxy").c_str(), 1);
    }
    std::vector<std::string> texts(const std::string& file) const
    {
        std::ifstream in(m_dir + "/" + file);
        std::vector<std::string> result;
        for (std::string line; std::getline(in, line);) {
            // Keep what follows "<file>:<line> ".
            size_t at = line.find(".cc:");
            result.push_back(line.substr(line.find(' ', at) + 1));
        }
        return result;
    }

    static void report(KAVManager& manager, const std::string& eventClass)
    {
        auto packed = orv::event::pack({ { "class", eventClass }, { "domainsAffected", std::string("A") } });
        DXAEvent event(packed.data(), static_cast<unsigned>(packed.size()));
        manager.reportEvent(event);
    }

    TempDir m_temp;
    std::string m_dir;
    KAVChannelFactory m_factory;
};

bool contains(const std::vector<std::string>& lines, const std::string& text)
{
    for (const auto& line : lines) {
        if (line.find(text) != std::string::npos)
            return true;
    }
    return false;
}

TEST_F(ManagerTest, ChannelWhoseConstructionThrowsIsSwitchedOff)
{
    m_factory.remote = []() -> std::unique_ptr<RemoteReportingService> { throw std::runtime_error("no locks"); };
    {
        KAVManager manager(m_factory);
        report(manager, "test.remote.email");
    }
    auto trace = texts("trace.log");
    auto platform = texts("platform.log");
    EXPECT_TRUE(contains(trace, "KAV_INIT_CHANNEL_FAILED: The remote reporting channel"));
    // Progress lines stay in the trace log after the failure pair.
    EXPECT_TRUE(contains(platform, "KAV_INIT_CHANNEL_FAILED: "));
    EXPECT_FALSE(contains(platform, "KAV init: "));
    EXPECT_TRUE(contains(trace, "KAV init: Creating EmailReportingService object."));

    EXPECT_TRUE(contains(
        trace, "EVENT-CLASS: test.remote.email not sent to remote reporting because remote reporting disabled."));
    EXPECT_TRUE(contains(trace, "EVENT-CLASS: test.remote.email sent to email reporting service."));
    EXPECT_TRUE(contains(trace, "KAV shutdown: Deleting EmailReportingService object."));
    EXPECT_FALSE(contains(trace, "KAV shutdown: Deleting RemoteReportingService object."));
}

TEST_F(ManagerTest, EveryChannelCanFailAlone)
{
    m_factory.message = []() -> std::unique_ptr<MessageReportingService> { throw 0; };
    m_factory.orvEvent = []() -> std::unique_ptr<OrvEventReportingService> { throw 0; };
    m_factory.email = []() -> std::unique_ptr<EmailReportingService> { throw 0; };
    {
        KAVManager manager(m_factory);
        report(manager, "test.remote.email");
    }
    auto trace = texts("trace.log");
    for (const char* word : { "message", "ORV event", "email" })
        EXPECT_TRUE(contains(trace, std::string("The ") + word + " reporting channel could not be created")) << word;
    EXPECT_TRUE(contains(trace, "EVENT-CLASS: test.remote.email sent to remote reporting service."));
    EXPECT_TRUE(contains(
        trace, "EVENT-CLASS: test.remote.email not sent to email reporting because email reporting disabled."));
    EXPECT_TRUE(contains(trace, "KAV shutdown: Deleting RemoteReportingService object."));
    EXPECT_FALSE(contains(trace, "Deleting MessageReportingService"));
    EXPECT_FALSE(contains(trace, "Deleting OrvEventReportingService"));
    EXPECT_FALSE(contains(trace, "Deleting EmailReportingService"));
}

TEST_F(ManagerTest, WithoutDatabaseEveryClassIsUnknown)
{
    m_factory.eventDB
        = []() -> std::unique_ptr<EventDB> { return std::make_unique<EventDB>("/nonexistent/eventdb.json"); };
    {
        KAVManager manager(m_factory);
        report(manager, "test.remote.email");
    }
    auto trace = texts("trace.log");
    EXPECT_TRUE(contains(trace, "KAV_INIT_EVENTDB_FAILED: "));
    EXPECT_FALSE(contains(trace, "Creating MessageReportingService"));
    EXPECT_TRUE(contains(trace, "KAV_UNKNOWN_EVENT_CLASS: Event class test.remote.email"));
    EXPECT_FALSE(contains(trace, "sent to"));
    // The trace names the file and why it could not be loaded.
    EXPECT_TRUE(contains(trace, "KAV init: event database /nonexistent/eventdb.json: cannot open: "));
}

// A database that opens but cannot be read (here a directory): the trace
// names the file and the reason the read gave.
TEST_F(ManagerTest, UnreadableEventDatabaseIsNamedWithTheReason)
{
    m_factory.eventDB = [this] { return std::make_unique<EventDB>(m_dir); };
    {
        KAVManager manager(m_factory);
    }
    EXPECT_TRUE(contains(texts("trace.log"), "KAV init: event database " + m_dir + ": cannot read: Is a directory"));
}

TEST_F(ManagerTest, FaultyEntryIsNamedAndSkipped)
{
    {
        KAVManager manager(m_factory);
        report(manager, "test.typo");
        report(manager, "test.message");
    }
    auto trace = texts("trace.log");
    auto platform = texts("platform.log");
    EXPECT_TRUE(contains(trace, "EVENT-CLASS: test.typo; event database entry skipped: key \"severty\": unknown key."));
    EXPECT_TRUE(contains(platform,
        "KAV_EVENTDB_BAD_ENTRY: The event database entry for event class test.typo is skipped: key \"severty\": "
        "unknown key."));
    EXPECT_TRUE(contains(trace, "KAV_UNKNOWN_EVENT_CLASS: Event class test.typo"));
    EXPECT_TRUE(contains(platform, "MSG7001: test.message"));
}

// A door thread's last selection is the domain log of the event it
// reported; the next call's own lines must not land there.
TEST_F(ManagerTest, DoorCallErrorsNeverGoToALeftoverDomainLog)
{
    setenv("ORV_LOG_LEVEL", "0", 1);
    reopenLogFiles();
    {
        KAVManager manager(m_factory);
        report(manager, "test.message");
        // Outside a door call the method id is unknown: the unrecognised-method path.
        manager.methodDispatch();
    }
    EXPECT_EQ(texts("domain-A.log"), std::vector<std::string> { "MSG7001: test.message" });
    EXPECT_TRUE(contains(texts("trace.log"), "UNRECOGNIZED_METHOD_ID: "));
    EXPECT_TRUE(contains(texts("trace.log"), "In methodDispatch(), methodID = "));
    EXPECT_TRUE(contains(texts("platform.log"), "UNRECOGNIZED_METHOD_ID: "));
}

}

// A server that refuses the manager leaves it to the work area to delete:
// the leak checker of the sanitizer build catches a manager left behind.
TEST_F(ManagerTest, WorkAreaDeletesAManagerTheServerRefuses)
{
    setenv("ORV_EVENTDB", (m_dir + "/eventdb.json").c_str(), 1);
    DoorApplication server("kav-test", 1, 0);
    ASSERT_EQ(server.registerObj(new KAVManager(m_factory), 0), 0);
    Application* previous = theApplication;
    theApplication = &server;
    KAVWorkArea workArea;
    EXPECT_EQ(workArea.createWorkArea(), EEXIST);
    theApplication = previous;
    unsetenv("ORV_EVENTDB");
}
