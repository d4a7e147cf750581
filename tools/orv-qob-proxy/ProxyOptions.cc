#include "tools/orv-qob-proxy/ProxyOptions.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <iterator>
#include <sstream>

#include "platform/qob/ProxySocket.h"

namespace {

// The calls whose results --fail can set; a misspelt name would otherwise
// queue a failure that never comes, and the test using it prove nothing.
constexpr const char* failingCalls[] = { "register", "senddata", "sendstatus", "close" };
constexpr const char* hangingSteps[] = { "accept", "register", "attach", "senddata", "sendstatus", "close" };

template <size_t N> bool known(const std::string& name, const char* const (&names)[N])
{
    return std::find(std::begin(names), std::end(names), name) != std::end(names);
}

bool parseCode(const std::string& text, int& code)
{
    if (text.empty())
        return false;
    char* end = nullptr;
    errno = 0;
    long value = strtol(text.c_str(), &end, 10);
    if (*end != '\0' || errno != 0 || value < -1000000 || value > 1000000)
        return false;
    code = static_cast<int>(value);
    return true;
}

// "senddata=4,register=2" appended in order to `failures`.
bool parseFailures(const std::string& list, std::vector<std::pair<std::string, int>>& failures)
{
    std::istringstream items(list);
    for (std::string item; std::getline(items, item, ',');) {
        size_t equals = item.find('=');
        int code = 0;
        if (equals == 0 || equals == std::string::npos || !parseCode(item.substr(equals + 1), code)
            || !known(item.substr(0, equals), failingCalls))
            return false;
        failures.emplace_back(item.substr(0, equals), code);
    }
    return true;
}

}

bool ProxyOptions::parse(int argc, char** argv, ProxyOptions& options, std::string& error)
{
    options.socketPath = orv::qob::proxySocketPath();
    for (int i = 1; i < argc; ++i) {
        std::string option = argv[i];
        if (i + 1 >= argc) {
            error = "missing value after " + option;
            return false;
        }
        std::string value = argv[++i];
        if (option == "--out")
            options.outPath = value;
        else if (option == "--socket")
            options.socketPath = value;
        else if (option == "--fail") {
            if (!parseFailures(value, options.failures)) {
                error = "bad --fail list: " + value;
                return false;
            }
        } else if (option == "--hang") {
            if (!known(value, hangingSteps)) {
                error = "bad --hang step: " + value;
                return false;
            }
            options.hang = value;
        } else {
            error = "unknown option " + option;
            return false;
        }
    }
    return true;
}
