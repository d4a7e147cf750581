#include "cmd/kav/journal/Checkpointer.h"

#include <utility>

#include "platform/log/LogStatement.h"

namespace orv::journal {

Checkpointer::Checkpointer(std::string path, orv::base::Mutex& writers)
    : m_path(std::move(path))
    , m_writers(writers)
    , m_thread([this] { run(); })
{
}

Checkpointer::~Checkpointer()
{
    {
        orv::base::MutexLock lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notifyAll();
    m_thread.join();
}

void Checkpointer::watch(sqlite3* writer)
{
    sqlite3_wal_hook(writer, walHook, this);
}

int Checkpointer::walHook(void* self, sqlite3*, const char*, int pages)
{
    if (pages >= duePages) {
        auto* checkpointer = static_cast<Checkpointer*>(self);
        orv::base::MutexLock lock(checkpointer->m_mutex);
        if (!checkpointer->m_due) {
            checkpointer->m_due = true;
            checkpointer->m_wake.notifyOne();
        }
    }
    return SQLITE_OK;
}

void Checkpointer::run()
{
    Database db;
    m_mutex.lock();
    while (true) {
        while (!m_due && !m_stopping)
            m_wake.wait(m_mutex);
        if (m_stopping)
            break;
        m_mutex.unlock();
        // A passive checkpoint copies what no reader still needs and waits
        // for no lock; what it leaves is taken at the next one.
        int rc = SQLITE_OK;
        if (!db) {
            sqlite3* opened = nullptr;
            rc = sqlite3_open_v2(m_path.c_str(), &opened, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
            db.reset(opened);
            // A connection sees that the file is in WAL mode once it has
            // read from it; until then a checkpoint does nothing.
            if (rc == SQLITE_OK)
                rc = sqlite3_exec(db.get(), "SELECT 1 FROM sqlite_schema LIMIT 1", nullptr, nullptr, nullptr);
        }
        if (rc == SQLITE_OK)
            rc = sqlite3_wal_checkpoint_v2(db.get(), nullptr, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
        // Never waited for: the writer's owner may be stopping this thread
        // while it holds the lock.
        if (rc == SQLITE_OK && m_writers.tryLock()) {
            rc = sqlite3_wal_checkpoint_v2(db.get(), nullptr, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
            m_writers.unlock();
        }
        if (rc != SQLITE_OK && rc != SQLITE_BUSY) {
            logStatement(2, LogDest::trace(), "Journal %s: checkpoint failed: %s", m_path,
                db ? sqlite3_errmsg(db.get()) : sqlite3_errstr(rc));
            db.reset();
        }
        m_mutex.lock();
        m_due = false;
    }
    m_mutex.unlock();
}

}
