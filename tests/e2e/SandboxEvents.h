// What the tests that post events to the daemon in its sandbox start from:
// the sandbox's folders and remote-reporting environment under short names,
// the database entry that routes a class, and a fault event carrying every
// member the daemon reads. A test file takes them all with
// `using namespace sandbox;`.
#pragma once

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "tests/e2e/DaemonSandbox.h"

namespace sandbox {

namespace fs = std::filesystem;
using nlohmann::json;
using namespace std::chrono_literals;

inline const std::string& config = sandboxConfigDir;
inline const std::string& spool = sandboxSpoolDir;
inline const EnvChanges& withLibrary = withClientLibrary;

// The entry of a class reported through `channels`: message 7001, whose
// arguments are the event's class and code.
json sampleEntry(
    const std::vector<std::string>& channels, int severity, int reportingType, const std::string& reportingSubtype);

// A fault event of `eventClass` and `code`, in the form EventCodec reads.
json sampleEvent(const std::string& eventClass, const std::string& code, long long timestamp = 1700000000,
    const std::string& domainsAffected = "A");

// `event` packed as a door call's parameter.
std::vector<char> packEvent(const json& event);

}
