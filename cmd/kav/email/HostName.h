// The machine's host name as the mail code uses it: in scratch-file names
// and in Message-IDs, each with its own stand-in when there is none.
#pragma once

#include <optional>
#include <string>

namespace orv::email {

// The host name, or nothing when the system cannot give it.
std::optional<std::string> systemHostName();

}
