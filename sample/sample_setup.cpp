// The sample product's installer on the bundled medium: it shows how it was started, so that
// a run of the sample medium ends visibly in "the installer".
#include <windows.h>

#include <string>

int main() {
  const std::string text =
      std::string("Tessaro sample installer.\n\nStarted as:\n") + GetCommandLineA();
  MessageBoxA(nullptr, text.c_str(), "Tessaro Setup", MB_OK | MB_ICONINFORMATION);
  return 0;
}
