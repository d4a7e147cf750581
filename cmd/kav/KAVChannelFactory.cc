#include "KAVChannelFactory.h"

#include "EmailReportingService.h"
#include "EventDB.h"
#include "MessageReportingService.h"
#include "OrvEventReportingService.h"
#include "RemoteReportingService.h"

KAVChannelFactory KAVChannelFactory::standard()
{
    return {
        [] { return new EventDB(); },
        [] { return new MessageReportingService(); },
        [] { return new OrvEventReportingService(); },
        [] { return new RemoteReportingService(); },
        [] { return new EmailReportingService(); },
    };
}
