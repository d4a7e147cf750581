#include "cmd/kav/remote/PosixMutexGuard.h"

#include "platform/log/LogStatement.h"

PosixMutexGuard::PosixMutexGuard(pthread_mutex_t& mutex, LogFormat<int> unlockFailureLine)
    : m_mutex(mutex)
    , m_unlockFailureLine(unlockFailureLine)
    , m_lockResult(pthread_mutex_lock(&mutex))
{
}

PosixMutexGuard::~PosixMutexGuard()
{
    if (!locked())
        return;
    if (int rc = pthread_mutex_unlock(&m_mutex); rc != 0)
        logStatement(4, LogDest::trace(), m_unlockFailureLine, rc);
}
