// orv-event's --timeout SECONDS: how long one door call may take before
// orv-event gives up on a daemon that does not answer.
#pragma once

#include <string>
#include <vector>

#include "platform/io/Deadline.h"

namespace orvevent {

// Removes a leading "--timeout SECONDS" from `args` and keeps its value;
// throws std::invalid_argument for a value that is not a positive number.
void takeTimeoutOption(std::vector<std::string>& args);

// A deadline for one door call: the --timeout given, 30 seconds without one.
orv::io::Deadline callDeadline();

}
