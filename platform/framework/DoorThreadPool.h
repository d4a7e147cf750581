// The door threads: a fixed set of threads that run complete door calls
// in the order they arrived.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class Invocation;

class DoorThreadPool {
public:
    using ThreadStart = std::function<void()>;
    using Run = std::function<void(Invocation&)>;

    // `threadStart` runs once on each door thread before its first call.
    DoorThreadPool(unsigned threads, ThreadStart threadStart, Run run);
    ~DoorThreadPool();
    DoorThreadPool(const DoorThreadPool&) = delete;
    DoorThreadPool& operator=(const DoorThreadPool&) = delete;

    void submit(std::unique_ptr<Invocation> call);
    // Runs every call already submitted, then joins the threads.
    void finish();

private:
    void work();
    std::unique_ptr<Invocation> next();

    ThreadStart m_threadStart;
    Run m_run;
    std::mutex m_mutex;
    std::condition_variable m_ready;
    std::deque<std::unique_ptr<Invocation>> m_queue;
    bool m_finishing = false;
    std::vector<std::thread> m_threads;
};
