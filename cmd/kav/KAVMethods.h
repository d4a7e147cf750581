// The methods of the daemon's door: what callers in the suite use, and what
// the operator's tool asks the daemon. One list, shared by both sides.
#pragma once

namespace kav::methods {

constexpr unsigned reportEvent = 0;
constexpr unsigned testEmail = 1;
// With a journal only: the operator's retry and drop of pending deliveries.
constexpr unsigned retry = 20;
constexpr unsigned drop = 21;
// With a journal only: silences for planned work.
constexpr unsigned silenceAdd = 22;
constexpr unsigned silenceList = 23;
constexpr unsigned silenceExpire = 24;
// The statuses of the silence calls besides 0 (done, with the answer as
// the reply's data).
namespace silenceStatus {
constexpr int malformed = 2;
constexpr int noJournal = 3;
// The journal is there but cannot be used now.
constexpr int journalFailed = 4;
// Expire: no active silence has the id.
constexpr int notActive = 5;
}
// Whether an event would be held back by its hold-down, and until when.
constexpr unsigned holdDownState = 25;

}
