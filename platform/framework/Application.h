// Base of a server process's application object: command line, signals and
// the event loop that runs until the application is asked to stop.
//
// Signals are turned into notes on a pipe and handled in the event loop by
// the handle... operations: SIGTERM and SIGINT end the loop, SIGHUP reopens
// the log files, SIGQUIT, SIGUSR1 and SIGUSR2 are logged and ignored.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "platform/framework/SelfPipe.h"

namespace orv::framework {
class SignalPipe;
}

class Application {
public:
    Application();
    virtual ~Application();
    Application(const Application&) = delete;
    Application& operator=(const Application&) = delete;

    // Ends the event loop (the default asks it to stop).
    virtual void terminateApplication();
    // Runs the event loop until the application is asked to stop.
    virtual void handleEvents();
    // One command-line argument, commandArg(); 0 when it is accepted. By
    // default no argument is.
    virtual int registerCommandArg();
    // After all arguments; 0 when they fit together.
    virtual int checkCommandLineDependencies();
    // Before the arguments are read; 0 on success.
    virtual int registerApplicationCommandLineFlags();
    virtual void usage();
    // Names further signals to handle, with addSignal().
    virtual void getAdditionalSignals();
    virtual void handleAdditionalSignals(int signal);
    virtual void handleSIGINT();
    virtual void handleSIGTERM();
    // Reopens the log files.
    virtual void handleSIGHUP();
    virtual void handleSIGQUIT();
    virtual void handleSIGUSR1();
    virtual void handleSIGUSR2();
    // Releases what the application holds once the event loop is over.
    virtual void cleanup();
    // Door hooks: once on each door thread as it starts, and before each call.
    virtual void doorStart();
    virtual void doorInvocation();

    // Safe from any thread, also before the event loop has started.
    void requestStop();
    bool stopRequested() const { return m_stop.load(); }

    // 0, or EINVAL after an unaccepted argument (usage() has been shown).
    int parseCommandLine(int argc, char** argv);
    // Starts catching the signals; 0, or EBUSY when another application in
    // this process has them. Signals that arrive before the event loop
    // runs wait for it.
    int watchSignals();

protected:
    void addSignal(int signal) { m_extraSignals.push_back(signal); }
    const std::string& commandArg() const { return m_commandArg; }
    const std::string& programName() const { return m_programName; }

private:
    void handlePendingSignals();
    void dispatchSignal(int signal);
    void ignoreSignal(const char* name);
    void stopOnSignal(const char* name);

    orv::framework::SelfPipe m_stopPipe;
    std::atomic<bool> m_stop { false };
    std::unique_ptr<orv::framework::SignalPipe> m_signals;
    std::vector<int> m_extraSignals;
    std::string m_programName = "server";
    std::string m_commandArg;
};

extern Application* theApplication;
