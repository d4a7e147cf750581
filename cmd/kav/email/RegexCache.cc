#include "cmd/kav/email/RegexCache.h"

#include "cmd/kav/email/RegexCost.h"

namespace orv::email {

// Made on first use and never destroyed: the daemon starts from a static
// object, and a report still running while the process exits must not find
// the cache gone.
RegexCache::State& RegexCache::state()
{
    static State* const shared = new State;
    return *shared;
}

RegexCache::Expression RegexCache::compile(const std::string& pattern)
{
    State& cache = state();
    orv::base::MutexLock guard(cache.mutex);
    if (auto found = cache.expressions.find(pattern); found != cache.expressions.end())
        return found->second;
    if (cache.expressions.size() >= CAPACITY)
        cache.expressions.clear();
    // Compiled under the lock: two reports meeting a new pattern at once
    // compile it once, and an expensive pattern is bounded by RegexCost.
    Expression compiled = compileNew(pattern);
    cache.expressions.emplace(pattern, compiled);
    return compiled;
}

size_t RegexCache::size()
{
    State& cache = state();
    orv::base::MutexLock guard(cache.mutex);
    return cache.expressions.size();
}

RegexCache::Expression RegexCache::compileNew(const std::string& pattern)
{
    if (!RegexCost::acceptable(pattern))
        return nullptr;
    auto compiled = std::make_unique<regex_t>();
    if (regcomp(compiled.get(), pattern.c_str(), REG_EXTENDED) != 0)
        return nullptr;
    // Only a successfully compiled expression may be handed to regfree.
    return Expression(compiled.release(), [](const regex_t* expression) {
        regfree(const_cast<regex_t*>(expression));
        delete expression;
    });
}

}
