#include "platform/log/LogWatch.h"

namespace orv::log {

namespace {

thread_local LogWatch* threadWatch = nullptr;
thread_local bool threadEventOutput = false;

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
    watch->lineLogged({ level, id, destination, threadEventOutput, text });
    return watch->keepsLines();
}

LogWatch::EventOutput::EventOutput()
    : m_wasEventOutput(threadEventOutput)
{
    threadEventOutput = true;
}

LogWatch::EventOutput::~EventOutput()
{
    threadEventOutput = m_wasEventOutput;
}

}
