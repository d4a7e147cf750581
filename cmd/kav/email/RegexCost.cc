#include "cmd/kav/email/RegexCost.h"

#include <algorithm>
#include <cctype>
#include <optional>
#include <string_view>
#include <vector>

namespace orv::email {

namespace {

constexpr size_t cap = RegexCost::LIMIT + 1;

size_t add(size_t a, size_t b)
{
    return std::min(cap, a + b);
}

size_t multiply(size_t a, size_t b)
{
    return b != 0 && a > cap / b ? cap : std::min(cap, a * b);
}

// What a piece of the pattern compiles to: copies of characters, classes
// and anchors, and the empty-width steps among them (optional parts, loops,
// alternatives, group marks, anchors). The compiler works out, for every
// step, all the steps it can reach without reading a character; chains of
// optional parts make that quadratic ("a{,9999}" holds 9999 nested ones and
// takes seconds). What it keeps per step holds at most the empty steps and
// their ends, so bounding their number bounds that work whatever the copies.
//
// Anchors are counted apart as well: the compiler tracks the conditions
// they set along every empty path, and an anchor inside a repetition
// ("((\\<|\\>|^|$)*){2}") takes it seconds to minutes. Such a pattern counts
// as over every limit; "\\b" and "\\B" are two anchors each.
struct Cost {
    size_t copies = 0;
    size_t empty = 0;
    size_t anchors = 0;

    Cost operator+(Cost other) const
    {
        return { add(copies, other.copies), add(empty, other.empty), add(anchors, other.anchors) };
    }
    Cost times(size_t n) const { return { multiply(copies, n), multiply(empty, n), anchors }; }
    Cost repeated(size_t n) const
    {
        Cost result = times(n);
        if (anchors > 0)
            result.anchors = cap;
        return result;
    }
};

// One open group (the whole pattern is the outermost): the cost of what is
// complete, and of the last atom, which a following repetition multiplies.
struct Group {
    Cost done;
    Cost last;

    void atom(Cost cost)
    {
        done = done + last;
        last = cost;
    }
    Cost total() const { return done + last; }
};

constexpr Cost character { 1, 0, 0 };
constexpr Cost anchor { 1, 1, 1 };
constexpr Cost wordBoundary { 2, 2, 2 };
constexpr Cost emptyStep { 0, 1, 0 };

size_t number(const std::string& pattern, size_t& at)
{
    size_t value = 0;
    while (at < pattern.size() && std::isdigit(static_cast<unsigned char>(pattern[at])))
        value = std::min(cap, value * 10 + static_cast<size_t>(pattern[at++] - '0'));
    return value;
}

bool digitAt(const std::string& pattern, size_t at)
{
    return at < pattern.size() && std::isdigit(static_cast<unsigned char>(pattern[at]));
}

// What a bound "{m}", "{m,}", "{m,n}" or "{,n}" at `at` makes of an atom
// costing `atom`, moving `at` past it; nothing when no bound starts there
// (the brace is then a literal or an error the compiler reports). The
// compiler writes m copies, then n - m optional ones nested in each other,
// or one loop for an open bound; "{,}" repeats like "*".
std::optional<Cost> bound(const std::string& pattern, size_t& at, Cost atom)
{
    size_t next = at + 1;
    if (!digitAt(pattern, next) && !(next < pattern.size() && pattern[next] == ','))
        return std::nullopt;
    const size_t low = number(pattern, next);
    size_t copies = low;
    size_t optional = 0;
    if (next < pattern.size() && pattern[next] == ',') {
        ++next;
        const bool open = !digitAt(pattern, next);
        copies = open ? add(low, 1) : std::max(low, number(pattern, next));
        optional = open ? 1 : copies - low;
    }
    if (next >= pattern.size() || pattern[next] != '}')
        return std::nullopt;
    at = next + 1;
    return atom.repeated(std::max<size_t>(copies, 1)) + emptyStep.times(optional);
}

// Escapes that match an empty width: word and buffer boundaries. The
// compiler makes "\\b" and "\\B" a choice of two.
Cost escapeCost(char letter)
{
    if (letter == 'b' || letter == 'B')
        return wordBoundary;
    return std::string_view("<>`'").find(letter) != std::string_view::npos ? anchor : character;
}

// The position after the bracket expression that starts at `at`.
size_t skipBracket(const std::string& pattern, size_t at)
{
    size_t next = at + 1;
    if (next < pattern.size() && pattern[next] == '^')
        ++next;
    if (next < pattern.size() && pattern[next] == ']')
        ++next;
    while (next < pattern.size() && pattern[next] != ']') {
        const char kind = next + 1 < pattern.size() && pattern[next] == '[' ? pattern[next + 1] : '\0';
        if (kind == ':' || kind == '.' || kind == '=') {
            const size_t close = pattern.find(std::string { kind, ']' }, next + 2);
            next = close == std::string::npos ? pattern.size() : close + 2;
        } else {
            ++next;
        }
    }
    return std::min(pattern.size(), next + 1);
}

}

RegexCost::Estimate RegexCost::estimate(const std::string& pattern)
{
    // An explicit stack: the nesting depth is the pattern's to choose.
    std::vector<Group> groups(1);
    size_t at = 0;
    while (at < pattern.size()) {
        Group& group = groups.back();
        switch (pattern[at]) {
        case '(':
            groups.emplace_back();
            ++at;
            break;
        case ')':
            if (groups.size() > 1) {
                // The group's opening and closing marks are empty steps.
                const Cost inner = group.total() + emptyStep.times(2);
                groups.pop_back();
                groups.back().atom(inner);
            } else {
                group.atom(character);
            }
            ++at;
            break;
        case '|':
            group.done = group.done + group.last + Cost { 1, 1, 0 };
            group.last = {};
            ++at;
            break;
        case '*':
        case '?':
            // A loop or a skip around the atom, which a following bound
            // repeats with it ("a?{9}").
            group.last = group.last.repeated(1) + Cost { 1, 1, 0 };
            ++at;
            break;
        case '+':
            // A copy of the atom, then a loop over it.
            group.last = group.last.repeated(2) + emptyStep;
            ++at;
            break;
        case '{':
            if (const std::optional<Cost> repeated = bound(pattern, at, group.last)) {
                group.last = *repeated;
            } else {
                group.atom(character);
                ++at;
            }
            break;
        case '[':
            at = skipBracket(pattern, at);
            group.atom(character);
            break;
        case '^':
        case '$':
            group.atom(anchor);
            ++at;
            break;
        case '\\':
            group.atom(at + 1 < pattern.size() ? escapeCost(pattern[at + 1]) : character);
            at += 2;
            break;
        default:
            group.atom(character);
            ++at;
            break;
        }
    }
    while (groups.size() > 1) {
        const Cost inner = groups.back().total() + emptyStep.times(2);
        groups.pop_back();
        groups.back().atom(inner);
    }
    const Cost total = groups.back().total();
    return { std::max<size_t>(total.copies, 1), total.empty, total.anchors };
}

bool RegexCost::hasBackReference(const std::string& pattern)
{
    for (size_t at = 0; at < pattern.size();) {
        if (pattern[at] == '[') {
            at = skipBracket(pattern, at);
        } else if (pattern[at] == '\\') {
            if (at + 1 < pattern.size() && pattern[at + 1] >= '1' && pattern[at + 1] <= '9')
                return true;
            at += 2;
        } else {
            ++at;
        }
    }
    return false;
}

}
