// Compiled by clang with -Wthread-safety -Werror, not run: each CASE uses a
// lock of platform/base/Mutex.h wrongly and must not build. CASE 0 is the
// same code written right, which must build, so that the others fail for
// their fault and not for something else.
#include "platform/base/Mutex.h"

using orv::base::CondVar;
using orv::base::Mutex;
using orv::base::MutexLock;

class Counter {
public:
    void add()
    {
#if CASE == 0
        MutexLock lock(m_mutex);
        ++m_count;
        m_changed.notifyAll();
#elif CASE == 1
        ++m_count; // no lock
#elif CASE == 2
        bump(); // needs the lock
#elif CASE == 3
        m_mutex.lock();
        ++m_count; // still held on return
#endif
    }

    int waitForOne()
    {
#if CASE == 0
        MutexLock lock(m_mutex);
        while (m_count == 0)
            m_changed.wait(m_mutex);
        bump();
        return m_count;
#elif CASE == 4
        m_changed.wait(m_mutex); // waits without the lock
        return 0;
#elif CASE == 5
        MutexLock lock(m_mutex);
        return total(); // takes the lock held here
#elif CASE == 6
        {
            MutexLock lock(m_mutex);
            bump();
        }
        return m_count; // read after the lock's scope
#else
        return 0;
#endif
    }

    int total() EXCLUDES(m_mutex)
    {
        MutexLock lock(m_mutex);
        return m_count;
    }

private:
    void bump() REQUIRES(m_mutex)
    {
        ++m_count;
    }

    Mutex m_mutex;
    CondVar m_changed;
    int m_count GUARDED_BY(m_mutex) = 0;
};

int main()
{
    Counter counter;
    counter.add();
    return counter.waitForOne() + counter.total();
}
