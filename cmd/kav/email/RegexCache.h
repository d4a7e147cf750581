// Compiled regular expressions shared by every report. The patterns of the
// email control file and the tags are the same from one report to the next,
// and costing and compiling them was most of the daemon's own work for a
// small mail; here each pattern text is costed and compiled once and the
// result, refusals included, reused while it stays in the cache.
#pragma once

#include <regex.h>

#include <memory>
#include <string>
#include <unordered_map>

#include "platform/base/Mutex.h"

namespace orv::email {

class RegexCache {
public:
    using Expression = std::shared_ptr<const regex_t>;

    // Beyond this many patterns the cache starts over: a control file holds
    // a few dozen, and the cache must not grow with every edit of it.
    static constexpr size_t CAPACITY = 256;

    // The expression compiled from `pattern` (POSIX extended), or null when
    // the pattern does not compile or would compile too large (RegexCost).
    // Matching may use the expression from any number of threads at once;
    // it stays valid as long as it is held, even once dropped from the cache.
    static Expression compile(const std::string& pattern);

    // The number of patterns held, refusals included.
    static size_t size();

private:
    struct State {
        orv::base::Mutex mutex;
        std::unordered_map<std::string, Expression> expressions GUARDED_BY(mutex);
    };

    static State& state();
    static Expression compileNew(const std::string& pattern);
};

}
