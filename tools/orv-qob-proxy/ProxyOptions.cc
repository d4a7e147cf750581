#include "ProxyOptions.h"

#include <cerrno>
#include <cstdlib>
#include <sstream>

#include "ProxySocket.h"

namespace {

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
        if (equals == 0 || equals == std::string::npos || !parseCode(item.substr(equals + 1), code))
            return false;
        failures.emplace_back(item.substr(0, equals), code);
    }
    return true;
}

}

bool ProxyOptions::parse(int argc, char** argv, ProxyOptions& options, std::string& error)
{
    options.socketPath = qob::proxySocketPath();
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
        } else {
            error = "unknown option " + option;
            return false;
        }
    }
    return true;
}
