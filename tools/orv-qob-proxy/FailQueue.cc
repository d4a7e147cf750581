#include "tools/orv-qob-proxy/FailQueue.h"

int FailQueue::take(const std::string& call)
{
    auto it = m_queues.find(call);
    if (it == m_queues.end() || it->second.empty())
        return 0;
    int code = it->second.front();
    it->second.pop_front();
    return code;
}
