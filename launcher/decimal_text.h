// Numbers as text: the trace's numbers and the console's temporary title share this one
// conversion, so that both spell a number alike.
#pragma once

#include <cstdint>
#include <string>

namespace tessaro {

std::string DecimalText(unsigned value);

// The bits read as a signed 32-bit number, as "%d" reads them.
std::string SignedDecimalText(std::uint32_t bits);

}  // namespace tessaro
