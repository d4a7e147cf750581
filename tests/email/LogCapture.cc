#include "tests/email/LogCapture.h"

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "tests/support/TempDir.h"

namespace {

const TempDir logDir;

// Runs before any test logs: the log library reads its settings on first use.
const bool logSettings = [] {
    setenv("ORV_LOG_DIR", logDir.path("").c_str(), 1);
    setenv("ORV_LOG_LEVEL", "0", 1);
    return true;
}();

long long sizeOf(const std::string& name)
{
    std::error_code missing;
    auto size = std::filesystem::file_size(logDir.path(name), missing);
    return missing ? 0 : static_cast<long long>(size);
}

std::string tail(const std::string& name, long long from)
{
    std::ifstream in(logDir.path(name), std::ios::binary);
    in.seekg(from);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

}

LogCapture::LogCapture()
    : m_traceStart(sizeOf("trace.log"))
    , m_platformStart(sizeOf("platform.log"))
{
}

std::string LogCapture::trace() const
{
    return tail("trace.log", m_traceStart);
}

std::string LogCapture::platform() const
{
    return tail("platform.log", m_platformStart);
}
