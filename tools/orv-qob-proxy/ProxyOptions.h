// Command line of the stand-in proxy.
#pragma once

#include <string>
#include <utility>
#include <vector>

struct ProxyOptions {
    std::string outPath; // empty: standard output
    std::string socketPath; // where to listen
    std::vector<std::pair<std::string, int>> failures; // queued results, in order
    std::string hang; // a step never answered: accept, register, attach, senddata, sendstatus or close

    // Fills `options` from argv; false with `error` set when the line is wrong.
    static bool parse(int argc, char** argv, ProxyOptions& options, std::string& error);
};
