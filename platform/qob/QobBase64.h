// Base64 (RFC 4648 alphabet, padded, no line breaks) for the binary payload
// of a message, which travels inside JSON text.
#pragma once

#include <cstddef>
#include <string>

namespace qob {

std::string base64Encode(const unsigned char* data, size_t length);

}
