// The byte type of the engine's buffers and of codec windows.
#pragma once

#include <cstdint>

namespace vorn {

// A type of its own, not uint8_t: a store through uint8_t may change any
// object, so after each byte written the compiler would have to reload
// OutPos, OutLimit and the codec's own state from memory. A TOctet store
// changes only TOctets. (Reading TOctets through uint8_t stays allowed.)
enum class TOctet : uint8_t {};

}  // namespace vorn
