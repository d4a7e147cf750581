#include "DoorThreadPool.h"

#include <algorithm>

#include "Invocation.h"

DoorThreadPool::DoorThreadPool(unsigned threads, ThreadStart threadStart, Run run)
    : m_threadStart(std::move(threadStart))
    , m_run(std::move(run))
{
    try {
        for (unsigned i = 0; i < std::max(threads, 1u); ++i)
            m_threads.emplace_back(&DoorThreadPool::work, this);
    } catch (...) {
        finish();
        throw;
    }
}

DoorThreadPool::~DoorThreadPool()
{
    finish();
}

void DoorThreadPool::submit(std::unique_ptr<Invocation> call)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_queue.push_back(std::move(call));
    }
    m_ready.notify_one();
}

void DoorThreadPool::finish()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_finishing = true;
    }
    m_ready.notify_all();
    for (std::thread& thread : m_threads)
        if (thread.joinable())
            thread.join();
}

void DoorThreadPool::work()
{
    if (m_threadStart)
        m_threadStart();
    while (auto call = next())
        m_run(*call);
}

std::unique_ptr<Invocation> DoorThreadPool::next()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_ready.wait(lock, [this] { return m_finishing || !m_queue.empty(); });
    if (m_queue.empty())
        return nullptr;
    auto call = std::move(m_queue.front());
    m_queue.pop_front();
    return call;
}
