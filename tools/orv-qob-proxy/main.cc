// orv-qob-proxy: a stand-in for the remote-services proxy, for testing the
// daemon's remote channel. See docs/remote-proxy.md.
#include <cstdio>
#include <string>

#include "tools/orv-qob-proxy/CallLog.h"
#include "tools/orv-qob-proxy/FailQueue.h"
#include "tools/orv-qob-proxy/ProxyOptions.h"
#include "tools/orv-qob-proxy/ProxyServer.h"

int main(int argc, char** argv)
{
    ProxyOptions options;
    std::string error;
    if (!ProxyOptions::parse(argc, argv, options, error)) {
        fprintf(stderr,
            "orv-qob-proxy: %s\nusage: orv-qob-proxy [--socket PATH] [--out FILE] "
            "[--fail CALL=CODE[,CALL=CODE...]] [--hang STEP]\n",
            error.c_str());
        return 2;
    }
    CallLog log;
    if (!log.open(options.outPath)) {
        fprintf(stderr, "orv-qob-proxy: cannot open %s\n", options.outPath.c_str());
        return 1;
    }
    FailQueue failures;
    for (const auto& [call, code] : options.failures)
        failures.add(call, code);
    ProxyServer server(options.socketPath, log, failures, options.hang);
    return server.run();
}
