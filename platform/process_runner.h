#pragma once

#include <optional>
#include <string>

namespace tessaro::platform {

// Starts a command line and blocks until the process has ended, dispatching the thread's
// window messages every 100 ms meanwhile. True means only that the process was started.
// `exitCode` receives the process's exit code when it can be read, for the trace only.
bool RunAndWait(const std::string& commandLine, std::optional<unsigned>& exitCode);

}  // namespace tessaro::platform
