#pragma once

#include <cstddef>
#include <string>

namespace tessaro::platform {

// One entry of an RT_STRING block: 16 entries, each a little-endian 16-bit count followed by
// that many UTF-16 units. Empty when the entry is missing or would run past the block's end.
std::u16string StringBlockEntry(const unsigned char* block, std::size_t size, unsigned index);

}  // namespace tessaro::platform
