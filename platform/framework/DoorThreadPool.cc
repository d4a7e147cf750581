#include "platform/framework/DoorThreadPool.h"

#include <algorithm>

#include "platform/framework/Invocation.h"
#include "platform/io/Heartbeat.h"
#include "platform/framework/PendingRequest.h"
#include "platform/framework/RequestReader.h"

namespace orv::framework {

DoorThreadPool::DoorThreadPool(unsigned threads, RequestReader& reader, ThreadStart threadStart, Run run)
    : m_reader(reader)
    , m_threadStart(std::move(threadStart))
    , m_run(std::move(run))
{
    try {
        for (unsigned i = 0; i < std::max(threads, 1u); ++i)
            m_threads.emplace_back(&DoorThreadPool::work, this);
    } catch (...) {
        m_reader.stop();
        finish();
        throw;
    }
}

DoorThreadPool::~DoorThreadPool()
{
    finish();
}

void DoorThreadPool::finish()
{
    for (std::thread& thread : m_threads)
        if (thread.joinable())
            thread.join();
}

// The request and the call live as long as the thread, so their buffers
// serve call after call. A thread waiting in the reader is idle for the
// watchdog; one running a call works.
void DoorThreadPool::work()
{
    io::Heartbeat heartbeat("door thread");
    if (m_threadStart)
        m_threadStart();
    PendingRequest request;
    Invocation call;
    while (m_reader.next(request)) {
        io::Heartbeat::Work working;
        call.begin(request);
        m_run(call);
    }
}

}
