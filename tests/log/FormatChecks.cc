// Compiled, not run: each CASE is a log statement whose format or catalogue
// text does not fit its arguments, and must not build. CASE 0 is the same
// statements written right, which must build, so that the others fail for
// their mismatch and not for something else.
#include <string>

#include "platform/log/LogStatement.h"

void statements()
{
    const std::string text = "x";
    const long count = 1;
#if CASE == 0
    logStatement(2, LogDest::trace(), "%s has %ld items, %d%%", text, count, 3);
    logStatement(4, LogDest::platform(), KAV_FAILED_REPORTING_ATTEMPT, text, "message");
    logStatement(2, LogDest::trace(), "%*s|%-5.2u|%c", 4, "ab", 7u, 'c');
#elif CASE == 1
    logStatement(2, LogDest::trace(), "%s has %d items", text, count); // long for %d
#elif CASE == 2
    logStatement(2, LogDest::trace(), "%s has %ld items", count, text); // swapped
#elif CASE == 3
    logStatement(4, LogDest::platform(), KAV_FAILED_REPORTING_ATTEMPT, text); // one argument short
#elif CASE == 4
    logStatement(2, LogDest::trace(), "done", text); // one argument too many
#elif CASE == 5
    logStatement(4, LogDest::platform(), 9999, text); // no such catalogue entry
#elif CASE == 6
    logStatement(2, LogDest::trace(), "%u", -1); // int for %u
#endif
}
