#include "platform/string_block.h"

namespace tessaro::platform {
namespace {

unsigned ReadUnit(const unsigned char* at) {
  return static_cast<unsigned>(at[0]) | (static_cast<unsigned>(at[1]) << 8);
}

}  // namespace

std::u16string StringBlockEntry(const unsigned char* block, std::size_t size, unsigned index) {
  std::size_t position = 0;
  for (unsigned entry = 0;; ++entry) {
    if (position + 2 > size) return {};
    const std::size_t count = ReadUnit(block + position);
    position += 2;
    if (position + 2 * count > size) return {};
    if (entry == index) {
      std::u16string text(count, u'\0');
      for (std::size_t i = 0; i < count; ++i) {
        text[i] = static_cast<char16_t>(ReadUnit(block + position + 2 * i));
      }
      return text;
    }
    position += 2 * count;
  }
}

}  // namespace tessaro::platform
