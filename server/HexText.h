#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// `bytes` as lower-case hexadecimal digits.
std::string toHex(std::string_view bytes);

// `bytes` bytes from the system's secure random source, as hexadecimal digits.
std::string randomHex(std::size_t bytes);
