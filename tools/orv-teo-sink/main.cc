// orv-teo-sink: a stand-in for the event front-end daemon. It serves the
// front-end's door and appends one JSON line per received frame to its
// output, answering every frame with 0 or with the status given, or (with
// --silent) never answering at all until it is stopped, like a front-end
// that has hung.
#include <poll.h>
#include <signal.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/base/Mutex.h"
#include "platform/framework/DoorApplication.h"
#include "platform/framework/DoorPath.h"
#include "platform/framework/DoorService.h"
#include "platform/text/JsonText.h"
#include "platform/log/Log.h"
#include "platform/sendevent/OrvEventFrame.h"
#include "platform/io/ShutdownSignal.h"

using orv::framework::doorPath;

namespace {

constexpr const char* usageText = "usage: orv-teo-sink [--out FILE] [--reply-status N] [--silent]\n";

class FrameSink : public DoorService {
public:
    FrameSink(FILE* out, int replyStatus, bool silent)
        : DoorService(true)
        , m_out(out)
        , m_replyStatus(replyStatus)
        , m_silent(silent)
    {
    }

    void methodDispatch() override
    {
        unsigned size = 0;
        getParam(size);
        std::vector<char> bytes(size);
        getVoidParam(bytes.data(), size);
        try {
            record(OrvEventFrame::decode(bytes.data(), bytes.size()));
        } catch (const std::exception&) {
            doorReturn(EPROTO);
            return;
        }
        if (m_silent)
            waitForStop();
        doorReturn(m_replyStatus);
    }

private:
    // Holds the call (and the caller) until the sink is stopped.
    static void waitForStop()
    {
        pollfd stop { orv::io::shutdownFd(), POLLIN, 0 };
        while (poll(&stop, 1, -1) <= 0) { }
    }

    void record(const OrvEventFrame& frame)
    {
        nlohmann::ordered_json line = {
            { "source", frame.eventSource() },
            { "eventCode", frame.eventCode() },
            { "asynchronous", frame.asynchronous() },
            { "timestamp", frame.timeStamp() },
            { "priority", frame.priorityLevel() },
            { "text", orv::text::toJsonText(frame.eventText()) },
        };
        std::string text = line.dump() + "\n";
        orv::base::MutexLock lock(m_mutex);
        fwrite(text.data(), 1, text.size(), m_out);
        fflush(m_out);
    }

    // Keeps each call's line whole in the file.
    orv::base::Mutex m_mutex;
    FILE* m_out PT_GUARDED_BY(m_mutex);
    int m_replyStatus;
    bool m_silent;
};

struct Options {
    std::string out;
    int replyStatus = 0;
    bool silent = false;
};

bool parseOptions(int argc, char** argv, Options& options)
{
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--silent") {
            options.silent = true;
            continue;
        }
        if (i + 1 >= argc)
            return false;
        if (arg == "--out") {
            options.out = argv[++i];
        } else if (arg == "--reply-status") {
            char* end = nullptr;
            long value = strtol(argv[++i], &end, 10);
            if (*end != '\0' || value < -2147483647L || value > 2147483647L)
                return false;
            options.replyStatus = static_cast<int>(value);
        } else {
            return false;
        }
    }
    return true;
}

}

int main(int argc, char** argv)
{
    Options options;
    if (!parseOptions(argc, argv, options)) {
        std::cerr << usageText;
        return 2;
    }
    signal(SIGPIPE, SIG_IGN);
    setProgramTag("orv-teo-sink");

    std::unique_ptr<FILE, int (*)(FILE*)> out(options.out.empty() ? stdout : fopen(options.out.c_str(), "a"),
        [](FILE* f) { return f == stdout ? fflush(f) : fclose(f); });
    if (!out) {
        std::cerr << "orv-teo-sink: " << options.out << ": " << strerror(errno) << '\n';
        return 1;
    }

    DoorApplication application("TEO", 1, 1);
    application.watchSignals();
    if (int rc = application.registerObj(new FrameSink(out.get(), options.replyStatus, options.silent), 0); rc != 0) {
        std::cerr << "orv-teo-sink: cannot register the frame sink: " << strerror(rc) << '\n';
        return 1;
    }
    if (int rc = application.doorCreate(TEO_DOOR, 0); rc != 0) {
        std::cerr << "orv-teo-sink: cannot create door " << doorPath(TEO_DOOR) << ": " << strerror(rc) << '\n';
        return 1;
    }
    application.handleEvents();
    return 0;
}
