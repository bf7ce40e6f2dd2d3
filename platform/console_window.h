#pragma once

#include <windows.h>

namespace tessaro::platform {

// The console's own window, found through a temporary title no other window has; null when
// no top-level window carries it. The console's title is back as it was on return.
HWND FindConsoleWindow();

}  // namespace tessaro::platform
