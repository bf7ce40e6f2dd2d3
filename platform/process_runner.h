#pragma once

#include <string>

#include "launcher/system_interface.h"

namespace tessaro::platform {

// Starts a command line and blocks until the process has ended, dispatching the thread's
// window messages every 100 ms meanwhile. True means only that the process was started.
// `end` says how the wait ended and, once the process has ended, its exit code.
bool RunAndWait(const std::string& commandLine, ProcessEnd& end);

}  // namespace tessaro::platform
