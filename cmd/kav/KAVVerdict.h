// What the daemon made of a report or test-email call (door methods 0 and
// 1), answered as the status of the call's reply. The call completes as it
// always did, with no reply data, so a caller that does not look at the
// status sees no difference. docs/door-protocol.md lists the values.
#pragma once

enum class KAVVerdict : int {
    // Handed to the channels its class names; how they fared is counted
    // (orv-event stats), not answered.
    Taken = 0,
    // The parameter is no packed event.
    NotAnEvent = 1,
    // The event's class is not in the event database (or none was loaded).
    UnknownClass = 2,
    // The parameter is empty.
    EmptyParameter = 3,
    // The event carries no class.
    NoClass = 4,
    // A test email for a class that does not ask for email.
    NotForEmail = 5,
};
