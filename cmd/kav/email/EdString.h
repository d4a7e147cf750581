// A list of (pattern, replacement) pairs over POSIX extended regular
// expressions: rewrites a text with every pair, or tests a text against one
// pattern. Replacements are inserted literally.
#pragma once

#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "cmd/kav/email/RegexCache.h"

class EdString {
public:
    // A replacement given as pieces inserted one after the other. The
    // pieces stay the caller's: a tag value may be megabytes of an event.
    using Pieces = std::vector<std::string_view>;

    // Lines that match it (a "#" in the first column, or nothing but blanks,
    // tabs and newlines) are dropped from control files and templates.
    static constexpr const char* COMMENT_PATTERN = "^#|^[ \t\n]*$";

    // What COMMENT_PATTERN says of `line`, without a regular expression.
    static bool isCommentLine(const std::string& line);

    EdString();

    // 0 when the lists have the same length and every pattern compiled; a
    // pattern that would compile too large (RegexCost) counts as not compiling.
    int init(const std::vector<std::string>& patterns, const std::vector<std::string>& replacements);
    int init(const std::string& pattern, const std::string& replacement);

    // As init, without copying the replacements: what the pieces refer to
    // must outlive every use of the editor.
    int refer(const std::vector<std::string>& patterns, const std::vector<Pieces>& replacements);

    // Replaces every match of each pattern in turn, in one forward pass per
    // pattern: what a replacement inserts is not searched again by the same
    // pattern (later patterns do see it), so a value holding its own tag
    // cannot feed itself. -1 when not initialised.
    int changeString(std::string& text);

    // The same, growing the text by at most `budget` bytes over all its
    // replacements (`budget` is reduced by what they add): a replacement
    // that would need more is left out, its match staying as written, and
    // limitReached() turns true.
    int changeString(std::string& text, long long& budget);

    bool limitReached() const { return m_limitHit; }

    // 0 when expression `index` matches somewhere in `text`.
    int patmatch(const std::string& text, int index) const;

private:
    int compile();
    void replaceAll(size_t index, std::string& text, long long& budget);
    bool mayMatchFrom(size_t index, const std::string& text, size_t at) const;
    static bool isPlainText(const std::string& pattern);

    // patterns, replacements, expressions and initialized: names the suite's interface fixes.
    std::vector<std::string> patterns;
    // Replacements given by value; a deque, so the pieces referring to them
    // stay valid as more are added.
    std::deque<std::string> m_owned;
    std::vector<Pieces> replacements;
    std::vector<size_t> m_replacementSizes;
    std::vector<orv::email::RegexCache::Expression> expressions;
    // Per pattern: true when it is printable ASCII without any character
    // that has a meaning in an extended expression, so that whatever it
    // matches are exactly its own bytes.
    std::vector<bool> m_plainText;
    bool initialized;
    bool m_limitHit = false;
};
