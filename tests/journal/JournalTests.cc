#include <filesystem>
#include <fstream>
#include <vector>

#include <sys/stat.h>

#include <gtest/gtest.h>

#include "cmd/kav/journal/Journal.h"
#include "cmd/kav/journal/JournalStore.h"
#include "platform/log/LogWatch.h"
#include "platform/log/MessageIds.h"
#include "tests/support/TempDir.h"

using namespace orv::journal;

namespace {

// The catalogued lines logged on this thread, kept out of the log files.
class PlatformLines : public orv::log::LogWatch {
public:
    void lineLogged(const Line& line) override
    {
        if (line.id != 0)
            ids.push_back(line.id);
    }
    bool keepsLines() const override { return false; }
    std::vector<int> ids;
};

NewEvent sampleEvent(Millis received,
    std::vector<NewDelivery> deliveries = { { Channel::Message, std::nullopt, State::Delivered },
        { Channel::OrvEvent, std::nullopt }, { Channel::Email, "ops:*:tmpl:send_mail:root" } })
{
    NewEvent event;
    event.packed = { 'p', 'a', 'c', 'k', '\0', 'e', 'd' };
    event.received = received;
    event.eventClass = "fault.cpu.ecache";
    event.code = "CPU-8000-1A";
    event.deliveries = std::move(deliveries);
    return event;
}

JournalSettings settingsAt(const std::string& path)
{
    JournalSettings settings;
    settings.path = path;
    return settings;
}

}

TEST(JournalStore, KeepsEventsAndDeliveryStatesAcrossReopening)
{
    TempDir dir;
    const std::string path = dir.path("new/folder/journal.db");
    int64_t id = 0;
    {
        JournalStore store(path, SyncMode::Full);
        id = store.record(sampleEvent(1000));
        // The logs are written before the commit: never pending.
        const auto pending = store.pending();
        ASSERT_EQ(pending.size(), 2u);
        store.failed(pending[0].id, "front-end refused", 5000);
        store.givenUp(pending[1].id, "script exited 1", 6000);
        EXPECT_EQ(store.nextSequence("remote"), 0);
        EXPECT_EQ(store.deliverySequence(pending[0].id, "remote"), 1);
        EXPECT_EQ(store.deliverySequence(pending[0].id, "remote"), 1);
    }
    struct stat info { };
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);

    JournalStore store(path, SyncMode::Normal);
    EXPECT_EQ(store.nextSequence("remote"), 2);
    EXPECT_EQ(store.packed(id), sampleEvent(0).packed);
    const auto record = store.event(id);
    ASSERT_TRUE(record);
    EXPECT_EQ(record->eventClass, "fault.cpu.ecache");
    ASSERT_EQ(record->deliveries.size(), 3u);
    EXPECT_EQ(record->deliveries[0].state, State::Delivered);
    EXPECT_EQ(record->deliveries[1].state, State::Pending);
    EXPECT_EQ(record->deliveries[1].tries, 1);
    EXPECT_EQ(record->deliveries[1].nextTry, 5000);
    EXPECT_EQ(record->deliveries[1].lastError, "front-end refused");
    EXPECT_EQ(record->deliveries[2].state, State::GivenUp);
    EXPECT_EQ(record->deliveries[2].recipient, "ops:*:tmpl:send_mail:root");
    EXPECT_EQ(store.pendingCount(), 1);

    // Retry makes it due now; drop ends it, and a dropped delivery is not
    // brought back by a late failure report.
    EXPECT_EQ(store.retry(id, 2000), 1);
    EXPECT_EQ(store.pending().at(0).nextTry, 2000);
    EXPECT_EQ(store.drop(id, 2500), 1);
    store.failed(record->deliveries[1].id, "late", 9000);
    EXPECT_EQ(store.event(id)->deliveries[1].state, State::Dropped);
    EXPECT_EQ(store.pendingCount(), 0);
}

TEST(JournalStore, ReaderSeesWriterAndNewerSchemaIsRefused)
{
    TempDir dir;
    const std::string path = dir.path("journal.db");
    JournalStore writer(path, SyncMode::Normal);
    writer.record(sampleEvent(1000));
    writer.record(sampleEvent(2000, { { Channel::Remote, std::nullopt } }));

    JournalStore reader(path, JournalStore::Access::Read);
    const auto history = reader.history(1500);
    ASSERT_EQ(history.size(), 1u);
    EXPECT_EQ(history[0].deliveries.at(0).channel, Channel::Remote);
    EXPECT_EQ(reader.history(0).size(), 2u);

    sqlite3* raw = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &raw), SQLITE_OK);
    Database later(raw);
    execute(later.get(), "PRAGMA user_version = 99");
    try {
        JournalStore newer(path, SyncMode::Normal);
        FAIL() << "a file of a newer schema was opened";
    } catch (const JournalError& error) {
        EXPECT_EQ(error.failure(), Failure::Newer);
    }
}

// A file of the first schema is brought up to the current one with its
// events kept; hold-downs then last as long as they hold or have a count to
// give, and count only copies of their own hold-down.
TEST(JournalStore, FirstSchemaIsUpgradedAndHoldDownsAreKept)
{
    TempDir dir;
    const std::string path = dir.path("journal.db");
    {
        JournalStore store(path, SyncMode::Normal);
        store.record(sampleEvent(1000));
        sqlite3* raw = nullptr;
        ASSERT_EQ(sqlite3_open(path.c_str(), &raw), SQLITE_OK);
        Database first(raw);
        execute(first.get(),
            "DROP TABLE hold_down; DROP TABLE silence; ALTER TABLE event DROP COLUMN held_before; "
            "PRAGMA user_version = 1");
    }
    JournalStore store(path, SyncMode::Normal);
    EXPECT_EQ(store.history(0).size(), 1u);

    NewEvent reported = sampleEvent(2000);
    reported.heldBefore = 7;
    reported.holdDown = HoldDown { "quiet", 2000, 5000, 3, 0 };
    const int64_t id = store.record(reported);
    EXPECT_EQ(store.event(id)->heldBefore, 7);
    NewEvent storm = sampleEvent(2000, {});
    storm.holdDown = HoldDown { "storm", 2000, 5000, 3, 0 };
    store.record(storm);
    storm.holdDown->held = 1;
    store.record(storm);
    store.record(storm);
    storm.holdDown->reported = 1000;
    store.record(storm);

    const auto running = store.holdDowns(4000);
    ASSERT_EQ(running.size(), 2u);
    const auto after = store.holdDowns(6000);
    ASSERT_EQ(after.size(), 1u);
    EXPECT_EQ(after[0].key, "storm");
    EXPECT_EQ(after[0].held, 2);
    EXPECT_TRUE(store.holdDowns(8000).empty());
}

TEST(JournalStore, RemovesOnlyFinishedEvents)
{
    TempDir dir;
    JournalStore store(dir.path("journal.db"), SyncMode::Normal);
    const int64_t old = store.record(sampleEvent(1000, { { Channel::OrvEvent, std::nullopt } }));
    const int64_t waiting = store.record(sampleEvent(1000, { { Channel::OrvEvent, std::nullopt } }));
    const int64_t recent = store.record(sampleEvent(9000, { { Channel::OrvEvent, std::nullopt } }));
    for (const Delivery& delivery : store.pending())
        if (delivery.eventId != waiting)
            store.delivered(delivery.id, 9000);

    EXPECT_EQ(store.removeFinishedBefore(5000), 1);
    EXPECT_FALSE(store.event(old));
    EXPECT_TRUE(store.event(waiting));
    // The newest stays, finished or not, so that its id is not given again.
    EXPECT_EQ(store.removeOldestFinished(10), 0);
    EXPECT_TRUE(store.event(recent));
    EXPECT_GT(store.record(sampleEvent(9500)), recent);
    EXPECT_EQ(store.removeOldestFinished(10), 1);
    EXPECT_FALSE(store.event(recent));
    EXPECT_EQ(store.pending().size(), 3u);
}

TEST(Journal, AboveItsBoundNewEventsGoUnjournaledWithOneLineEachWay)
{
    TempDir dir;
    JournalSettings settings = settingsAt(dir.path("journal.db"));
    settings.maxBytes = 64 << 10;
    Millis now = 1'000'000;
    Journal journal(settings, [&] { return now; });
    PlatformLines lines;

    NewEvent big = sampleEvent(now, { { Channel::OrvEvent, std::nullopt } });
    big.packed.assign(8 << 10, 'x');
    int journaled = 0;
    for (int i = 0; i < 40; ++i, now += 2000)
        journaled += journal.record(big).has_value();
    EXPECT_LT(journaled, 40);
    EXPECT_EQ(lines.ids, std::vector<int>({ KAV_JOURNAL_FULL }));

    // Pending events are never removed to make room; finished ones are.
    journal.use([](JournalStore& store) {
        for (const Delivery& delivery : store.pending())
            store.delivered(delivery.id, 0);
        return true;
    });
    now += 2000;
    EXPECT_TRUE(journal.record(big));
    EXPECT_EQ(lines.ids, std::vector<int>({ KAV_JOURNAL_FULL, KAV_JOURNAL_ROOM }));
}

TEST(Journal, UnusableFileFallsBackAndIsTriedAgainAfterAMinute)
{
    TempDir dir;
    // A regular file where the journal's folder should be: nothing can be
    // created under it until it goes.
    const std::string blocker = dir.write("blocker", "");
    Millis now = 1'000'000;
    PlatformLines lines;
    Journal journal(settingsAt(blocker + "/journal.db"), [&] { return now; });
    EXPECT_EQ(journal.health(), Journal::Health::Degraded);
    EXPECT_FALSE(journal.record(sampleEvent(now)));
    EXPECT_FALSE(journal.record(sampleEvent(now)));

    std::filesystem::remove(blocker);
    now += Journal::retryMillis / 2;
    EXPECT_FALSE(journal.record(sampleEvent(now)));
    now += Journal::retryMillis;
    EXPECT_TRUE(journal.record(sampleEvent(now)));
    EXPECT_EQ(journal.health(), Journal::Health::Ok);
    EXPECT_EQ(lines.ids, std::vector<int>({ KAV_JOURNAL_UNAVAILABLE, KAV_JOURNAL_AVAILABLE }));
}

TEST(Journal, FileLockedByAnotherProcessFallsBack)
{
    TempDir dir;
    const std::string path = dir.path("journal.db");
    Journal journal(settingsAt(path));
    ASSERT_TRUE(journal.record(sampleEvent(1000)));

    sqlite3* raw = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &raw), SQLITE_OK);
    Database other(raw);
    execute(other.get(), "BEGIN EXCLUSIVE");
    PlatformLines lines;
    EXPECT_FALSE(journal.record(sampleEvent(2000)));
    EXPECT_EQ(journal.health(), Journal::Health::Degraded);
    EXPECT_EQ(lines.ids, std::vector<int>({ KAV_JOURNAL_UNAVAILABLE }));
}

TEST(Journal, DamagedFileIsSetAsideAndANewOneStarted)
{
    TempDir dir;
    const std::string path = dir.write("journal.db", std::string(8192, 'j'));
    const Millis now = 1'765'000'000'000;
    PlatformLines lines;
    Journal journal(settingsAt(path), [&] { return now; });
    EXPECT_EQ(journal.health(), Journal::Health::Ok);
    EXPECT_TRUE(journal.record(sampleEvent(now)));
    EXPECT_EQ(lines.ids, std::vector<int>({ KAV_JOURNAL_CORRUPT }));
    EXPECT_EQ(TempDir::read(Journal::corruptName(path, now)), std::string(8192, 'j'));
    EXPECT_NE(Journal::corruptName(path, now).find("journal.db.corrupt-20251206T"), std::string::npos);
}
