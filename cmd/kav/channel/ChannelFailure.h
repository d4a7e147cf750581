// The log pair a reporting channel writes when it cannot read an item of the
// event or of its database entry and gives the report up.
#pragma once

#include <string>

// Trace: which item of which object could not be read; platform: that the
// event could not be reported through the channel named by `channelWord`.
void reportGetFailed(const std::string& eventClass, const char* item, const char* object, const char* channelWord);
