#include "platform/framework/Application.h"

#include <poll.h>
#include <signal.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <system_error>

#include "platform/log/LogStatement.h"
#include "platform/io/ShutdownSignal.h"
#include "platform/framework/SignalPipe.h"

Application* theApplication = nullptr;

Application::Application() = default;

Application::~Application() = default;

void Application::terminateApplication()
{
    requestStop();
}

void Application::handleEvents()
{
    watchSignals();
    while (!m_stop.load()) {
        pollfd fds[] = { { m_stopPipe.readFd(), POLLIN, 0 }, { m_signals ? m_signals->fd() : -1, POLLIN, 0 } };
        if (::poll(fds, 2, -1) < 0 && errno != EINTR) {
            logStatement(4, LogDest::trace(), "Event loop: poll failed: %s", std::strerror(errno));
            return;
        }
        m_stopPipe.drain();
        handlePendingSignals();
    }
}

int Application::registerCommandArg()
{
    return EINVAL;
}

int Application::checkCommandLineDependencies()
{
    return 0;
}

int Application::registerApplicationCommandLineFlags()
{
    return 0;
}

void Application::usage()
{
    std::fprintf(stderr, "usage: %s\n", m_programName.c_str());
}

void Application::getAdditionalSignals()
{
}

void Application::handleAdditionalSignals(int signal)
{
    logStatement(2, LogDest::trace(), "Signal %d received and ignored.", signal);
}

void Application::handleSIGINT()
{
    stopOnSignal("SIGINT");
}

void Application::handleSIGTERM()
{
    stopOnSignal("SIGTERM");
}

void Application::handleSIGHUP()
{
    logStatement(2, LogDest::trace(), "SIGHUP received: reopening the log files.");
    reopenLogFiles();
}

void Application::handleSIGQUIT()
{
    ignoreSignal("SIGQUIT");
}

void Application::handleSIGUSR1()
{
    ignoreSignal("SIGUSR1");
}

void Application::handleSIGUSR2()
{
    ignoreSignal("SIGUSR2");
}

void Application::cleanup()
{
}

void Application::doorStart()
{
}

void Application::doorInvocation()
{
}

void Application::requestStop()
{
    m_stop = true;
    m_stopPipe.post(1);
}

int Application::parseCommandLine(int argc, char** argv)
{
    if (argc > 0 && argv[0] != nullptr) {
        const char* slash = std::strrchr(argv[0], '/');
        m_programName = slash != nullptr ? slash + 1 : argv[0];
    }
    if (registerApplicationCommandLineFlags() != 0) {
        usage();
        return EINVAL;
    }
    for (int i = 1; i < argc; ++i) {
        m_commandArg = argv[i];
        if (registerCommandArg() != 0) {
            std::fprintf(stderr, "%s: unrecognised argument '%s'\n", m_programName.c_str(), argv[i]);
            usage();
            return EINVAL;
        }
    }
    if (checkCommandLineDependencies() != 0) {
        usage();
        return EINVAL;
    }
    return 0;
}

int Application::watchSignals()
{
    if (m_signals)
        return 0;
    m_extraSignals.clear();
    getAdditionalSignals();
    std::vector<int> signals { SIGTERM, SIGINT, SIGQUIT, SIGUSR1, SIGUSR2, SIGHUP };
    signals.insert(signals.end(), m_extraSignals.begin(), m_extraSignals.end());
    try {
        m_signals = std::make_unique<orv::framework::SignalPipe>(signals);
        return 0;
    } catch (const std::system_error& error) {
        logStatement(2, LogDest::trace(), "Event loop: signals not handled here: %s", error.what());
        return error.code().value();
    }
}

void Application::handlePendingSignals()
{
    if (!m_signals)
        return;
    for (int signal = m_signals->next(); signal >= 0; signal = m_signals->next())
        dispatchSignal(signal);
}

void Application::dispatchSignal(int signal)
{
    switch (signal) {
    case SIGINT:
        return handleSIGINT();
    case SIGTERM:
        return handleSIGTERM();
    case SIGQUIT:
        return handleSIGQUIT();
    case SIGUSR1:
        return handleSIGUSR1();
    case SIGUSR2:
        return handleSIGUSR2();
    case SIGHUP:
        return handleSIGHUP();
    default:
        return handleAdditionalSignals(signal);
    }
}

void Application::ignoreSignal(const char* name)
{
    logStatement(2, LogDest::trace(), "%s received and ignored.", name);
}

void Application::stopOnSignal(const char* name)
{
    logStatement(2, LogDest::trace(), "%s received: shutting down.", name);
    // Before the loop ends, so threads waiting on peers let go while the
    // door server drains.
    orv::io::requestShutdown();
    terminateApplication();
}
