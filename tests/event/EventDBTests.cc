#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <thread>
#include <type_traits>

#include "platform/event/DXAEvent.h"
#include "platform/event/EventDB.h"
#include "tests/event/EventTestData.h"

using orv::event::SkippedEventDBEntry;

namespace {

// A database file that removes itself.
struct TempFile {
    explicit TempFile(const std::string& text) { std::ofstream(path) << text; }
    ~TempFile() { std::remove(path.c_str()); }

    static inline int serial = 0;
    const std::string path = "/tmp/eventdb-test-" + std::to_string(getpid()) + "-" + std::to_string(++serial);
};

const char* const database = R"({
  "fault.cpu.ecache": {"channels": ["message", "orvEvent", "remote", "email"], "severity": 5,
    "priority": 1, "reportingType": 0, "reportingSubtype": "CPU", "messageNumber": 5001,
    "args": ["{class}", "code {code} on {domainsAffected}", "{classes}|{indictment}|{timestamp}",
             "{{class}} {open", "{code}", "{colour}"]},
  "fault.a.b": {"channels": ["email"], "severity": 8, "priority": -1, "reportingType": 7},
  "empty": {}
})";

EventDBEntry* lookup(EventDB& db, DXAEvent& event)
{
    EventDBEntry* entry = nullptr;
    EXPECT_EQ(db.lookupEventDBEntry(event, entry), 0);
    return entry;
}

template <class T> std::string answer(const EventDBEntry& entry, int (EventDBEntry::*get)(T&) const)
{
    T value {};
    const int rc = (entry.*get)(value);
    if (rc != 0)
        return rc == ENOENT ? "ENOENT" : "E" + std::to_string(rc);
    if constexpr (std::is_same_v<T, std::string>)
        return value;
    else
        return std::to_string(static_cast<long long>(value));
}

// The four channel tests, then every other accessor's value or failure.
std::string describe(EventDBEntry& entry)
{
    std::string text;
    for (bool via :
        { entry.reportViaMsg(), entry.reportViaOrvEvent(), entry.reportViaRemote(), entry.reportViaEmail() })
        text += via ? '+' : '-';
    for (const std::string& part :
        { answer(entry, &EventDBEntry::getEventSeverity), answer(entry, &EventDBEntry::getEventPriority),
            answer(entry, &EventDBEntry::getEventReportingType), answer(entry, &EventDBEntry::getEventReportingSubtype),
            answer(entry, &EventDBEntry::getZEQMessageNumber), answer(entry, &EventDBEntry::getNumberOfZEQArgs) })
        text += " " + part;
    return text;
}

}

TEST(EventDB, EntryValuesAsWritten)
{
    TempFile file(database);
    EventDB db(file.path);
    struct Case {
        const char* eventClass;
        const char* expected;
    };
    for (const Case& c : { Case { "fault.cpu.ecache", "++++ 5 1 0 CPU 5001 6" },
             Case { "fault.a.b", "---+ 8 -1 7 ENOENT ENOENT ENOENT" },
             Case { "empty", "---- ENOENT ENOENT ENOENT ENOENT ENOENT ENOENT" } }) {
        EventDBEntry* entry = lookup(db, *eventOf({ { "class", c.eventClass } }));
        ASSERT_NE(entry, nullptr) << c.eventClass;
        EXPECT_EQ(describe(*entry), c.expected);
    }
    std::string kept = "keep";
    EXPECT_EQ(lookup(db, *eventOf({ { "class", "empty" } }))->getEventReportingSubtype(kept), ENOENT);
    EXPECT_EQ(kept, "keep");

    EventDBEntry* untouched = nullptr;
    EXPECT_NE(db.lookupEventDBEntry(*eventOf({ { "class", "fault.unknown" } }), untouched), 0);
    EXPECT_NE(db.lookupEventDBEntry(*eventOf({}), untouched), 0);
    EXPECT_EQ(untouched, nullptr);
}

TEST(EventDB, ArgumentPlaceholders)
{
    TempFile file(database);
    EventDB db(file.path);
    auto full = eventOf(fullMembers());
    EventDBEntry* entry = lookup(db, *full);
    ASSERT_NE(entry, nullptr);

    const char* expected[] = { "fault.cpu.ecache", "code X12 on AC",
        "fault.cpu.ecache fault.io.x|CPU0 CPU1 |1700000000", "{class} {open", "X12" };
    for (unsigned i = 0; i < std::size(expected); ++i) {
        std::string value;
        EXPECT_EQ(entry->getZEQArg(i, *full, value), 0) << i;
        EXPECT_EQ(value, expected[i]) << i;
    }
    std::string value = "keep";
    EXPECT_EQ(entry->getZEQArg(4, *eventOf({}), value), ENOENT); // event has no code
    EXPECT_NE(entry->getZEQArg(5, *full, value), 0); // no such member name
    EXPECT_NE(entry->getZEQArg(6, *full, value), 0); // beyond the arguments
    EXPECT_EQ(value, "keep");
}

TEST(EventDB, UnreadableFilesThrowWithPathAndReason)
{
    for (const char* text : { "", "[]", R"({"a": {})" }) {
        TempFile file(text);
        try {
            EventDB db(file.path);
            ADD_FAILURE() << "loaded: " << text;
        } catch (const std::runtime_error& e) {
            const std::string why = e.what();
            EXPECT_EQ(why.find("event database " + file.path + ": "), 0u) << why;
            EXPECT_EQ(why.find("[json.exception"), std::string::npos) << why;
        }
    }
    TempFile trailingComma("{\n  \"a\": {\"severity\": 5,}\n}");
    try {
        EventDB db(trailingComma.path);
        ADD_FAILURE() << "a trailing comma loaded";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("line 2, column"), std::string::npos) << e.what();
    }
    EXPECT_THROW(EventDB db("/nonexistent/eventdb.json"), std::runtime_error);

    TempFile file(R"({"a": {"severity": 2147483647, "priority": -2147483648}})");
    setenv("ORV_EVENTDB", file.path.c_str(), 1);
    EXPECT_NO_THROW(EventDB db);
    setenv("ORV_EVENTDB", "/nonexistent/eventdb.json", 1);
    EXPECT_THROW(EventDB db, std::runtime_error);
    unsetenv("ORV_EVENTDB");
}

TEST(EventDB, FaultyEntriesAreSkippedAndTheRestLoads)
{
    TempFile file(R"({
      "bad.array": 1,
      "bad.channel": {"channels": ["message", "fax"]},
      "bad.channels": {"channels": "email"},
      "bad.class": {"severity": 1},
      "bad.class": {"severity": 2},
      "bad.fraction": {"severity": 5.0},
      "bad.key": {"sevrity": 5},
      "bad.key.twice": {"severity": 1, "severity": 2},
      "bad.msg": {"messageNumber": 999},
      "bad.range": {"priority": -2147483649},
      "bad.string": {"severity": "5"},
      "bad.text": {"args": ["{class}", 3]},
      "good": {"channels": ["message"], "severity": 2147483647, "priority": -2147483648},
      "good.empty": {}
    })");
    EventDB db(file.path);
    std::vector<std::string> skipped;
    for (const SkippedEventDBEntry& entry : db.skippedEntries())
        skipped.push_back(entry.eventClass + ": " + entry.reason);
    EXPECT_EQ(skipped,
        (std::vector<std::string> {
            "bad.array: entry must be an object",
            "bad.channel: key \"channels\": unknown channel \"fax\"",
            "bad.channels: key \"channels\": must be an array of strings",
            "bad.class: class given twice",
            "bad.fraction: key \"severity\": must be an integer",
            "bad.key: key \"sevrity\": unknown key",
            "bad.key.twice: key \"severity\" given twice",
            "bad.msg: key \"messageNumber\": must be a message number of 1000 or above",
            "bad.range: key \"priority\": number outside the int range",
            "bad.string: key \"severity\": must be an integer",
            "bad.text: key \"args\": must be a string",
        }));

    for (const char* eventClass : { "good", "good.empty", "bad.key", "bad.class" }) {
        EventDBEntry* entry = nullptr;
        const bool loaded = std::string(eventClass).starts_with("good");
        EXPECT_EQ(db.lookupEventDBEntry(*eventOf({ { "class", eventClass } }), entry) == 0, loaded) << eventClass;
    }
}

// The hold-down is seconds from 0 to a year; anything else leaves the entry out.
TEST(EventDB, HoldDownSeconds)
{
    TempFile file(R"({
      "held": {"holdDown": 600},
      "held.negative": {"holdDown": -1},
      "held.too.long": {"holdDown": 31622401},
      "not.held": {}
    })");
    EventDB db(file.path);
    ASSERT_EQ(db.skippedEntries().size(), 2u);
    EXPECT_EQ(db.skippedEntries()[0].reason, "key \"holdDown\": must be a number of seconds from 0 to 31622400");
    for (const auto& [eventClass, seconds] : { std::pair { "held", 600 }, std::pair { "not.held", 0 } }) {
        EventDBEntry* entry = nullptr;
        ASSERT_EQ(db.lookupEventDBEntry(*eventOf({ { "class", eventClass } }), entry), 0);
        EXPECT_EQ(entry->holdDownSeconds(), seconds) << eventClass;
    }
}

TEST(EventDB, ConcurrentLookups)
{
    TempFile file(database);
    EventDB db(file.path);
    std::vector<std::thread> threads;
    std::atomic<int> failures { 0 };
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            auto event = eventOf(fullMembers());
            for (int i = 0; i < 500; ++i) {
                EventDBEntry* entry = nullptr;
                std::string value;
                orv::EventSeverity severity {};
                if (db.lookupEventDBEntry(*event, entry) != 0 || entry->getZEQArg(1, *event, value) != 0
                    || value != "code X12 on AC" || entry->getEventSeverity(severity) != 0 || !entry->reportViaMsg())
                    ++failures;
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(failures, 0);
}

TEST(EventDB, SampleDatabaseIsCompleteAndFillsFromAFullEvent)
{
    EventDB db(EVENT_SAMPLE_DB);
    std::ifstream in(EVENT_SAMPLE_DB);
    const nlohmann::json sample = nlohmann::json::parse(in);
    for (const auto& item : sample.items()) {
        std::vector<orv::event::Member> members = fullMembers();
        members[0].value = item.key();
        auto event = eventOf(members);
        EventDBEntry* entry = lookup(db, *event);
        ASSERT_NE(entry, nullptr) << item.key();
        EXPECT_EQ(describe(*entry).find("ENOENT"), std::string::npos) << describe(*entry);
        unsigned count = 0;
        entry->getNumberOfZEQArgs(count);
        for (unsigned i = 0; i < count; ++i) {
            std::string value;
            EXPECT_EQ(entry->getZEQArg(i, *event, value), 0) << item.key() << " " << i;
        }
    }
}
