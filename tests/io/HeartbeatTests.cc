// What the watchdog counts as stuck: a watched thread long inside one step,
// never one that waits for work or goes on to further steps, nor one that
// has ended.
#include <gtest/gtest.h>

#include <future>
#include <thread>

#include "platform/io/Heartbeat.h"

using orv::io::Heartbeat;
using namespace std::chrono_literals;

TEST(HeartbeatTest, OnlyAThreadLongInOneStepIsStuck)
{
    const Heartbeat::Clock::time_point start = Heartbeat::Clock::now();
    const auto look = [&](Heartbeat::Clock::duration at) { return Heartbeat::stalled(start + at, 10s); };
    std::promise<void> release;
    std::promise<void> working;
    std::thread worker([&] {
        Heartbeat heartbeat("worker");
        {
            Heartbeat::Work work;
            working.set_value();
            release.get_future().wait();
        }
    });
    working.get_future().wait();
    Heartbeat heartbeat("test thread");
    EXPECT_FALSE(look(0s));
    {
        Heartbeat::Work work;
        EXPECT_FALSE(look(5s));
        Heartbeat::beat();
        // The worker's one step, seen first at 0 s, is stuck; this thread's
        // second step, seen first at 12 s, is not yet.
        const auto stall = look(12s);
        ASSERT_TRUE(stall);
        EXPECT_STREQ(stall->kind, "worker");
        EXPECT_EQ(stall->length, 12s);
        release.set_value();
        worker.join();
        EXPECT_FALSE(look(20s));
        const auto own = look(23s);
        ASSERT_TRUE(own);
        EXPECT_STREQ(own->kind, "test thread");
    }
    // Waiting for work is never stuck, however long.
    EXPECT_FALSE(look(1h));
}
