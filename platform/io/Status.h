// The outcome of an operation on the system: success, or the errno value of
// what failed together with what was being done, so that the reason survives
// the way up to whoever logs it (later calls cannot overwrite it, as they
// can errno).
#pragma once

#include <string>

namespace orv::io {

class [[nodiscard]] Status {
public:
    // Success.
    Status() = default;

    // A system call failed with `code` (an errno value) while doing
    // `context` ("read", "open /etc/x").
    static Status posixError(std::string context, int code);
    // A check refused what it was given: `why` takes the place of the
    // system's text, `code` is the errno value callers see.
    static Status refused(std::string context, std::string why, int code);

    bool ok() const { return m_code == 0; }
    explicit operator bool() const { return ok(); }
    int code() const { return m_code; }
    const std::string& context() const { return m_context; }
    // Why it failed: the refusal, or the system's text for the code.
    std::string reason() const;
    // "<context>: <reason>", or "OK".
    std::string toString() const;

private:
    Status(std::string context, std::string why, int code);

    int m_code = 0;
    std::string m_context;
    std::string m_why;
};

}
