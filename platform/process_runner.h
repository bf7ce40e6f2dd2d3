#pragma once

#include <string>

namespace tessaro::platform {

// Starts a command line and blocks until the process has ended, dispatching the thread's
// window messages every 100 ms meanwhile. True means only that the process was started.
bool RunAndWait(const std::string& commandLine);

}  // namespace tessaro::platform
