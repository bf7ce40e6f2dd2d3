// The entry point: the one place where the launcher logic meets the real Windows.
#include "launcher/launch_sequence.h"
#include "platform/windows_system.h"

int main() {
  tessaro::platform::WindowsSystem system;
  return tessaro::RunLauncher(system);
}
