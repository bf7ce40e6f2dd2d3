#include "platform/console_title.h"

#include "launcher/decimal_text.h"

namespace tessaro::platform {

std::string FormatTemporaryTitle(std::uint32_t tickCount, std::uint32_t processId) {
  return SignedDecimalText(tickCount) + "/" + SignedDecimalText(processId);
}

}  // namespace tessaro::platform
