// A fake client library (built as libqobimapi.so.1) that records what the
// remote channel hands it and answers with results the test queues. The test
// reaches its state through the one extra entry point, fakeqob_state; it
// changes the state only while no other thread calls the library.
#pragma once

#include <deque>
#include <map>
#include <mutex>
#include <string>

#include "platform/qob/qobimapi.h"

struct FakeQobSent {
    QOBHandle handle = 0;
    std::string target, type, subtype;
    long reserved = -1;
    // Offsets of the parts from the header, to check that they are one record.
    long eventAt = 0, alarmAt = 0, dataAt = 0, hintsAt = 0;
    long timestamp = 0;
    std::string origin, text, alarmId, alarmState, bytes, format;
    int severity = -1, textLength = -1, dataReserved = -1;
    int hints[3] = { -1, -1, -1 };
};

struct FakeQobState {
    std::mutex mutex;
    std::map<std::string, std::deque<int>> queued; // next results by call name
    std::map<std::string, int> calls; // how often each call was made
    std::deque<FakeQobSent> sent; // every senddata, in order
    std::string app, version;
    QOBCallback callback {};
    int registerArgs[4] = {};
    int registerDelayMs = 0;
    QOBHandle nextHandle = 100;
    QOBHandle closed = 0;
    QOBHandle statusHandle = 0;
    std::string statusComponent;
    int status = -1, statusCount = -1;
};

extern "C" typedef FakeQobState* (*fakeqob_state_t)();
