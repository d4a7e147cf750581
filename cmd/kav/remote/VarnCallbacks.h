// Program-wide state of the remote channel that the client library's
// status callback reaches, and the callback itself. The names are plain
// (unmangled) because the client library calls back as C.
#pragma once

#include <atomic>

#include "platform/qob/qobimapi.h"

extern "C" {

// The registration handle. A reconnection replaces it while other threads
// may still be sending with the old one, so it is read and written whole.
extern std::atomic<QOBHandle> varnCommHandle;

// The status reported for the remote channel's one component.
extern QOBComponentStatus VarnIMStatus;

// The client library's status call, bound once the library is loaded; null
// before that.
extern std::atomic<qob_sendstatus_t> varnSendStatus;

// Answers the proxy's status command: the daemon's status goes back through
// the same library, and its result is the callback's result.
int get_im_status(void);
}
