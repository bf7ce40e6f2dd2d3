#pragma once

#include <string>

#include "launcher/system_interface.h"

namespace tessaro::platform {

// Starts a command line and blocks until the process has ended, dispatching the thread's
// window messages every 100 ms meanwhile.
// Empty optional when it could not be started; else how the wait ended and, once the process
// has ended, its exit code.
std::optional<ProcessEnd> RunAndWait(const std::string& commandLine);

}  // namespace tessaro::platform
