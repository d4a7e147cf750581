// Reads one name/value list (and the lists nested in it) from XDR, checking
// every size, count, padding and value word against what a packer writes
// for it; throws std::runtime_error at the first thing that disagrees.
// Nesting is bounded by maxNesting (EventCodec.h), which keeps a hostile
// input from exhausting the stack.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/event/EventCodec.h"
#include "platform/event/XdrReader.h"

namespace orv::event {

class ListReader {
public:
    // `shareTexts`: long texts of the outermost pairs become references to
    // the reader's bytes (see unpackSharing).
    explicit ListReader(XdrReader& in, bool shareTexts = false)
        : m_in(in)
        , m_shareTexts(shareTexts)
    {
    }

    // Version and flags words, the pairs and the end marker.
    Nested readList(unsigned depth);

    // Numeric arrays without elements read so far: the packer counts a
    // length word for each in the sizes without writing it, and leaves
    // that many zero words after the outermost list.
    uint64_t emptyArrays() const { return m_emptyArrays; }

private:
    std::optional<Member> readPair(unsigned depth);
    Value readValue(uint32_t typeNumber, uint32_t count, unsigned depth);
    std::string readText(bool share = false);
    std::vector<std::string> readTexts(uint32_t count, bool share);
    Number readNumber(Type type);
    Numbers readNumbers(Type type, uint32_t count);
    Numbers readOpaque(uint32_t count);
    uint64_t readElement(Type type);
    NestedArray readLists(uint32_t count, unsigned depth);
    void requireRoom(uint32_t count, size_t bytesEach);
    static void requireUniqueNames(const Nested& list);

    XdrReader& m_in;
    const bool m_shareTexts;
    // Text bytes of the pair being read that stay in the packed bytes.
    uint64_t m_sharedBytes = 0;
    uint64_t m_emptyArrays = 0;
};

}
