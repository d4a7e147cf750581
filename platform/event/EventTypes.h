// Enumerations of the event database entry that the daemon interprets.
// They are int-sized and may carry values outside their named range, as
// written in the database.
#pragma once

namespace orv {

enum EventSeverity : int {
    DXAEVENT_SEV_UNKNOWN = 0,
    DXAEVENT_SEV_OTHER = 1,
    DXAEVENT_SEV_INFO = 2,
    DXAEVENT_SEV_WARNING = 3,
    DXAEVENT_SEV_MINOR = 4,
    DXAEVENT_SEV_MAJOR = 5,
    DXAEVENT_SEV_CRITICAL = 6,
    DXAEVENT_SEV_FATAL = 7,
};

enum EventPriority : int {
    EVENT_PRIORITY_0 = 0,
    EVENT_PRIORITY_1 = 1,
    EVENT_PRIORITY_2 = 2,
};

enum EventReportingType : int {
    EVENT_REPORTING_ALARM = 0,
    EVENT_REPORTING_EVENT = 1,
    EVENT_REPORTING_DATA = 2,
};

}
