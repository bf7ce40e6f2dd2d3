#include "launcher/launch_sequence.h"
#include "platform/windows_system.h"

int main() {
  tessaro::platform::WindowsSystem system;
  return tessaro::RunLauncher(system);
}
