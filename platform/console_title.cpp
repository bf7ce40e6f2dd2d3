#include "platform/console_title.h"

#include "launcher/trace.h"

namespace tessaro::platform {
namespace {

// The bits read as a signed 32-bit number, as "%d" reads them.
std::string SignedDecimalText(std::uint32_t bits) {
  return bits < 0x80000000u ? DecimalText(bits) : "-" + DecimalText(0u - bits);
}

}  // namespace

std::string FormatTemporaryTitle(std::uint32_t tickCount, std::uint32_t processId) {
  return SignedDecimalText(tickCount) + "/" + SignedDecimalText(processId);
}

}  // namespace tessaro::platform
