// The ceiling on mail (ORV_MAIL_RATE): mail tries spaced evenly, at most so
// many a minute over all recipients, without a burst. A try takes the slot
// that has come and the next one comes a spacing later, so no minute ever
// holds more tries than the ceiling.
#pragma once

#include "cmd/kav/journal/JournalTypes.h"

namespace orv::journal {

class MailCeiling {
public:
    // 0: no ceiling.
    explicit MailCeiling(int perMinute);

    bool on() const { return m_spacing > 0; }
    // Takes the slot when it has come; false while it has not.
    bool take(Millis now);
    // When the next slot comes.
    Millis nextSlot() const { return m_next; }

private:
    // Rounded up: a slot is never early.
    const Millis m_spacing;
    Millis m_next = 0;
};

}
