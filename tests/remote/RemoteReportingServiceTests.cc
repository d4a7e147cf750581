#include <cerrno>
#include <climits>
#include <cstddef>
#include <set>
#include <thread>

#include "cmd/kav/remote/RemoteReportingService.h"
#include "tests/remote/RemoteTestSupport.h"
#include "cmd/kav/remote/VarnCallbacks.h"

class RemoteReportingServicePeer {
public:
    static pthread_mutex_t& seqNumMutex(RemoteReportingService& s) { return s.seqNumMutex; }
    static void setSeqNum(RemoteReportingService& s, long value) { s.seqNum = value; }
};

namespace {

using Msg = RemoteReportingService::varnMsg_t;
using Lines = std::vector<std::string>;

const std::string sendError = "KAV_VARN_SEND_ERR: ";
const std::string lostVarn = "KAV_LOST_VARN: ";

bool startsWith(const std::string& line, const std::string& prefix)
{
    return line.rfind(prefix, 0) == 0;
}

// The lines that start with one of `prefixes`, in order.
Lines only(const Lines& all, const Lines& prefixes)
{
    Lines kept;
    for (const auto& line : all) {
        for (const auto& prefix : prefixes) {
            if (startsWith(line, prefix)) {
                kept.push_back(line);
                break;
            }
        }
    }
    return kept;
}

}

TEST_F(RemoteTest, ConnectionAndRegistrationResults)
{
    FakeQobState* fq = fake();
    ASSERT_TRUE(fq);
    delete new RemoteReportingService; // never connected: no call, no line
    EXPECT_EQ(fq->calls["register"], 0);
    EXPECT_EQ(fq->calls["close"], 0);
    EXPECT_TRUE(lines("trace.log").empty());

    for (int rc : { 2, 14, -1, 7 })
        fq->queued["register"].push_back(rc);
    RemoteReportingService service;
    EventDBEntry entry(entryFields());
    service.reportRemoteEvent(*event(), &entry);
    EXPECT_FALSE(service.connectToVarn());
    EXPECT_FALSE(service.connectToVarn());
    EXPECT_TRUE(service.connectToVarn());
    EXPECT_TRUE(service.connectToVarn());
    EXPECT_EQ(fq->calls["register"], 4);
    EXPECT_EQ(fq->calls["senddata"], 0);

    EXPECT_EQ(fq->app, "orv-kav");
    EXPECT_EQ(fq->version, KAV_VERSION);
    EXPECT_STREQ(fq->callback.command, "GETSTATUS");
    EXPECT_EQ(fq->callback.function, &get_im_status);
    EXPECT_EQ(std::vector<int>(fq->registerArgs, fq->registerArgs + 4), (std::vector<int> { 1, 0, 0, 2 }));
    Lines trace = lines("trace.log");
    ASSERT_EQ(trace.size(), 5u);
    EXPECT_EQ(trace[0], "Attempt to connect to Varn failed, rc = IM not registered.");
    EXPECT_TRUE(startsWith(trace[1], lostVarn));
    EXPECT_EQ(trace[2], "Attempt to connect to Varn failed, rc = unrecognized/invalid QOBReturnValue.");
    EXPECT_EQ(trace[3], trace[2]);
    EXPECT_EQ(trace[4],
        "Tried to connect to Varn when already connected, logic error, although execution will continue without "
        "error.");
    ASSERT_EQ(lines("platform.log").size(), 1u);
    EXPECT_TRUE(startsWith(lines("platform.log")[0], lostVarn));
    EXPECT_NE(lines("platform.log")[0].find("fault.cpu.ecache"), std::string::npos);
    EXPECT_STREQ(RemoteReportingService::getVarnStatusString(QOB_PROXY_MAINTENANCE), "proxy is in maintanance mode");
    EXPECT_STREQ(RemoteReportingService::getVarnStatusString(QOB_NO_CALLBACK), "no callback specified");
}

TEST_F(RemoteTest, MessageRecordsOfTheThreeKinds)
{
    FakeQobState* fq = fake();
    ASSERT_TRUE(fq);
    RemoteReportingService service;
    auto fields = entryFields();
    EventDBEntry alarm(fields);
    fields.reportingType = 1;
    fields.priority = 2;
    EventDBEntry notice(fields);
    fields.reportingType = 2;
    fields.priority = 0;
    EventDBEntry data(fields);

    service.reportRemoteEvent(*event(), &alarm);
    service.reportRemoteEvent(*event({ { "type", "fault" }, { "platformCSN", "" } }), &notice);
    service.reportRemoteEvent(*event(), &data);
    ASSERT_EQ(fq->sent.size(), 3u);

    const FakeQobSent& a = fq->sent[0];
    EXPECT_EQ(a.handle, varnCommHandle.load());
    EXPECT_EQ(a.target, "QOB_IM_TARGET");
    EXPECT_EQ(a.type, "ALARM");
    EXPECT_EQ(a.subtype, "fault");
    EXPECT_EQ(a.reserved, 0);
    EXPECT_EQ(a.eventAt, long(offsetof(Msg, event)));
    EXPECT_EQ(a.alarmAt, long(offsetof(Msg, alarm)));
    EXPECT_EQ(a.dataAt, long(offsetof(Msg, data)));
    EXPECT_EQ(a.hintsAt, long(offsetof(Msg, hints)));
    EXPECT_EQ(a.timestamp, 1700000000);
    EXPECT_EQ(a.origin, "diagA,2.0");
    EXPECT_EQ(a.severity, 5);
    EXPECT_EQ(a.text, "X12,0123-SEQ00000000");
    EXPECT_EQ(a.textLength, 20);
    EXPECT_EQ(a.alarmId, "X12");
    EXPECT_EQ(a.alarmState, "QOB_ALARM_OPEN");
    auto bytes = packed();
    EXPECT_EQ(a.bytes, std::string(bytes.begin(), bytes.end()));
    EXPECT_EQ(a.dataReserved, 0);
    EXPECT_EQ(a.format, "VKOEvent/libnvpair");
    EXPECT_EQ(std::vector<int>(a.hints, a.hints + 3), (std::vector<int> { 2, 1, 0 }));

    const FakeQobSent& e = fq->sent[1];
    EXPECT_EQ(e.type, "EVENT");
    EXPECT_EQ(e.origin, "orv-kav");
    EXPECT_EQ(e.text, "X12,-SEQ00000001");
    EXPECT_EQ(e.textLength, 16);
    EXPECT_EQ(e.alarmAt, 0);
    EXPECT_EQ(e.hints[0], 3);

    const FakeQobSent& d = fq->sent[2];
    EXPECT_EQ(d.type, "DATA");
    EXPECT_EQ(d.eventAt, 0);
    EXPECT_EQ(d.dataAt, long(offsetof(Msg, data)));
    EXPECT_EQ(d.bytes, a.bytes);
    EXPECT_EQ(d.hints[0], 1);

    EXPECT_EQ(lines("trace.log"),
        (Lines { "EVENT-CLASS: fault.cpu.ecache; successfully sent to Varn proxy, set event text field to "
                 "X12,0123-SEQ00000000",
            "EVENT-CLASS: fault.cpu.ecache; successfully sent to Varn proxy, set event text field to "
            "X12,-SEQ00000001" }));
    EXPECT_TRUE(lines("platform.log").empty());
}

TEST_F(RemoteTest, AbandonedReportsSendNothingAndKeepTheirNumber)
{
    FakeQobState* fq = fake();
    ASSERT_TRUE(fq);
    RemoteReportingService service;
    auto withField = [](auto change) {
        auto fields = entryFields();
        change(fields);
        return fields;
    };
    struct Case {
        EventDBEntry::Fields fields;
        std::vector<std::string> dropped;
        std::string trace;
    };
    const std::string cls = "EVENT-CLASS: fault.cpu.ecache; ";
    std::vector<Case> cases {
        { withField([](auto& f) { f.reportingSubtype.reset(); }), {},
            cls + "get EventReportingSubtype failed for EventDBEntry object, remote reporting aborted." },
        { withField([](auto& f) { f.priority = 3; }), {},
            cls + "eventPriority 3 from EventDBEntry invalid, remote reporting aborted." },
        { withField([](auto& f) { f.priority = -1; }), {},
            cls + "eventPriority -1 from EventDBEntry invalid, remote reporting aborted." },
        { withField([](auto& f) { f.reportingType = 3; }), {},
            cls + "eventReportingType 3 from EventDBEntry invalid, remote reporting aborted." },
        { withField([](auto& f) { f.severity = 8; }), { "code" },
            cls + "eventSeverity 8 from EventDBEntry invalid, remote reporting aborted." },
        { entryFields(), { "timestamp" }, "getEventTimestamp failed for DXAEvent object, remote reporting aborted." },
        { entryFields(), { "diagEngVersion" },
            "getDiagEngVersion failed for DXAEvent object, remote reporting aborted." },
        { entryFields(), { "code" }, "getEventCode failed for DXAEvent object, remote reporting aborted." },
        { entryFields(), { "platformCSN" },
            cls + "get SourcePlatformCSN failed for DXAEvent object, remote reporting aborted." },
        { entryFields(), { "class" }, "getEventClass failed for DXAEvent object, remote reporting aborted." },
    };
    for (const auto& c : cases) {
        EventDBEntry entry(c.fields);
        service.reportRemoteEvent(*event({}, c.dropped), &entry);
    }
    EXPECT_EQ(fq->calls["senddata"], 0);
    Lines expected;
    for (const auto& c : cases)
        expected.push_back(c.trace);
    EXPECT_EQ(lines("trace.log"), expected);
    Lines platform = lines("platform.log");
    ASSERT_EQ(platform.size(), cases.size());
    for (const auto& line : platform)
        EXPECT_TRUE(startsWith(line, "KAV_FAILED_REPORTING_ATTEMPT: ")) << line;
    EXPECT_NE(platform.front().find("fault.cpu.ecache"), std::string::npos);
    EXPECT_NE(platform.back().find("unknown"), std::string::npos);

    EventDBEntry entry(entryFields());
    service.reportRemoteEvent(*event(), &entry);
    ASSERT_EQ(fq->calls["senddata"], 1);
    EXPECT_EQ(fq->sent[0].text, "X12,0123-SEQ00000000");
}

TEST_F(RemoteTest, FailedSendsReconnectOnce)
{
    FakeQobState* fq = fake();
    ASSERT_TRUE(fq);
    RemoteReportingService service;
    EventDBEntry entry(entryFields());
    auto report = [&] { service.reportRemoteEvent(*event(), &entry); };

    fq->queued["senddata"].push_back(4); // lost, reconnected, sent again
    report();
    EXPECT_EQ(fq->calls["register"], 2);
    ASSERT_EQ(fq->calls["senddata"], 2);
    EXPECT_EQ(fq->sent[1].text, fq->sent[0].text);
    EXPECT_NE(fq->sent[1].handle, fq->sent[0].handle);
    EXPECT_EQ(fq->sent[1].handle, varnCommHandle.load());

    fq->queued["senddata"].push_back(4); // the repeated send fails too
    fq->queued["senddata"].push_back(3);
    report();
    fq->queued["senddata"].push_back(3); // not a lost connection: no second try
    report();
    EXPECT_EQ(fq->calls["register"], 3);
    EXPECT_EQ(fq->calls["senddata"], 5);

    fq->queued["senddata"].push_back(2); // lost, and the proxy refuses to register again
    fq->queued["register"].push_back(2);
    report();
    EXPECT_EQ(fq->calls["senddata"], 6);
    report(); // starts by connecting
    EXPECT_EQ(fq->calls["register"], 5);
    EXPECT_EQ(fq->calls["senddata"], 7);
    EXPECT_EQ(fq->sent[6].text, "X12,0123-SEQ00000004");

    Lines trace
        = only(lines("trace.log"), { sendError, "Attempt", "EVENT-CLASS: fault.cpu.ecache; successfully sent" });
    ASSERT_EQ(trace.size(), 9u);
    EXPECT_TRUE(startsWith(trace[1], sendError) && trace[1].find("invalid parameter") != std::string::npos);
    EXPECT_TRUE(startsWith(trace[2], "EVENT-CLASS")) << "the success line follows a failed send";
    EXPECT_TRUE(startsWith(trace[3], sendError) && trace[3].find("invalid parameter") != std::string::npos);
    EXPECT_EQ(trace[5], "Attempt to connect to Varn failed, rc = IM not registered.");
    EXPECT_TRUE(startsWith(trace[6], sendError) && trace[6].find("IM not registered") != std::string::npos);
    EXPECT_EQ(only(lines("platform.log"), { sendError }).size(), 3u);
}

TEST_F(RemoteTest, ConcurrentReportsRegisterOnceAndNumberDistinctly)
{
    FakeQobState* fq = fake();
    ASSERT_TRUE(fq);
    RemoteReportingService service;
    fq->registerDelayMs = 100;
    std::thread first([&] { EXPECT_TRUE(service.connectToVarn()); });
    std::thread second([&] { EXPECT_TRUE(service.connectToVarn()); });
    first.join();
    second.join();
    EXPECT_EQ(fq->calls["register"], 1);

    // Reconnections replace the handle while other threads send with it.
    fq->registerDelayMs = 1;
    for (int i = 0; i < 6; ++i)
        fq->queued["senddata"].push_back(4);
    EventDBEntry entry(entryFields());
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 25; ++i)
                service.reportRemoteEvent(*event(), &entry);
        });
    }
    for (auto& thread : threads)
        thread.join();
    std::set<std::string> texts;
    for (const auto& sent : fq->sent)
        texts.insert(sent.text);
    ASSERT_EQ(texts.size(), 100u);
    EXPECT_EQ(*texts.rbegin(), "X12,0123-SEQ00000099");
}

TEST_F(RemoteTest, SequenceNumberWidthAndWrap)
{
    FakeQobState* fq = fake();
    ASSERT_TRUE(fq);
    RemoteReportingService service;
    EventDBEntry entry(entryFields());
    RemoteReportingServicePeer::setSeqNum(service, 99999999);
    service.reportRemoteEvent(*event(), &entry);
    service.reportRemoteEvent(*event(), &entry);
    RemoteReportingServicePeer::setSeqNum(service, LONG_MAX);
    service.reportRemoteEvent(*event(), &entry);
    service.reportRemoteEvent(*event(), &entry);
    EXPECT_EQ(fq->sent[0].text, "X12,0123-SEQ99999999");
    EXPECT_EQ(fq->sent[1].text, "X12,0123-SEQ100000000");
    EXPECT_EQ(fq->sent[2].text, "X12,0123-SEQ9223372036854775807");
    EXPECT_EQ(fq->sent[3].text, "X12,0123-SEQ00000000");
}

TEST_F(RemoteTest, StatusCallbackAndShutdown)
{
    FakeQobState* fq = fake();
    ASSERT_TRUE(fq);
    auto* service = new RemoteReportingService;
    ASSERT_TRUE(service->connectToVarn());
    QOBHandle handle = varnCommHandle.load();

    fq->queued["sendstatus"].push_back(5);
    int rc = -1;
    std::thread([&] { rc = fq->callback.function(); }).join(); // as the library calls it
    EXPECT_EQ(rc, 5);
    EXPECT_EQ(fq->statusHandle, handle);
    EXPECT_EQ(fq->statusComponent, "QOB_IM_TARGET");
    EXPECT_EQ(fq->status, 0);
    EXPECT_EQ(fq->statusCount, 1);

    // A lock still held at shutdown is reported and left to its holder.
    pthread_mutex_t& held = RemoteReportingServicePeer::seqNumMutex(*service);
    ASSERT_EQ(pthread_mutex_lock(&held), 0);
    delete service;
    EXPECT_EQ(fq->closed, handle);
    EXPECT_EQ(lines("trace.log"),
        (Lines { "KAV shutdown: Closing connection to Varn proxy.",
            "KAV shutdown: seqNumMutex in unexpected EBUSY state.",
            "KAV shutdown: seqNumMutex in unexpected state, rc = " + std::to_string(EBUSY) }));
}
