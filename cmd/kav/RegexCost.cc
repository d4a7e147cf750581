#include "RegexCost.h"

#include <algorithm>
#include <cctype>
#include <optional>
#include <vector>

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

// One open group (the whole pattern is the outermost): the cost of what is
// complete, and of the last atom, which a following repetition multiplies.
struct Group {
    size_t done = 0;
    size_t last = 0;

    void atom(size_t cost)
    {
        done = add(done, last);
        last = std::max<size_t>(cost, 1);
    }
    size_t total() const { return add(done, last); }
};

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

// The copies a bound "{m}", "{m,}", "{m,n}" or "{,n}" at `at` makes, moving
// `at` past it; nothing when no bound starts there (the brace is then a
// literal or an error the compiler reports). "{,}" repeats like "*".
std::optional<size_t> bound(const std::string& pattern, size_t& at)
{
    size_t next = at + 1;
    if (!digitAt(pattern, next) && !(next < pattern.size() && pattern[next] == ','))
        return std::nullopt;
    const size_t low = number(pattern, next);
    size_t copies = low;
    if (next < pattern.size() && pattern[next] == ',') {
        ++next;
        const bool open = !digitAt(pattern, next);
        copies = open ? add(low, 1) : std::max(low, number(pattern, next));
    }
    if (next >= pattern.size() || pattern[next] != '}')
        return std::nullopt;
    at = next + 1;
    return std::max<size_t>(copies, 1);
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

size_t RegexCost::estimate(const std::string& pattern)
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
                const size_t inner = group.total();
                groups.pop_back();
                groups.back().atom(inner);
            } else {
                group.atom(1);
            }
            ++at;
            break;
        case '|':
            group.done = add(group.done, add(group.last, 1));
            group.last = 0;
            ++at;
            break;
        case '*':
        case '?':
            group.done = add(group.done, 1);
            ++at;
            break;
        case '+':
            group.last = multiply(group.last, 2);
            ++at;
            break;
        case '{':
            if (const std::optional<size_t> copies = bound(pattern, at)) {
                group.last = multiply(group.last, *copies);
            } else {
                group.atom(1);
                ++at;
            }
            break;
        case '[':
            at = skipBracket(pattern, at);
            group.atom(1);
            break;
        case '\\':
            at += 2;
            group.atom(1);
            break;
        default:
            group.atom(1);
            ++at;
            break;
        }
    }
    while (groups.size() > 1) {
        const size_t inner = groups.back().total();
        groups.pop_back();
        groups.back().atom(inner);
    }
    return groups.back().total();
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
