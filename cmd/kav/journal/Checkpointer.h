// Copies the journal's write-ahead log back into the file on a thread of
// its own, through a connection of its own. Left to the writer, SQLite does
// it inside a commit, fsync included, every thousand pages, and the door
// thread that made that commit (and every one queued behind it) waits for
// it. A checkpoint beside the writer lets commits go on meanwhile.
//
// The log starts again from its beginning only once a checkpoint has copied
// all of it, which one that runs beside a busy writer never does. So after
// the bulk of the log is copied, the few frames committed meanwhile are
// copied holding the writer's lock, if it is free; else at the next commit.
#pragma once

#include <string>
#include <thread>

#include "cmd/kav/journal/Sqlite.h"
#include "platform/base/Mutex.h"

namespace orv::journal {

class Checkpointer {
public:
    // Pages in the log that call for a checkpoint.
    static constexpr int duePages = 1000;

    // `writers`: the lock the writer holds for each of its transactions.
    Checkpointer(std::string path, orv::base::Mutex& writers);
    ~Checkpointer();
    Checkpointer(const Checkpointer&) = delete;
    Checkpointer& operator=(const Checkpointer&) = delete;

    // Takes over the writer connection's checkpoints: SQLite's own are off
    // from now, and each commit tells this one how long the log has grown.
    void watch(sqlite3* writer);

private:
    static int walHook(void* self, sqlite3* db, const char* name, int pages);
    void run() EXCLUDES(m_mutex);

    const std::string m_path;
    orv::base::Mutex& m_writers;
    orv::base::Mutex m_mutex;
    orv::base::CondVar m_wake;
    bool m_due GUARDED_BY(m_mutex) = false;
    bool m_stopping GUARDED_BY(m_mutex) = false;
    std::thread m_thread;
};

}
