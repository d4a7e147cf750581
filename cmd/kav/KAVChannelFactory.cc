#include "KAVChannelFactory.h"

#include "EmailReportingService.h"
#include "EventDB.h"
#include "MessageReportingService.h"
#include "OrvEventReportingService.h"
#include "RemoteReportingService.h"

KAVChannelFactory KAVChannelFactory::standard()
{
    return {
        [] { return std::make_unique<EventDB>(); },
        [] { return std::make_unique<MessageReportingService>(); },
        [] { return std::make_unique<OrvEventReportingService>(); },
        [] { return std::make_unique<RemoteReportingService>(); },
        [] { return std::make_unique<EmailReportingService>(); },
    };
}
