#include "platform/framework/DoorPath.h"

#include <cstdlib>

const char* const KAV_DOOR = "kav";
const char* const TEO_DOOR = "teo";

namespace orv::framework {

const char* const KAV_STATS_DOOR = "kav-stats";

const char* const DEFAULT_DOOR_DIR = "/run/KTRXORV/doors";

std::string doorDirectory()
{
    const char* dir = std::getenv("ORV_DOOR_DIR");
    if (dir == nullptr || *dir == '\0')
        return DEFAULT_DOOR_DIR;
    return dir;
}

std::string doorPath(const std::string& doorName)
{
    return doorDirectory() + "/" + doorName;
}

bool validDoorName(const std::string& doorName)
{
    if (doorName.empty() || doorName == "." || doorName == "..")
        return false;
    return doorName.find('/') == std::string::npos;
}

}
