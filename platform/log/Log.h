// The suite's message-logging library.
//
// Every log statement stages its time, source position and level in
// `msgParts` while holding `msgPartsMutex`, then calls `logMsg`, which writes
// the line and releases the lock. Callers normally go through
// logStatement() (LogStatement.h), which does exactly that.
#pragma once

#include <pthread.h>

#include <cstdint>

#include "platform/log/MessageIds.h"

using hrtime_t = int64_t;

// Monotonic high-resolution time in nanoseconds.
hrtime_t gethrtime();

struct MsgParts {
    hrtime_t hrtime; // staged by the caller
    char sourceFile[128]; // staged by the caller, always NUL terminated
    char reserved[64]; // library use only
    int level; // staged by the caller
    int line; // staged by the caller
    int reservedTail[4]; // library use only
};

// The suite's interface: these three and the functions below keep the
// names, layout and locking protocol other programs of the suite use.
extern MsgParts msgParts;
extern pthread_mutex_t msgPartsMutex;
extern int msgAction;

// Nonzero when a message of `level` is to be written ($ORV_LOG_LEVEL, default 2).
int logThisLevel(int level);

// Destination of the calling thread's following messages.
void setTraceType();
void setPlatformType();
void setDomainID(int domain); // 0..17 for domains A..R

// Writes one message for the staged `msgParts` and releases `msgPartsMutex`.
// Identifier 0: the next argument is a printf format. Any other identifier
// is catalogued (its arguments follow) or an event message number (exactly
// twenty `const char*` texts follow).
int logMsg(int id, ...);

// The tag written in front of every line ("kav").
void setProgramTag(const char* tag);

// Closes the cached log files so the next message reopens them (log rotation).
void reopenLogFiles();
