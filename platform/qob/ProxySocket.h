// Where the proxy listens, shared by the client library and the proxy.
#pragma once

#include <string>

namespace orv::qob {

// $QOB_PROXY_SOCKET, or the default path when it is unset or empty.
std::string proxySocketPath();

}
