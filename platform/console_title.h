#pragma once

#include <cstdint>
#include <string>

namespace tessaro::platform {

// The console's temporary title, "%d/%d" of the tick count and the process id read as signed
// 32-bit numbers: a tick count past 2147483647 shows as negative, as wsprintfA shows it.
std::string FormatTemporaryTitle(std::uint32_t tickCount, std::uint32_t processId);

}  // namespace tessaro::platform
