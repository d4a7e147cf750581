#include "cmd/kav/KAVChannelFactory.h"

#include "cmd/kav/email/EmailReportingService.h"
#include "platform/event/EventDB.h"
#include "cmd/kav/message/MessageReportingService.h"
#include "cmd/kav/frontend/OrvEventReportingService.h"
#include "cmd/kav/remote/RemoteReportingService.h"

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
