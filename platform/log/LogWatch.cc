#include "platform/log/LogWatch.h"

namespace orv::log {

namespace {

thread_local LogWatch* threadWatch = nullptr;
thread_local LogWatch::EventOutput* threadEventOutput = nullptr;

}

LogWatch::LogWatch()
    : m_previous(threadWatch)
{
    threadWatch = this;
}

LogWatch::~LogWatch()
{
    threadWatch = m_previous;
}

bool LogWatch::notify(int level, int id, int destination, const std::string& text)
{
    LogWatch* watch = threadWatch;
    if (!watch)
        return true;
    watch->lineLogged({ level, id, destination, threadEventOutput != nullptr, text });
    return watch->keepsLines();
}

void LogWatch::notifyNotWritten(const std::string& why)
{
    EventOutput* output = threadEventOutput;
    if (output && output->m_notWritten.empty())
        output->m_notWritten = why;
}

LogWatch::EventOutput::EventOutput()
    : m_outer(threadEventOutput)
{
    threadEventOutput = this;
}

LogWatch::EventOutput::~EventOutput()
{
    threadEventOutput = m_outer;
}

}
