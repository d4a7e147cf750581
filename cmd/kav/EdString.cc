#include "EdString.h"

#include "RegexCost.h"

void EdString::RegexFree::operator()(regex_t* expression) const
{
    regfree(expression);
    delete expression;
}

EdString::EdString()
    : initialized(false)
{
}

int EdString::init(const std::vector<std::string>& newPatterns, const std::vector<std::string>& newReplacements)
{
    if (newPatterns.size() != newReplacements.size())
        return -1;
    patterns.insert(patterns.end(), newPatterns.begin(), newPatterns.end());
    replacements.insert(replacements.end(), newReplacements.begin(), newReplacements.end());
    for (size_t i = expressions.size(); i < patterns.size(); ++i) {
        if (!RegexCost::acceptable(patterns[i]))
            return -1;
        auto compiled = std::make_unique<regex_t>();
        if (regcomp(compiled.get(), patterns[i].c_str(), REG_EXTENDED) != 0)
            return -1;
        // Only a successfully compiled expression may be handed to regfree.
        expressions.emplace_back(compiled.release());
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
    if (!initialized)
        return -1;
    for (size_t i = 0; i < expressions.size(); ++i) {
        if (replaceAll(i, text) != 0)
            return -1;
    }
    return 0;
}

// Each search starts again at the beginning of the edited text. A pattern
// that matches its own replacement, or the empty string, would never stop,
// so more than 2n+1 replacements (n: the length before this pattern) end it.
int EdString::replaceAll(size_t index, std::string& text)
{
    const size_t limit = 2 * text.size() + 1;
    size_t made = 0;
    regmatch_t match {};
    while (regexec(expressions[index].get(), text.c_str(), 1, &match, 0) == 0) {
        const auto start = static_cast<size_t>(match.rm_so);
        text.replace(start, static_cast<size_t>(match.rm_eo) - start, replacements[index]);
        if (++made > limit)
            return -1;
    }
    return 0;
}

int EdString::patmatch(const std::string& text, int index) const
{
    if (!initialized || index < 0 || static_cast<size_t>(index) >= expressions.size())
        return -1;
    return regexec(expressions[static_cast<size_t>(index)].get(), text.c_str(), 0, nullptr, 0) == 0 ? 0 : -1;
}
