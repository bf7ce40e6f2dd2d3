#include "launcher/traced_actions.h"

#include "launcher/trace.h"

namespace tessaro {

int ShowMessageBox(SystemInterface& system, unsigned messageId, unsigned style) {
  return ShowMessageBox(system, messageId, system.LoadMessageText(messageId), style);
}

int ShowMessageBox(SystemInterface& system, unsigned messageId, const std::string& text,
                   unsigned style) {
  const int answer = system.ShowBox(text, style);
  TraceLine(system, {MessageName(messageId), " shown, answer ", AnswerText(answer)});
  return answer;
}

bool RunAndWaitTraced(SystemInterface& system, const std::string& commandLine) {
  // Traced before the wait too: the wait may last as long as an installation, and a viewer
  // then already shows what the launcher waits for.
  TraceLine(system, {"starting ", Escaped(commandLine)});
  const std::optional<ProcessEnd> end = system.RunAndWait(commandLine);
  if (!end) {
    TraceLine(system, {"could not be started"});
    return false;
  }
  const ProcessEnd& seen = *end;
  if (seen.waitFailed) {
    TraceLine(system, {"the wait for its end failed: it may still run, exit code unknown"});
  } else if (seen.exitCode) {
    TraceLine(system, {"ended with exit code ", *seen.exitCode});
  } else {
    TraceLine(system, {"ended, exit code not readable"});
  }
  return true;
}

}  // namespace tessaro
