// The client library is looked for by each report until it can be loaded;
// the test's library folder starts empty and is filled while it runs.
#include <filesystem>

#include "cmd/kav/remote/RemoteReportingService.h"
#include "tests/remote/RemoteTestSupport.h"

namespace fs = std::filesystem;

TEST_F(RemoteTest, LibraryLoadedOnceItAppears)
{
    const fs::path installed = fs::path(LATE_QOB_DIR) / "libqobimapi.so.1";
    fs::remove(installed);
    RemoteReportingService service;
    EventDBEntry entry(entryFields());
    auto report = [&] { service.reportRemoteEvent(*event(), &entry); };

    report();
    fs::copy_file(PARTIAL_QOB_FILE, installed);
    report();
    fs::remove(installed);
    fs::copy_file(FAKE_QOB_FILE, installed);
    report();

    auto trace = lines("trace.log");
    ASSERT_EQ(trace.size(), 5u);
    const std::string missing = "Varnlink libqobimapi.so.1 library not available, dlopen rc = ";
    const std::string tail = ", remote reporting cannot be done.";
    for (int i : { 0, 2 }) {
        EXPECT_EQ(trace[i].rfind(missing, 0), 0u) << trace[i];
        EXPECT_EQ(trace[i].substr(trace[i].size() - tail.size()), tail);
        EXPECT_EQ(trace[i + 1].rfind("KAV_LOST_VARN: ", 0), 0u);
    }
    EXPECT_NE(trace[0].find("libqobimapi.so.1: cannot open shared object file"), std::string::npos);
    EXPECT_NE(trace[2].find("undefined symbol"), std::string::npos);
    EXPECT_EQ(lines("platform.log").size(), 2u);

    FakeQobState* fq = fake();
    ASSERT_TRUE(fq);
    EXPECT_EQ(fq->calls["register"], 1);
    EXPECT_EQ(fq->calls["senddata"], 1);
    EXPECT_EQ(trace[4],
        "EVENT-CLASS: fault.cpu.ecache; successfully sent to Varn proxy, set event text field to "
        "X12,0123-SEQ00000000");
}
