// Compile-time check of a log statement's printf format against the types
// of its arguments: a trace line's format or a catalogued message's text that
// does not fit what the statement passes does not build.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <type_traits>

#include "platform/log/MessageCatalog.h"

namespace orv::log::format {

// What a printf conversion reads from the argument list, after the default
// promotions (so char, short and bool arrive as int).
enum class Kind { Int, Unsigned, Long, UnsignedLong, LongLong, UnsignedLongLong, Double, Text, Pointer, Unknown };

template <typename T> constexpr Kind kindOf()
{
    using U = std::decay_t<std::remove_cvref_t<T>>;
    if constexpr (std::is_enum_v<U>)
        return kindOf<std::underlying_type_t<U>>();
    else if constexpr (std::is_same_v<U, std::string> || std::is_same_v<U, const char*> || std::is_same_v<U, char*>)
        return Kind::Text;
    else if constexpr (std::is_integral_v<U> && sizeof(U) < sizeof(int))
        return Kind::Int;
    else if constexpr (std::is_same_v<U, int>)
        return Kind::Int;
    else if constexpr (std::is_same_v<U, unsigned>)
        return Kind::Unsigned;
    else if constexpr (std::is_same_v<U, long>)
        return Kind::Long;
    else if constexpr (std::is_same_v<U, unsigned long>)
        return Kind::UnsignedLong;
    else if constexpr (std::is_same_v<U, long long>)
        return Kind::LongLong;
    else if constexpr (std::is_same_v<U, unsigned long long>)
        return Kind::UnsignedLongLong;
    else if constexpr (std::is_floating_point_v<U>)
        return Kind::Double;
    else if constexpr (std::is_pointer_v<U>)
        return Kind::Pointer;
    else
        return Kind::Unknown;
}

constexpr bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// The kind a conversion with this length modifier and conversion letter
// reads; Unknown for anything the code base has no business writing.
constexpr Kind conversionKind(std::string_view length, char letter)
{
    const bool isSigned = letter == 'd' || letter == 'i';
    const bool isUnsigned = letter == 'u' || letter == 'x' || letter == 'X' || letter == 'o';
    if (isSigned || isUnsigned) {
        if (length.empty() || length == "h" || length == "hh")
            return isSigned ? Kind::Int : Kind::Unsigned;
        if (length == "l" || length == "z" || length == "t" || length == "j")
            return isSigned ? Kind::Long : Kind::UnsignedLong;
        if (length == "ll")
            return isSigned ? Kind::LongLong : Kind::UnsignedLongLong;
        return Kind::Unknown;
    }
    if (!length.empty())
        return Kind::Unknown;
    switch (letter) {
    case 'c':
        return Kind::Int;
    case 's':
        return Kind::Text;
    case 'p':
        return Kind::Pointer;
    case 'f':
    case 'e':
    case 'g':
        return Kind::Double;
    default:
        return Kind::Unknown;
    }
}

// True when `format` reads exactly the arguments `kinds` holds, in order.
template <size_t Count> constexpr bool fits(std::string_view format, const Kind (&kinds)[Count], size_t given)
{
    size_t next = 0;
    size_t at = 0;
    auto take = [&](Kind wanted) { return next < given && kinds[next++] == wanted; };
    // A width or a precision: "*" reads an int argument, digits read none.
    auto skipCount = [&] {
        if (at < format.size() && format[at] == '*') {
            ++at;
            return take(Kind::Int);
        }
        while (at < format.size() && isDigit(format[at]))
            ++at;
        return true;
    };
    for (; at < format.size(); ++at) {
        if (format[at] != '%')
            continue;
        if (++at < format.size() && format[at] == '%')
            continue;
        while (at < format.size() && std::string_view("-+ #0").find(format[at]) != std::string_view::npos)
            ++at;
        if (!skipCount())
            return false;
        if (at < format.size() && format[at] == '.') {
            ++at;
            if (!skipCount())
                return false;
        }
        const size_t lengthStart = at;
        while (at < format.size() && std::string_view("hlzjt").find(format[at]) != std::string_view::npos)
            ++at;
        if (at >= format.size())
            return false;
        const Kind wanted = conversionKind(format.substr(lengthStart, at - lengthStart), format[at]);
        if (wanted == Kind::Unknown || !take(wanted))
            return false;
    }
    return next == given;
}

template <typename... Args> constexpr bool formatFits(std::string_view format)
{
    const Kind kinds[] = { kindOf<Args>()..., Kind::Unknown };
    return fits(format, kinds, sizeof...(Args));
}

// Not constexpr on purpose: reaching it in a constant evaluation stops the
// build, and the compiler names it in the error.
void logFormatDoesNotFitItsArguments();
void logMessageIdentifierNotInTheCatalogue();

}

// A trace line's printf format, checked against the statement's arguments.
template <typename... Args> class LogFormat {
public:
    template <size_t N>
    consteval LogFormat(const char (&text)[N])
        : m_text(text)
    {
        if (!orv::log::format::formatFits<Args...>(std::string_view(text, N - 1)))
            orv::log::format::logFormatDoesNotFitItsArguments();
    }
    constexpr const char* text() const { return m_text; }

private:
    const char* m_text;
};

// A catalogued message's identifier, its text checked against the
// statement's arguments.
template <typename... Args> class LogMessageId {
public:
    consteval LogMessageId(int id)
        : m_id(id)
    {
        const int index = orv::log::catalogIndex(id);
        if (index < 0)
            orv::log::format::logMessageIdentifierNotInTheCatalogue();
        else if (!orv::log::format::formatFits<Args...>(orv::log::detail::messageCatalog[index].text))
            orv::log::format::logFormatDoesNotFitItsArguments();
    }
    constexpr int id() const { return m_id; }

private:
    int m_id;
};

// An event message number from the event database, known only at run time;
// its arguments are always twenty texts.
struct EventMessageNumber {
    int number;
};
