// The door threads: a fixed set of threads that wait for requests
// themselves (see RequestReader) and each run the call it finds complete.
#pragma once

#include <functional>
#include <thread>
#include <vector>

namespace orv::framework {

class Invocation;
class RequestReader;

class DoorThreadPool {
public:
    using ThreadStart = std::function<void()>;
    using Run = std::function<void(Invocation&)>;

    // `threadStart` runs once on each door thread before its first call.
    DoorThreadPool(unsigned threads, RequestReader& reader, ThreadStart threadStart, Run run);
    ~DoorThreadPool();
    DoorThreadPool(const DoorThreadPool&) = delete;
    DoorThreadPool& operator=(const DoorThreadPool&) = delete;

    // Joins the threads once the reader is stopped; the calls they are
    // running finish first.
    void finish();

private:
    void work();

    RequestReader& m_reader;
    ThreadStart m_threadStart;
    Run m_run;
    std::vector<std::thread> m_threads;
};

}
