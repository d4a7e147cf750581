#include "fuzz/FuzzScratch.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

FuzzScratch& FuzzScratch::instance()
{
    static FuzzScratch scratch;
    return scratch;
}

FuzzScratch::FuzzScratch()
{
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/kav-fuzz.XXXXXX";
    if (!mkdtemp(pattern.data()))
        fuzzFailure("cannot create a scratch folder under " + pattern);
    m_dir = pattern;
    setenv("ORV_LOG_DIR", path("logs").c_str(), 0);
    setenv("ORV_LOG_LEVEL", "0", 0);
}

FuzzScratch::~FuzzScratch()
{
    std::error_code ignored;
    std::filesystem::remove_all(m_dir, ignored);
}

std::string FuzzScratch::path(const std::string& name) const
{
    return m_dir + "/" + name;
}

std::string FuzzScratch::write(const std::string& name, const uint8_t* data, size_t size) const
{
    const std::string file = path(name);
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    out.close();
    if (!out)
        fuzzFailure("cannot write " + file);
    return file;
}

bool FuzzScratch::read(const std::string& path, std::string& content)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    std::ostringstream text;
    text << in.rdbuf();
    content = text.str();
    return !in.bad();
}

void fuzzFailure(const std::string& what)
{
    std::fprintf(stderr, "fuzz property broken: %s\n", what.c_str());
    std::fflush(stderr);
    std::abort();
}
