#include "cmd/kav/email/HostName.h"

#include <unistd.h>

namespace orv::email {

std::optional<std::string> systemHostName()
{
    // One byte more than gethostname may fill, so the name always ends.
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0)
        return std::nullopt;
    return std::string(name);
}

}
