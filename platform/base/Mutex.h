// The mutex, its scoped lock and its condition variable, with the attributes
// of ThreadAnnotations.h, so that Clang checks which data each lock guards.
// The standard library's std::mutex carries no such attributes, so our own
// locks are these; the POSIX mutexes the suite's interfaces fix stay as
// they are.
//
// They live in platform/base, below io: any library of any layer may keep
// data under a lock.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "platform/base/ThreadAnnotations.h"

namespace orv::base {

class CAPABILITY("mutex") Mutex {
public:
    Mutex() = default;
    Mutex(const Mutex&) = delete;
    Mutex& operator=(const Mutex&) = delete;

    void lock() ACQUIRE() { m_mutex.lock(); }
    void unlock() RELEASE() { m_mutex.unlock(); }
    // Takes the mutex if no one holds it; whether it did.
    bool tryLock() TRY_ACQUIRE(true) { return m_mutex.try_lock(); }

private:
    friend class CondVar;
    std::mutex m_mutex;
};

// Holds a Mutex from construction to the end of its scope.
class SCOPED_CAPABILITY MutexLock {
public:
    explicit MutexLock(Mutex& mutex) ACQUIRE(mutex)
        : m_mutex(mutex)
    {
        m_mutex.lock();
    }
    ~MutexLock() RELEASE() { m_mutex.unlock(); }
    MutexLock(const MutexLock&) = delete;
    MutexLock& operator=(const MutexLock&) = delete;

private:
    Mutex& m_mutex;
};

// Every wait on one condition variable names the same Mutex. The condition
// is tested by the caller, in a loop around wait(), so that the analysis
// sees the guarded data read with the lock held:
//
//     MutexLock lock(m_mutex);
//     while (!m_done)
//         m_changed.wait(m_mutex);
class CondVar {
public:
    CondVar() = default;
    CondVar(const CondVar&) = delete;
    CondVar& operator=(const CondVar&) = delete;

    // Lets `mutex` go while it waits and holds it again on return, which
    // may come without a notification.
    void wait(Mutex& mutex) REQUIRES(mutex)
    {
        std::unique_lock<std::mutex> held(mutex.m_mutex, std::adopt_lock);
        m_condition.wait(held);
        held.release();
    }

    // As wait(), returning after `timeout` at the latest.
    template <typename Rep, typename Period>
    void waitFor(Mutex& mutex, std::chrono::duration<Rep, Period> timeout) REQUIRES(mutex)
    {
        std::unique_lock<std::mutex> held(mutex.m_mutex, std::adopt_lock);
        m_condition.wait_for(held, timeout);
        held.release();
    }

    void notifyOne() { m_condition.notify_one(); }
    void notifyAll() { m_condition.notify_all(); }

private:
    std::condition_variable m_condition;
};

}
