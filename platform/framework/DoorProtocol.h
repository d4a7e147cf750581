// The bytes of a door call. One connection carries one call: the caller
// sends a request header and the parameter, the server answers with a reply
// header and the reply data, then closes. Every integer is 32 bits,
// big-endian (network order). docs/door-protocol.md describes the format.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace orv::framework {

class DoorProtocol {
public:
    static constexpr uint32_t REQUEST_MAGIC = 0x4b445251; // "KDRQ"
    static constexpr uint32_t REPLY_MAGIC = 0x4b445250; // "KDRP"
    // Largest parameter or reply data; anything larger is refused unread.
    static constexpr size_t MAX_PAYLOAD = 16u << 20;

    struct Request {
        uint32_t method = 0;
        uint32_t length = 0; // parameter bytes that follow the header
    };

    // `outcome` is 0 when the service ran and `status` is what it returned;
    // otherwise an errno value telling why the call did not reach it.
    struct Reply {
        int32_t outcome = 0;
        int32_t status = 0;
        uint32_t length = 0; // reply bytes that follow the header
    };

    using RequestBytes = std::array<unsigned char, 12>;
    using ReplyBytes = std::array<unsigned char, 16>;

    static RequestBytes encode(const Request& request);
    static ReplyBytes encode(const Reply& reply);

    // False when the bytes do not start with the request magic. The length
    // is not checked here: the server refuses an oversized one with its
    // own outcome.
    static bool decode(const RequestBytes& bytes, Request& request);
    // False for a wrong magic or a length beyond MAX_PAYLOAD.
    static bool decode(const ReplyBytes& bytes, Reply& reply);
};

}
