// A fresh directory for one test's files, removed with everything in it.
#pragma once

#include <string>

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    std::string path(const std::string& name) const;
    // Writes `content` to the named file and returns its path.
    std::string write(const std::string& name, const std::string& content) const;
    static std::string read(const std::string& path);

private:
    std::string m_root;
};
