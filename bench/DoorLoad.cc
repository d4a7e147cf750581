// kav-door-load DOOR METHOD EVENT.json CALLERS CALLS
//
// Calls a door CALLS times in all from CALLERS threads at once, each call
// carrying the packed event, and prints one line of figures:
//   callers=4 calls=40000 errors=0 seconds=1.93 rate=20725 p50_us=180.2 p99_us=512.7 warm_up=200
// A short warm-up per caller runs first and is not counted, so start-up
// costs (log files opening, the remote client library loading) stay out;
// warm_up is how many calls it made in all, for those who count the
// server's work.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <latch>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/framework/DoorClient.h"
#include "platform/event/EventCodec.h"
#include "bench/LatencySample.h"

using orv::framework::DoorClient;
using orv::framework::DoorReply;

namespace {

using Clock = std::chrono::steady_clock;

constexpr unsigned warmUpCalls = 50;

struct Caller {
    unsigned calls = 0;
    unsigned errors = 0;
    LatencySample latencies;
};

std::vector<char> packedEvent(const char* path)
{
    std::ifstream in(path);
    return orv::event::pack(orv::event::fromJson(nlohmann::json::parse(in)));
}

void runCaller(
    const DoorClient& door, unsigned method, const std::vector<char>& event, Caller& caller, std::latch& start)
{
    DoorReply reply;
    for (unsigned i = 0; i < warmUpCalls; ++i)
        door.call(method, event.data(), event.size(), reply);
    caller.latencies.reserve(caller.calls);
    start.arrive_and_wait();
    for (unsigned i = 0; i < caller.calls; ++i) {
        auto before = Clock::now();
        int rc = door.call(method, event.data(), event.size(), reply);
        auto after = Clock::now();
        if (rc != 0 || reply.status != 0)
            ++caller.errors;
        caller.latencies.add(std::chrono::duration_cast<std::chrono::nanoseconds>(after - before).count());
    }
}

int usage()
{
    std::fprintf(stderr, "usage: kav-door-load DOOR METHOD EVENT.json CALLERS CALLS\n");
    return 2;
}

}

int main(int argc, char** argv)
{
    if (argc != 6)
        return usage();
    const DoorClient door(argv[1]);
    const auto method = static_cast<unsigned>(std::strtoul(argv[2], nullptr, 10));
    const std::vector<char> event = packedEvent(argv[3]);
    const auto callerCount = static_cast<unsigned>(std::strtoul(argv[4], nullptr, 10));
    const auto totalCalls = static_cast<unsigned>(std::strtoul(argv[5], nullptr, 10));
    if (callerCount == 0 || totalCalls < callerCount)
        return usage();

    std::vector<Caller> callers(callerCount);
    for (unsigned i = 0; i < callerCount; ++i)
        callers[i].calls = totalCalls / callerCount + (i < totalCalls % callerCount ? 1 : 0);

    std::latch start(callerCount + 1);
    std::vector<std::jthread> threads;
    for (Caller& caller : callers)
        threads.emplace_back(runCaller, std::cref(door), method, std::cref(event), std::ref(caller), std::ref(start));
    start.arrive_and_wait();
    auto began = Clock::now();
    threads.clear(); // joins
    double seconds = std::chrono::duration<double>(Clock::now() - began).count();

    LatencySample all;
    unsigned errors = 0;
    for (const Caller& caller : callers) {
        all.merge(caller.latencies);
        errors += caller.errors;
    }
    std::printf("callers=%u calls=%u errors=%u seconds=%.3f rate=%.0f p50_us=%.1f p99_us=%.1f warm_up=%u\n",
        callerCount, totalCalls, errors, seconds, totalCalls / seconds, all.percentileMicroseconds(0.50),
        all.percentileMicroseconds(0.99), callerCount * warmUpCalls);
    return errors == 0 ? 0 : 1;
}
