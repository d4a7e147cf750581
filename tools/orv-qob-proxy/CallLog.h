// The proxy's record of client calls: one JSON object per line, flushed at
// once so a reader never sees half a line.
#pragma once

#include <cstdio>
#include <string>

#include <nlohmann/json.hpp>

class CallLog {
public:
    CallLog() = default;
    ~CallLog();
    CallLog(const CallLog&) = delete;
    CallLog& operator=(const CallLog&) = delete;

    // Appends to `path`, or writes to standard output when it is empty.
    bool open(const std::string& path);

    void write(const nlohmann::ordered_json& line);

private:
    FILE* m_file = nullptr;
    bool m_owned = false;
};
