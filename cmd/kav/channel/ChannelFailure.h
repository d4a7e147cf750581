// The log pairs a reporting channel, or the manager for all of them, writes
// when it cannot read an item of the event or of its database entry and
// gives the report up.
#pragma once

#include <string>

// Trace: which item of which object could not be read; platform: that the
// event could not be reported through the channel named by `channelWord`.
void reportGetFailed(const std::string& eventClass, const char* item, const char* object, const char* channelWord);

// The same when the event's class itself cannot be read: the platform line
// names the class "unknown". A null `channelWord` stands for every channel,
// which the manager gives up at once.
void reportClassUnreadable(const char* channelWord);
