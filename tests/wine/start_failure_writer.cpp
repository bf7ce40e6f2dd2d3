// Writes the start failure text through the real platform layer, so that a test can read the
// bytes that reach standard output.
#include "launcher/launch_sequence.h"
#include "platform/windows_system.h"

int main() {
  tessaro::platform::WindowsSystem system;
  system.WriteStandardOutput(tessaro::kStartFailureText);
  return 1;
}
