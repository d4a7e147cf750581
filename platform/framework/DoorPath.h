// Where doors live and the names of the suite's doors.
//
// A door is a Unix stream socket named after the door in the door directory,
// $ORV_DOOR_DIR or /run/KTRXORV/doors when that is not set.
#pragma once

#include <string>

extern const char* const KAV_DOOR;
extern const char* const TEO_DOOR;

namespace orv::framework {

// The daemon's counters, apart from its event door so that door stays as it is.
extern const char* const KAV_STATS_DOOR;

extern const char* const DEFAULT_DOOR_DIR;

std::string doorDirectory();
std::string doorPath(const std::string& doorName);

// A door name is one path component: not empty, no '/', not "." or "..".
bool validDoorName(const std::string& doorName);

}
