// Process-wide note that the server has begun to shut down (SIGTERM or
// SIGINT). Any thread waiting on a peer can add shutdownFd() to its poll()
// and give up the wait as soon as shutdown begins, so a stuck peer never
// holds the process past its stop.
#pragma once

namespace orv::io {

// Marks the process as shutting down; safe from any thread and to call more
// than once. Not for use in a signal handler: the framework calls it from its
// event loop when the stop signal is handled.
void requestShutdown();

// True once requestShutdown() has been called.
bool shutdownRequested();

// A close-on-exec descriptor that becomes readable once shutdown has begun
// and stays readable from then on (never read from it). -1 only when no pipe
// could be made; poll() ignores a negative descriptor, so callers need no
// special case.
int shutdownFd();

}
