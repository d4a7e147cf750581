#include "cmd/kav/channel/ChannelResult.h"

#include "cmd/kav/channel/ChannelFailure.h"

namespace orv::journal {

ChannelResult cannotRead(const std::string& eventClass, const char* item, const char* object, const char* channelWord)
{
    reportGetFailed(eventClass, item, object, channelWord);
    return ChannelResult::refused(std::string("cannot read ") + item + " from " + object);
}

}
