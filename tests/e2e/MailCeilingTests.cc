// The ceiling on mail: with the journal, mails over it wait and go out as
// it allows, oldest first, none lost and none early; without a journal the
// daemon does not start with one.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "platform/framework/DoorClient.h"
#include "tests/e2e/SandboxEvents.h"

using namespace sandbox;

namespace {

// Each mail the script is handed: when (ns since the epoch), the event's
// code (the subject) and the recipients.
const std::string sentInside = spool + "/sent";
const std::string stampingScript = R"sh(#!/bin/sh
subject=$(grep -m1 '^Subject: ' "$1" | cut -c10- | tr -d '\r')
printf '%s %s %s\n' "$(date +%s%N)" "$subject" "$2" >> )sh"
    + sentInside + "\n";

struct Sent {
    int64_t nanos = 0;
    std::string code;
    std::string recipient;
};

class MailCeilingTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_box.writeEventDB(json { { "test.mail", sampleEntry({ "email" }, 2, 0, "T") } }.dump());
        m_box.writeFile(config + "scripts/stamp", stampingScript, 0755);
        m_box.writeFile(config + "templates/t.tpl", "Subject: <EVENT_CODE>\n");
        m_box.writeFile(config + "event_email.cf",
            "^test\\.mail$ .* t.tpl kav@x Y ops@x stamp\n^test\\.mail$ .* t.tpl kav@x Y lab@x stamp\n");
        m_box.writeFile(sentInside, "");
    }

    std::vector<Sent> sent() const
    {
        std::vector<Sent> mails;
        std::istringstream lines(m_box.readFile(sentInside));
        for (Sent mail; lines >> mail.nanos >> mail.code >> mail.recipient;)
            mails.push_back(mail);
        return mails;
    }

    DaemonSandbox m_box;
};

// 15 events for two recipient lines at 10 mails a minute: the k-th mail
// goes out no sooner than k ceiling spacings (6 s) after the first event
// came, whichever lane it is in.
TEST_F(MailCeilingTest, MailsOverTheCeilingWaitAndAllGoOutOldestFirst)
{
    orv::framework::DoorClient client = m_box.kavClient();
    ASSERT_TRUE(
        m_box.startKav("0", { { "ORV_JOURNAL", "/var/opt/KTRXORV/ORV/kav/journal.db" }, { "ORV_MAIL_RATE", "10" } }));
    constexpr int events = 15;
    constexpr size_t mails = 2 * events;
    constexpr int64_t spacingNanos = 6'000'000'000;
    const int64_t firstCame
        = std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now().time_since_epoch())
              .count();
    for (int i = 0; i < events; ++i) {
        const std::vector<char> packed = packEvent(sampleEvent("test.mail", "M" + std::to_string(10 + i)));
        orv::framework::DoorReply reply;
        ASSERT_EQ(client.call(0, packed.data(), packed.size(), reply), 0);
        ASSERT_EQ(reply.status, 0);
    }
    // One at a time: each comes within a spacing of the one before.
    for (size_t count = 1; count <= mails; ++count)
        ASSERT_TRUE(eventuallyTrue([&] { return sent().size() >= count; })) << count - 1 << " mails went out";
    ASSERT_TRUE(eventuallyTrue([&] { return m_box.kavStats()["journal"]["pending"] == 0; }));

    const std::vector<Sent> out = sent();
    ASSERT_EQ(out.size(), mails);
    for (size_t k = 0; k < mails; ++k) {
        EXPECT_GE(out[k].nanos, firstCame + int64_t(k) * spacingNanos) << "mail " << k << " early";
        EXPECT_EQ(out[k].code, "M" + std::to_string(10 + k / 2)) << k;
        EXPECT_EQ(out[k].recipient, k % 2 == 0 ? "ops@x" : "lab@x") << k;
    }
    // All but the first waited.
    EXPECT_EQ(m_box.kavStats()["journal"]["mailDeferred"], mails - 1);
    const ProcessResult prometheus = m_box.orvEvent({ "stats", "--prometheus" });
    EXPECT_NE(prometheus.output.find("\nkav_mail_deferred_total 29\n"), std::string::npos) << prometheus.output;
    EXPECT_EQ(m_box.stopKav(), 0);
}

TEST_F(MailCeilingTest, ACeilingWithoutAJournalIsRefusedAtStart)
{
    EXPECT_FALSE(m_box.startKav("0", { { "ORV_MAIL_RATE", "10" } }));
    EXPECT_EQ(m_box.stopKav(), 78);
    EXPECT_EQ(countContaining(m_box.logTexts("platform"),
                  "KAV_MAIL_RATE_WITHOUT_JOURNAL: ORV_MAIL_RATE=10 needs the event journal (ORV_JOURNAL)"),
        1u);
    // check-config says so before the daemon is started.
    const ProcessResult checked
        = m_box.orvEventInside({ "check-config" }, { { "ORV_MAIL_RATE", "10" }, { "ORV_JOURNAL", unsetVar } });
    EXPECT_EQ(checked.exitStatus, 1);
    EXPECT_NE(checked.output.find("journal: ORV_MAIL_RATE=10: a ceiling on mail needs ORV_JOURNAL"), std::string::npos)
        << checked.output;
}

}
