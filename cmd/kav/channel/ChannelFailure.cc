#include "cmd/kav/channel/ChannelFailure.h"

#include "platform/log/LogStatement.h"

void reportGetFailed(const std::string& eventClass, const char* item, const char* object, const char* channelWord)
{
    logStatement(4, LogDest::trace(), "EVENT-CLASS: %s; get %s failed for %s object, %s reporting aborted.", eventClass,
        item, object, channelWord);
    logStatement(4, LogDest::platform(), KAV_FAILED_REPORTING_ATTEMPT, eventClass, channelWord);
}

void reportClassUnreadable(const char* channelWord)
{
    const std::string reporting = channelWord ? std::string(channelWord) + " reporting" : "reporting";
    logStatement(4, LogDest::trace(), "getEventClass failed for DXAEvent object, %s aborted.", reporting);
    logStatement(4, LogDest::platform(), KAV_FAILED_REPORTING_ATTEMPT, "unknown", channelWord ? channelWord : "all");
}
