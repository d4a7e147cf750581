#include "platform/event/EventCodec.h"

#include <bit>
#include <cstring>
#include <stdexcept>

#include "platform/event/ListReader.h"
#include "platform/event/ListWriter.h"
#include "platform/event/PairTypes.h"
#include "platform/event/XdrReader.h"
#include "platform/event/XdrWriter.h"

namespace orv::event {

namespace {

constexpr char encodingXdr = 1;
constexpr size_t headerSize = 4;
constexpr size_t flagsOffset = headerSize + 4;

[[noreturn]] void fail(const std::string& what)
{
    throw std::runtime_error("malformed packed event: " + what);
}

void readHeader(XdrReader& in)
{
    const std::string header = in.getRaw(headerSize);
    if (header[0] != encodingXdr)
        fail("not XDR encoded");
    if ((header[1] != 0 && header[1] != 1) || header[2] != 0 || header[3] != 0)
        fail("unknown header bytes");
}

std::vector<Member> unpackOf(const char* bytes, size_t length, bool shareTexts)
{
    if (!bytes && length)
        fail("no bytes");
    XdrReader in(bytes, length);
    readHeader(in);
    ListReader reader(in, shareTexts);
    std::vector<Member> members = reader.readList(0).members;
    // The bytes are forwarded to the proxy and mailed as they are, so
    // anything after the list but the zero words its empty arrays leave
    // there is refused rather than carried along.
    const uint64_t left = unwrittenLengthWord * reader.emptyArrays();
    if (in.remaining() != left)
        fail(std::to_string(in.remaining()) + " bytes after the end of the list where its empty arrays leave "
            + std::to_string(left));
    if (in.getRaw(left).find_first_not_of('\0') != std::string::npos)
        fail("nonzero bytes after the end of the list");
    return members;
}

}

bool operator==(const Nested& a, const Nested& b)
{
    return a.members == b.members && a.flags == b.flags;
}

bool operator==(const NestedArray& a, const NestedArray& b)
{
    return a.lists == b.lists;
}

ByteOrder hostByteOrder()
{
    return std::endian::native == std::endian::little ? ByteOrder::Little : ByteOrder::Big;
}

std::vector<char> pack(const std::vector<Member>& members, ByteOrder order, ListFlags flags)
{
    XdrWriter out;
    // The second byte names the packing host's byte order; the XDR words
    // that follow are big-endian whatever it says.
    const char header[headerSize] = { encodingXdr, order == ByteOrder::Little ? '\1' : '\0', '\0', '\0' };
    out.putRaw(std::string_view(header, sizeof header));
    ListWriter writer(out);
    writer.writeList(members, flags, 0);
    out.putRaw(std::string(unwrittenLengthWord * writer.emptyArrays(), '\0'));
    return out.take();
}

std::vector<Member> unpack(const char* bytes, size_t length)
{
    return unpackOf(bytes, length, false);
}

std::vector<Member> unpackSharing(const char* bytes, size_t length)
{
    return unpackOf(bytes, length, true);
}

std::string sharedTextReference(size_t offset, size_t length)
{
    const uint64_t words[2] = { offset, length };
    std::string reference(1 + sizeof words, '\0');
    std::memcpy(reference.data() + 1, words, sizeof words);
    return reference;
}

std::string_view sharedText(const std::string& text, const char* bytes)
{
    uint64_t words[2] = {};
    if (text.size() != 1 + sizeof words || text[0] != '\0')
        return text;
    std::memcpy(words, text.data() + 1, sizeof words);
    return std::string_view(bytes + words[0], words[1]);
}

ByteOrder packedByteOrder(const char* bytes, size_t length)
{
    return length > 1 && bytes[1] == 1 ? ByteOrder::Little : ByteOrder::Big;
}

ListFlags packedListFlags(const char* bytes, size_t length)
{
    if (length < flagsOffset + 4)
        return ListFlags::UniqueName;
    return static_cast<ListFlags>(XdrReader(bytes + flagsOffset, 4).getU32());
}

}
