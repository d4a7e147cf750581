#include "tests/support/TempDir.h"

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>

TempDir::TempDir()
    : m_root((std::filesystem::temp_directory_path() / "kav-test-XXXXXX").string())
{
    if (!mkdtemp(m_root.data()))
        throw std::filesystem::filesystem_error("mkdtemp", m_root, std::error_code(errno, std::generic_category()));
}

TempDir::~TempDir()
{
    std::error_code ignored;
    std::filesystem::remove_all(m_root, ignored);
}

std::string TempDir::path(const std::string& name) const
{
    return m_root + "/" + name;
}

std::string TempDir::write(const std::string& name, const std::string& content) const
{
    std::ofstream(path(name), std::ios::binary) << content;
    return path(name);
}

std::string TempDir::read(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}
