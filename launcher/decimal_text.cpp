#include "launcher/decimal_text.h"

namespace tessaro {

std::string DecimalText(unsigned value) {
  char digits[10];
  std::size_t count = 0;
  do {
    digits[count++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  std::string text;
  while (count != 0) text += digits[--count];
  return text;
}

std::string SignedDecimalText(std::uint32_t bits) {
  return bits < 0x80000000u ? DecimalText(bits) : "-" + DecimalText(0u - bits);
}

}  // namespace tessaro
