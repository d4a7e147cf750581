// A private scratch folder for one fuzzing process: files that the code
// under test insists on reading by path are written here, and the log lines
// it writes go here too. The folder is removed when the process ends
// normally; a crashing run leaves it for inspection.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class FuzzScratch {
public:
    // The process's one scratch folder, created on first use. Also points
    // the logging library at it and lets every level through (unless the
    // environment already says otherwise), so log formatting is exercised.
    static FuzzScratch& instance();

    ~FuzzScratch();
    FuzzScratch(const FuzzScratch&) = delete;
    FuzzScratch& operator=(const FuzzScratch&) = delete;

    // The path of `name` inside the folder.
    std::string path(const std::string& name) const;

    // Replaces file `name` with exactly these bytes and returns its path;
    // aborts when the file cannot be written, since every later check would
    // be meaningless.
    std::string write(const std::string& name, const uint8_t* data, size_t size) const;

    // The whole content of `path`; false when it cannot be read.
    static bool read(const std::string& path, std::string& content);

private:
    FuzzScratch();

    std::string m_dir;
};

// Prints `what` and aborts: how a fuzz target reports a broken property.
[[noreturn]] void fuzzFailure(const std::string& what);
