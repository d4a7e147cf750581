// Writes one name/value list (and the lists nested in it) in XDR, byte for
// byte as the suite's packer does; throws std::invalid_argument for members
// that list could not hold (see pack in EventCodec.h).
#pragma once

#include <vector>

#include "platform/event/EventCodec.h"
#include "platform/event/XdrWriter.h"

namespace orv::event {

class ListWriter {
public:
    explicit ListWriter(XdrWriter& out)
        : m_out(out)
    {
    }

    // Version and flags words, the pairs and the end marker.
    void writeList(const std::vector<Member>& members, ListFlags flags, unsigned depth);

    // Numeric arrays without elements written so far: each is counted in
    // the sizes with a length word it is written without, and the caller
    // adds a zero word for it after the outermost list.
    uint64_t emptyArrays() const { return m_emptyArrays; }

private:
    void writePair(const Member& member, unsigned depth);
    void writeValue(const Member& member, unsigned depth);
    void writeNumber(const Member& member, Type type, uint64_t bits);
    void writeNumbers(const Member& member, const Numbers& numbers);
    void writeText(const Member& member, const std::string& text);
    void writeLists(const Member& member, const std::vector<Nested>& lists, unsigned depth);

    XdrWriter& m_out;
    uint64_t m_emptyArrays = 0;
};

}
