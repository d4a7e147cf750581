#include "platform/io/Status.h"

#include <cerrno>
#include <cstring>
#include <utility>

namespace orv::io {

Status::Status(std::string context, std::string why, int code)
    : m_code(code != 0 ? code : EIO)
    , m_context(std::move(context))
    , m_why(std::move(why))
{
}

Status Status::posixError(std::string context, int code)
{
    return Status(std::move(context), std::string(), code);
}

Status Status::refused(std::string context, std::string why, int code)
{
    return Status(std::move(context), std::move(why), code);
}

std::string Status::reason() const
{
    if (ok())
        return "OK";
    return m_why.empty() ? std::strerror(m_code) : m_why;
}

std::string Status::toString() const
{
    return ok() ? "OK" : m_context + ": " + reason();
}

}
