#include "cmd/kav/email/EdString.h"

#include <regex.h>

#include <limits>
#include <utility>

EdString::EdString()
    : initialized(false)
{
}

int EdString::init(const std::vector<std::string>& newPatterns, const std::vector<std::string>& newReplacements)
{
    if (newPatterns.size() != newReplacements.size())
        return -1;
    std::vector<Pieces> pieces;
    for (const std::string& replacement : newReplacements)
        pieces.push_back({ m_owned.emplace_back(replacement) });
    return refer(newPatterns, pieces);
}

int EdString::refer(const std::vector<std::string>& newPatterns, const std::vector<Pieces>& newReplacements)
{
    if (newPatterns.size() != newReplacements.size())
        return -1;
    patterns.insert(patterns.end(), newPatterns.begin(), newPatterns.end());
    for (const Pieces& pieces : newReplacements) {
        size_t size = 0;
        for (std::string_view piece : pieces)
            size += piece.size();
        replacements.push_back(pieces);
        m_replacementSizes.push_back(size);
    }
    return compile();
}

int EdString::compile()
{
    for (size_t i = expressions.size(); i < patterns.size(); ++i) {
        orv::email::RegexCache::Expression compiled = orv::email::RegexCache::compile(patterns[i]);
        if (!compiled)
            return -1;
        expressions.push_back(std::move(compiled));
        m_plainText.push_back(isPlainText(patterns[i]));
    }
    initialized = true;
    return 0;
}

int EdString::init(const std::string& pattern, const std::string& replacement)
{
    return init(std::vector<std::string> { pattern }, std::vector<std::string> { replacement });
}

int EdString::changeString(std::string& text)
{
    // Far beyond any text, and still far from overflowing when replacements
    // shrink the text and give bytes back.
    long long unlimited = std::numeric_limits<long long>::max() / 2;
    return changeString(text, unlimited);
}

int EdString::changeString(std::string& text, long long& budget)
{
    if (!initialized)
        return -1;
    for (size_t i = 0; i < expressions.size(); ++i)
        replaceAll(i, text, budget);
    return 0;
}

// Builds the result in one pass, each search going on from the end of the
// last match: the time stays linear in the size of the text. REG_STARTEND
// keeps the C library from measuring the rest of the text on every search.
void EdString::replaceAll(size_t index, std::string& text, long long& budget)
{
    const regex_t* expression = expressions[index].get();
    const Pieces& replacement = replacements[index];
    const size_t replacementSize = m_replacementSizes[index];
    std::string edited;
    size_t copied = 0;
    bool changed = false;
    size_t lastEnd = std::string::npos;
    for (size_t at = 0; at <= text.size();) {
        if (!mayMatchFrom(index, text, at))
            break;
        regmatch_t match {};
        match.rm_so = static_cast<regoff_t>(at);
        match.rm_eo = static_cast<regoff_t>(text.size());
        if (regexec(expression, text.c_str(), 1, &match, REG_STARTEND) != 0)
            break;
        const auto start = static_cast<size_t>(match.rm_so);
        const auto end = static_cast<size_t>(match.rm_eo);
        // An empty match right after the last match belongs to it ("x*" on
        // "axxb" gives "-a-b-").
        if (start == end && start == lastEnd) {
            at = end + 1;
            continue;
        }
        lastEnd = end;
        const long long growth = static_cast<long long>(replacementSize) - static_cast<long long>(end - start);
        if (growth > budget) {
            m_limitHit = true;
            break;
        }
        budget -= growth;
        edited.append(text, copied, start - copied);
        for (std::string_view piece : replacement)
            edited += piece;
        copied = end;
        changed = true;
        // An empty match moves on by one character, which stays as it is.
        at = end > start ? end : end + 1;
    }
    if (!changed)
        return;
    edited.append(text, copied, std::string::npos);
    text.swap(edited);
}

// Most searches find nothing (a template line holds few of the tags, and
// every pass ends with a search past the last match); for a plain-text
// pattern a byte search says so far more cheaply than regexec. Only the
// absence is taken from it: where the bytes occur, regexec still decides,
// so the locale's character set rules the matches as before.
bool EdString::mayMatchFrom(size_t index, const std::string& text, size_t at) const
{
    return !m_plainText[index] || text.find(patterns[index], at) != std::string::npos;
}

bool EdString::isPlainText(const std::string& pattern)
{
    static constexpr std::string_view special = ".[]()*+?{}|^$\\";
    if (pattern.empty())
        return false;
    for (char c : pattern) {
        if (c < ' ' || c > '~' || special.find(c) != std::string_view::npos)
            return false;
    }
    return true;
}

int EdString::patmatch(const std::string& text, int index) const
{
    if (!initialized || index < 0 || static_cast<size_t>(index) >= expressions.size())
        return -1;
    return regexec(expressions[static_cast<size_t>(index)].get(), text.c_str(), 0, nullptr, 0) == 0 ? 0 : -1;
}

// Matching stops at the first NUL, as regexec's would: "^#" looks at the
// first character, "^[ \t\n]*$" at every character up to the end.
bool EdString::isCommentLine(const std::string& line)
{
    const char* text = line.c_str();
    if (*text == '#')
        return true;
    for (; *text != '\0'; ++text) {
        if (*text != ' ' && *text != '\t' && *text != '\n')
            return false;
    }
    return true;
}
