// A message argument as the event database writes it: "{name}" stands for
// the event member of that name, "{{" and "}}" for literal braces, and every
// other character, an unclosed "{" included, is kept as written.
#pragma once

#include <string>
#include <string_view>

class DXAEvent;

namespace orv::event {

class ZEQArgTemplate {
public:
    // 0 and the filled text in `value`; ENOENT when the event lacks a member
    // a placeholder names, EINVAL when a placeholder names no event member.
    // `value` is left alone on failure.
    static int fill(std::string_view text, DXAEvent& event, std::string& value);

private:
    // Lists are joined with single blanks, the timestamp is decimal seconds.
    static int memberText(const std::string& name, DXAEvent& event, std::string& text);
};

}
