#pragma once

#include <string>
#include <string_view>

#include "launcher/system_interface.h"

namespace tessaro {

enum ExitCode : int {
  kExitCompleted = 0,
  kExitFrameworkFailed = 1,
  kExitCheckStopped = 4,
  kExitNoDirectory = 5,
};

// The start failure text: code page 932 bytes, written unconverted.
inline constexpr std::string_view kStartFailureText =
    "\x92\x76\x96\xbd\x93\x49\x82\xc8\x83\x47\x83\x89\x81\x5b\x20\x3a\x20\x4d\x46\x43\x20\x82\xcc"
    "\x8f\x89\x8a\xfa\x89\xbb\x82\xaa\x82\xc5\x82\xab\x82\xdc\x82\xb9\x82\xf1\x82\xc5\x82\xb5\x82"
    "\xbd\x81\x42\n";

// "<dir>Setup.exe" "/v LAUNCH=Enable" -- the path quoted so that a directory with spaces
// cannot make the system start a program at a shorter prefix of it.
std::string BuildInstallerCommandLine(std::string_view launcherDirectory);

// The whole run, from the framework start to the exit code.
int RunLauncher(SystemInterface& system);

}  // namespace tessaro
