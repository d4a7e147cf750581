#include "EventCodec.h"

#include <bit>
#include <stdexcept>

#include "ListReader.h"
#include "ListWriter.h"
#include "XdrReader.h"
#include "XdrWriter.h"

namespace orv::event {

namespace {

constexpr char encodingXdr = 1;
constexpr size_t headerSize = 4;

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

}

bool operator==(const Nested& a, const Nested& b)
{
    return a.members == b.members;
}

bool operator==(const NestedArray& a, const NestedArray& b)
{
    return a.lists == b.lists;
}

ByteOrder hostByteOrder()
{
    return std::endian::native == std::endian::little ? ByteOrder::Little : ByteOrder::Big;
}

std::vector<char> pack(const std::vector<Member>& members, ByteOrder order)
{
    XdrWriter out;
    // The second byte names the packing host's byte order; the XDR words
    // that follow are big-endian whatever it says.
    const char header[headerSize] = { encodingXdr, order == ByteOrder::Little ? '\1' : '\0', '\0', '\0' };
    out.putRaw(std::string_view(header, sizeof header));
    ListWriter(out).writeList(members, 0);
    return out.take();
}

std::vector<Member> unpack(const char* bytes, size_t length)
{
    if (!bytes && length)
        fail("no bytes");
    XdrReader in(bytes, length);
    readHeader(in);
    std::vector<Member> members = ListReader(in).readList(0);
    // The bytes are forwarded to the proxy and mailed as they are, so
    // anything after the list is refused rather than carried along.
    if (in.remaining() != 0)
        fail(std::to_string(in.remaining()) + " bytes after the end of the list");
    return members;
}

ByteOrder packedByteOrder(const char* bytes, size_t length)
{
    return length > 1 && bytes[1] == 1 ? ByteOrder::Little : ByteOrder::Big;
}

}
