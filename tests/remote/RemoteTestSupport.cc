#include "tests/remote/RemoteTestSupport.h"

#include <dlfcn.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "platform/log/Log.h"

namespace {

std::vector<orv::event::Member> members(const std::vector<orv::event::Member>& changed)
{
    std::vector<orv::event::Member> all { { "class", "fault.cpu.ecache" }, { "code", "X12" }, { "type", "FAULT" },
        { "timestamp", int64_t { 1700000000 } }, { "diagEngName", "diagA" }, { "diagEngVersion", "2.0" },
        { "platformCSN", "0123" } };
    for (const auto& change : changed) {
        auto it = std::find_if(all.begin(), all.end(), [&](const auto& m) { return m.name == change.name; });
        *it = change;
    }
    return all;
}

}

FakeQobState* RemoteTest::fake()
{
    void* library = dlopen("libqobimapi.so.1", RTLD_LAZY);
    auto state = library ? reinterpret_cast<fakeqob_state_t>(dlsym(library, "fakeqob_state")) : nullptr;
    return state ? state() : nullptr;
}

void RemoteTest::SetUp()
{
    char pattern[] = "/tmp/kav-remote-XXXXXX";
    m_dir = mkdtemp(pattern);
    setenv("ORV_LOG_DIR", m_dir.c_str(), 1);
    setenv("ORV_LOG_LEVEL", "0", 1);
    reopenLogFiles();
}

void RemoteTest::TearDown()
{
    std::filesystem::remove_all(m_dir);
}

std::vector<std::string> RemoteTest::lines(const std::string& file) const
{
    // Each line starts "<time> <tag>[<pid>] L<level> <file>:<line> ".
    std::ifstream in(m_dir + "/" + file);
    std::vector<std::string> result;
    for (std::string line; std::getline(in, line);) {
        size_t start = 0;
        for (int field = 0; field < 4 && start != std::string::npos; ++field) {
            start = line.find(' ', start);
            if (start != std::string::npos)
                ++start;
        }
        result.push_back(start == std::string::npos ? line : line.substr(start));
    }
    return result;
}

std::vector<char> RemoteTest::packed(const std::vector<orv::event::Member>& changed)
{
    return orv::event::pack(members(changed));
}

std::unique_ptr<DXAEvent> RemoteTest::event(std::vector<orv::event::Member> changed, std::vector<std::string> dropped)
{
    auto all = members(changed);
    std::erase_if(
        all, [&](const auto& m) { return std::find(dropped.begin(), dropped.end(), m.name) != dropped.end(); });
    auto bytes = orv::event::pack(all);
    return std::make_unique<DXAEvent>(bytes.data(), static_cast<unsigned>(bytes.size()));
}

EventDBEntry::Fields RemoteTest::entryFields()
{
    EventDBEntry::Fields fields;
    fields.viaRemote = true;
    fields.severity = 5;
    fields.priority = 1;
    fields.reportingType = 0;
    fields.reportingSubtype = "fault";
    return fields;
}
