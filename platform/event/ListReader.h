// Reads one name/value list (and the lists nested in it) from XDR, checking
// every size, count, padding and value word against what a packer writes
// for it; throws std::runtime_error at the first thing that disagrees.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "EventCodec.h"
#include "XdrReader.h"

namespace orv::event {

// Lists may nest this many levels below the outermost one; the bound keeps
// a hostile input from exhausting the stack.
inline constexpr unsigned maxNesting = 20;

class ListReader {
public:
    explicit ListReader(XdrReader& in) : m_in(in) {}

    // Version and flags words, the pairs and the end marker.
    std::vector<Member> readList(unsigned depth);

private:
    std::optional<Member> readPair(unsigned depth);
    Value readValue(uint32_t typeNumber, uint32_t count, unsigned depth);
    std::string readText();
    std::vector<std::string> readTexts(uint32_t count);
    Number readNumber(Type type);
    Numbers readNumbers(Type type, uint32_t count);
    Numbers readOpaque(uint32_t count);
    uint64_t readElement(Type type);
    NestedArray readLists(uint32_t count, unsigned depth);
    void requireRoom(uint32_t count, size_t bytesEach);
    static void requireUniqueNames(const std::vector<Member>& members);

    XdrReader& m_in;
};

}
