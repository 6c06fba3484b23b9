#include "HexText.h"

#include <openssl/rand.h>

#include <stdexcept>

std::string toHex(std::string_view bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(bytes.size() * 2);
    for (unsigned char c : bytes) {
        hex += digits[c >> 4];
        hex += digits[c & 15];
    }
    return hex;
}

std::string randomHex(std::size_t bytes)
{
    std::string raw(bytes, '\0');
    if (RAND_bytes(reinterpret_cast<unsigned char *>(raw.data()), int(bytes)) != 1)
        throw std::runtime_error("no random bytes");
    return toHex(raw);
}
