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

#include "DXAEvent.h"
#include "EventDB.h"
#include "EventTestData.h"

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

template <class T>
std::string answer(const EventDBEntry& entry, int (EventDBEntry::*get)(T&) const)
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
    for (bool via : { entry.reportViaMsg(), entry.reportViaOrvEvent(), entry.reportViaRemote(), entry.reportViaEmail() })
        text += via ? '+' : '-';
    for (const std::string& part : { answer(entry, &EventDBEntry::getEventSeverity),
             answer(entry, &EventDBEntry::getEventPriority), answer(entry, &EventDBEntry::getEventReportingType),
             answer(entry, &EventDBEntry::getEventReportingSubtype), answer(entry, &EventDBEntry::getZEQMessageNumber),
             answer(entry, &EventDBEntry::getNumberOfZEQArgs) })
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
    EXPECT_NE(entry->getZEQArg(5, *full, value), 0);      // no such member name
    EXPECT_NE(entry->getZEQArg(6, *full, value), 0);      // beyond the arguments
    EXPECT_EQ(value, "keep");
}

TEST(EventDB, InvalidOrMissingFilesThrow)
{
    const char* const invalid[] = {
        "", "[]", R"({"a": 1})", R"({"a": {"severity": "5"}})", R"({"a": {"severity": 5.0}})",
        R"({"a": {"severity": 2147483648}})", R"({"a": {"priority": -2147483649}})",
        R"({"a": {"messageNumber": -1}})", R"({"a": {"messageNumber": 0}})", R"({"a": {"messageNumber": 999}})",
        R"({"a": {"channels": ["message", "fax"]}})", R"({"a": {"channels": "email"}})",
        R"({"a": {"args": ["{class}", 3]}})", R"({"a": {"reportingSubtype": 1}})",
        R"({"a": {"sevrity": 5}})", R"({"a": {}, "a": {}})", R"({"a": {"severity": 1, "severity": 2}})",
        R"({"a": {})",
    };
    for (const char* text : invalid) {
        TempFile file(text);
        EXPECT_THROW(EventDB db(file.path), std::runtime_error) << text;
    }
    EXPECT_THROW(EventDB db("/nonexistent/eventdb.json"), std::runtime_error);

    TempFile file(R"({"a": {"severity": 2147483647, "priority": -2147483648}})");
    EXPECT_NO_THROW(EventDB db(file.path));
    setenv("ORV_EVENTDB", file.path.c_str(), 1);
    EXPECT_NO_THROW(EventDB db);
    setenv("ORV_EVENTDB", "/nonexistent/eventdb.json", 1);
    EXPECT_THROW(EventDB db, std::runtime_error);
    unsetenv("ORV_EVENTDB");
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
