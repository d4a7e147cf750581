#include "platform/qob/ProxySocket.h"

#include <cstdlib>

#include "platform/qob/qobimapi.h"

namespace orv::qob {

std::string proxySocketPath()
{
    const char* path = getenv("QOB_PROXY_SOCKET");
    return (path && *path) ? path : QOB_DEFAULT_PROXY_SOCKET;
}

}
