#include "platform/console_title.h"

namespace tessaro::platform {

std::string FormatTemporaryTitle(std::uint32_t tickCount, std::uint32_t processId) {
  return std::to_string(static_cast<std::int32_t>(tickCount)) + "/" +
         std::to_string(static_cast<std::int32_t>(processId));
}

}  // namespace tessaro::platform
