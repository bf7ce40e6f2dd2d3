// What the user and the system answer the launcher, traced as it happens: a box and the button
// chosen, a program started and how it ended. Support reads a run's outcome from these lines.
#pragma once

#include <string>

#include "launcher/system_interface.h"

namespace tessaro {

// Shows a message of the string table by its id and traces the answer.
int ShowMessageBox(SystemInterface& system, unsigned messageId, unsigned style);
// The same for a message already loaded and filled in; the id names it in the trace.
int ShowMessageBox(SystemInterface& system, unsigned messageId, const std::string& text,
                   unsigned style);

// Runs a command line through RunAndWait and traces its start and end. True when it was
// started; the exit code only goes into the trace.
bool RunAndWaitTraced(SystemInterface& system, const std::string& commandLine);

}  // namespace tessaro
