// The one way this code base writes a log statement:
//
//     logStatement(4, LogDest::trace(), "EVENT-CLASS: %s; get %s failed ...", cls, item);
//     logStatement(4, LogDest::platform(), KAV_FAILED_REPORTING_ATTEMPT, cls, "message");
//     logStatement(2, LogDest::current(), "KAV init: Initialization complete.");
//
// It selects the destination (if one is named), tests the level, stages the
// time, source position and level under msgPartsMutex and calls logMsg,
// which releases the lock: that hand-over is the suite's logging interface,
// so the lock is not scoped here. It covers the staging record only; logMsg
// formats and writes the line after letting it go. std::string arguments
// are passed as C strings, and no text argument adds more than
// MAX_VALUE_BYTES to the line (LogLine.h).
// A trace line's format, or the catalogue text of a message identifier, is
// checked against the arguments' types when the statement is compiled
// (LogFormat.h); an event message, whose number comes from the event
// database, is written with EventMessageNumber and twenty texts.
#pragma once

#include <cstring>
#include <source_location>
#include <string>
#include <tuple>
#include <type_traits>

#include "platform/log/Log.h"
#include "platform/log/LogFormat.h"
#include "platform/log/LogLine.h"

class LogDest {
public:
    static constexpr LogDest current() { return LogDest(Kind::Current, 0); }
    static constexpr LogDest trace() { return LogDest(Kind::Trace, 0); }
    static constexpr LogDest platform() { return LogDest(Kind::Platform, 0); }
    static constexpr LogDest domain(int index) { return LogDest(Kind::Domain, index); }

    void select() const
    {
        switch (m_kind) {
        case Kind::Current:
            break;
        case Kind::Trace:
            setTraceType();
            break;
        case Kind::Platform:
            setPlatformType();
            break;
        case Kind::Domain:
            setDomainID(m_domain);
            break;
        }
    }

private:
    enum class Kind { Current, Trace, Platform, Domain };
    constexpr LogDest(Kind kind, int domain)
        : m_kind(kind)
        , m_domain(domain)
    {
    }
    Kind m_kind;
    int m_domain;
};

#if defined(__cpp_lib_source_location)
using SourcePosition = std::source_location;
#else
// Clang before 15 cannot build the standard library's source_location (the
// fuzzing build uses it); the compiler's own built-ins give the same facts.
struct SourcePosition {
    static constexpr SourcePosition current(const char* file = __builtin_FILE(), unsigned line = __builtin_LINE())
    {
        return SourcePosition { file, line };
    }
    constexpr const char* file_name() const { return m_file; }
    constexpr unsigned line() const { return m_line; }

private:
    constexpr SourcePosition(const char* file, unsigned line)
        : m_file(file)
        , m_line(line)
    {
    }

    const char* m_file;
    unsigned m_line;
};
#endif

// A level together with the position of the statement that names it; built
// implicitly from the level at the call site.
struct LogSite {
    LogSite(int level, SourcePosition where = SourcePosition::current())
        : level(level)
        , where(where)
    {
    }
    int level;
    SourcePosition where;
};

namespace orv::log::detail {

template <typename T> auto vararg(const T& value)
{
    if constexpr (std::is_enum_v<T>)
        return static_cast<std::underlying_type_t<T>>(value);
    else
        return value;
}

// A text argument as a line takes it: itself, or when it is longer than
// MAX_VALUE_BYTES its start and a marker (LogLine.h). Only a long text is
// copied; an ordinary one costs a bounded strnlen.
class LineText {
public:
    explicit LineText(const std::string& text)
        : m_text(text.c_str())
    {
        if (text.size() > MAX_VALUE_BYTES)
            m_shortened = shortenedValue(text);
    }
    explicit LineText(const char* text)
        : m_text(text)
    {
        if (text && strnlen(text, MAX_VALUE_BYTES + 1) > MAX_VALUE_BYTES)
            m_shortened = shortenedValue(text);
    }
    const char* c_str() const { return m_shortened.empty() ? m_text : m_shortened.c_str(); }

private:
    const char* m_text;
    std::string m_shortened;
};

// A trace line's format, passed on as it is.
struct FormatText {
    const char* text;
};

template <typename T> auto held(const T& value)
{
    using U = std::decay_t<T>;
    if constexpr (std::is_same_v<U, std::string> || std::is_same_v<U, const char*> || std::is_same_v<U, char*>)
        return LineText(value);
    else
        return vararg(value);
}

template <typename T> auto passed(const T& value)
{
    if constexpr (std::is_same_v<T, LineText>)
        return value.c_str();
    else if constexpr (std::is_same_v<T, FormatText>)
        return value.text;
    else
        return value;
}

void stage(const LogSite& site);

template <typename... Args> void emit(const LogSite& site, LogDest dest, int id, const Args&... args)
{
    dest.select();
    if (!logThisLevel(site.level))
        return;
    // Long texts are cut before the lock is taken.
    const std::tuple values { held(args)... };
    pthread_mutex_lock(&msgPartsMutex);
    stage(site);
    std::apply([id](const auto&... value) { logMsg(id, passed(value)...); }, values);
}

}

// A trace line: a printf format and its arguments.
template <typename... Args>
void logStatement(LogSite site, LogDest dest, LogFormat<std::type_identity_t<Args>...> format, const Args&... args)
{
    orv::log::detail::emit(site, dest, 0, orv::log::detail::FormatText { format.text() }, args...);
}

// A catalogued message and the arguments its text takes.
template <typename... Args>
void logStatement(LogSite site, LogDest dest, LogMessageId<std::type_identity_t<Args>...> id, const Args&... args)
{
    orv::log::detail::emit(site, dest, id.id(), args...);
}

// An event message: the number the event database gives and its twenty texts.
template <typename... Args>
void logStatement(LogSite site, LogDest dest, EventMessageNumber number, const Args&... args)
{
    static_assert(sizeof...(Args) == 20, "an event message takes twenty texts");
    orv::log::detail::emit(site, dest, number.number, args...);
}
