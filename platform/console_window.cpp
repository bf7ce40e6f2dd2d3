#include "platform/console_window.h"

#include <string>

#include "platform/console_title.h"

namespace tessaro::platform {

HWND FindConsoleWindow() {
  char savedTitle[1024] = {};
  const DWORD savedLength = GetConsoleTitleA(savedTitle, sizeof savedTitle);

  const std::string temporaryTitle = FormatTemporaryTitle(GetTickCount(), GetCurrentProcessId());
  SetConsoleTitleA(temporaryTitle.c_str());
  // The console window takes a new title asynchronously.
  Sleep(40);
  HWND window = FindWindowA(nullptr, temporaryTitle.c_str());

  // Nothing was read when the call gave 0: restoring anything would invent a title.
  if (savedLength != 0) SetConsoleTitleA(savedTitle);
  return window;
}

}  // namespace tessaro::platform
