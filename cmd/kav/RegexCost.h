// An upper estimate of how large a POSIX extended regular expression grows
// when compiled. The C library's compiler copies the operand of a "+" or a
// bounded repetition once per repetition, so nested repetitions multiply: a
// control-file pattern as short as "a+++++++++++++++++++++++" or
// "((a{255}){255}){255}" would take seconds and gigabytes to compile, on
// every email report. Patterns above the limit are refused instead.
//
// Back-references ("\\1" to "\\9", which the C library accepts in extended
// expressions too) make matching itself exponential whatever the size, and
// no control-file pattern needs them: they are refused as well.
#pragma once

#include <cstddef>
#include <string>

class RegexCost {
public:
    // Far above any pattern a control-file line can sensibly hold (the
    // domain pattern "[A-R]{1,18}" costs 18); compiles in milliseconds.
    static constexpr size_t LIMIT = 10000;

    // Copies of single characters, classes and anchors the compiled pattern
    // holds at most; anything above LIMIT is reported as LIMIT + 1. Every
    // repetition form counts: "*", "+", "?", "{m}", "{m,}", "{m,n}" and the
    // library's own "{,n}" (read as "{0,n}").
    static size_t estimate(const std::string& pattern);

    // True when the pattern refers back to a group ("\\1" to "\\9" outside
    // a bracket expression).
    static bool hasBackReference(const std::string& pattern);

    static bool acceptable(const std::string& pattern)
    {
        return !hasBackReference(pattern) && estimate(pattern) <= LIMIT;
    }
};
