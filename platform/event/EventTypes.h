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

constexpr bool isNamedSeverity(EventSeverity severity)
{
    return severity >= DXAEVENT_SEV_UNKNOWN && severity <= DXAEVENT_SEV_FATAL;
}

constexpr bool isNamedPriority(EventPriority priority)
{
    return priority >= EVENT_PRIORITY_0 && priority <= EVENT_PRIORITY_2;
}

// The channels group the named severities into four grades, each channel
// giving a grade its own value (a log level, a frame priority).
enum class SeverityGrade { Routine, Warning, Serious, Grave };

constexpr SeverityGrade gradeOf(EventSeverity severity)
{
    switch (severity) {
    case DXAEVENT_SEV_WARNING:
        return SeverityGrade::Warning;
    case DXAEVENT_SEV_MINOR:
    case DXAEVENT_SEV_MAJOR:
        return SeverityGrade::Serious;
    case DXAEVENT_SEV_CRITICAL:
    case DXAEVENT_SEV_FATAL:
        return SeverityGrade::Grave;
    default:
        return SeverityGrade::Routine;
    }
}

// `values` indexed by grade for a named severity; -1 for any other value.
constexpr int byGrade(EventSeverity severity, const int (&values)[4])
{
    return isNamedSeverity(severity) ? values[static_cast<int>(gradeOf(severity))] : -1;
}

}
