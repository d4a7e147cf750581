// An upper estimate of how large a POSIX extended regular expression grows
// when compiled. The C library's compiler copies the operand of a "+" or a
// bounded repetition once per repetition, so nested repetitions multiply: a
// control-file pattern as short as "a+++++++++++++++++++++++" or
// "((a{255}){255}){255}" would take seconds and gigabytes to compile, on
// every email report. Long chains of optional parts cost time of their own:
// "a{,9999}" is 9999 copies, each optional, and takes seconds. Patterns
// above the limits are refused instead.
//
// Back-references ("\\1" to "\\9", which the C library accepts in extended
// expressions too) make matching itself exponential whatever the size, and
// no control-file pattern needs them: they are refused as well.
#pragma once

#include <cstddef>
#include <string>

namespace orv::email {

class RegexCost {
public:
    // Far above any pattern a control-file line can sensibly hold (the
    // domain pattern "[A-R]{1,18}" costs 18); compiles in milliseconds.
    static constexpr size_t LIMIT = 10000;

    // Empty-width steps (optional parts, loops, alternatives, group marks,
    // anchors): "[A-R]{1,18}" has 17. The compiler's work on them grows
    // with the square of their number.
    static constexpr size_t EMPTY_LIMIT = 256;

    // Anchors ("^", "$", "\\<", "\\>", "\\`", "\\'"; "\\b" and "\\B" count
    // twice): a few are cheap, any under a repetition is not and counts as
    // over the limit.
    static constexpr size_t ANCHOR_LIMIT = 16;

    struct Estimate {
        // Copies of single characters, classes and anchors the compiled
        // pattern holds at most, the empty-width steps and the anchors
        // among them; each saturates just above LIMIT.
        size_t copies = 0;
        size_t empty = 0;
        size_t anchors = 0;
    };

    // Every repetition form counts: "*", "+", "?", "{m}", "{m,}", "{m,n}"
    // and the library's own "{,n}" (read as "{0,n}").
    static Estimate estimate(const std::string& pattern);

    // True when the pattern refers back to a group ("\\1" to "\\9" outside
    // a bracket expression).
    static bool hasBackReference(const std::string& pattern);

    static bool acceptable(const std::string& pattern)
    {
        if (hasBackReference(pattern))
            return false;
        const Estimate cost = estimate(pattern);
        return cost.copies <= LIMIT && cost.empty <= EMPTY_LIMIT && cost.anchors <= ANCHOR_LIMIT;
    }
};

}
