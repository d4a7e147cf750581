// Holds a POSIX mutex for one scope. The remote channel's locks are POSIX
// mutexes because the suite's interface makes them so; a failure to take
// one is the caller's to report (it decides what to give up), a failure to
// release one is logged here with the line the caller gives.
#pragma once

#include <pthread.h>

#include "platform/log/LogFormat.h"

class PosixMutexGuard {
public:
    // `unlockFailureLine` is a format taking the result of the unlock.
    PosixMutexGuard(pthread_mutex_t& mutex, LogFormat<int> unlockFailureLine);
    ~PosixMutexGuard();
    PosixMutexGuard(const PosixMutexGuard&) = delete;
    PosixMutexGuard& operator=(const PosixMutexGuard&) = delete;

    bool locked() const { return m_lockResult == 0; }
    // The result of pthread_mutex_lock(): 0 when the mutex is held.
    int lockResult() const { return m_lockResult; }

private:
    pthread_mutex_t& m_mutex;
    LogFormat<int> m_unlockFailureLine;
    int m_lockResult;
};
