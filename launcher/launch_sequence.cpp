#include "launcher/launch_sequence.h"

#include "launcher/installed_product.h"
#include "launcher/module_directory.h"
#include "launcher/trace.h"
#include "launcher/traced_actions.h"
#include "resources/resource_ids.h"

namespace tessaro {
namespace {

// Hides the launcher's console window and keeps a console that other processes share from
// staying hidden after the launcher is gone. Only the console's own window is touched: a window
// that merely carries the console's title belongs to a terminal hosting it, with the user's other
// work in it. Only a window that was on screen comes back: a shell or deployment tool that keeps
// its console out of sight must not find it popping up after the launcher.
class ConsoleConcealment {
 public:
  explicit ConsoleConcealment(SystemInterface& system) : system_(system) {
    const ConsoleWindowState state = system.ProbeConsoleWindow();
    if (state.found && !state.own) {
      TraceLine(system, {"console window found is not the console's own (a terminal hosts the "
                         "console): left as it is"});
      return;
    }
    if (state.found) system.HideConsoleWindow();
    showAgain_ = state.found && state.shared && state.wasVisible;
    TraceLine(system, {Either(state.found, "console window found", "console window not found"),
                       Either(state.shared, ", shared", ", not shared"),
                       Either(state.wasVisible, ", was visible", ", was not visible"),
                       Either(showAgain_, ": shown again at the end", ": not shown again")});
  }
  ~ConsoleConcealment() {
    if (showAgain_) system_.ShowConsoleWindowAgain();
  }
  ConsoleConcealment(const ConsoleConcealment&) = delete;
  ConsoleConcealment& operator=(const ConsoleConcealment&) = delete;

 private:
  SystemInterface& system_;
  bool showAgain_ = false;
};

int ExitWith(SystemInterface& system, int exitCode, const ExitReason& reason) {
  TraceLine(system, {"exit ", static_cast<unsigned>(exitCode), ": ", reason.first, reason.second,
                     reason.third});
  return exitCode;
}

}  // namespace

std::string BuildInstallerCommandLine(std::string_view launcherDirectory) {
  std::string commandLine = "\"";
  commandLine += launcherDirectory;
  commandLine += "Setup.exe\" \"/v LAUNCH=Enable\"";
  return commandLine;
}

int RunLauncher(SystemInterface& system) {
  // Before anything can load a library on the launcher's behalf.
  system.HardenLibrarySearch();
  std::string modulePath;
  const std::size_t length = system.QueryModulePath(modulePath);
  if (length == 0 || length >= kMaxPath) {
    system.WriteStandardOutput(kStartFailureText);
    if (length == 0) {
      TraceLine(system, {"module path not obtained"});
    } else {
      TraceLine(system, {"module path cut at ", static_cast<unsigned>(kMaxPath),
                         " characters: ", Quoted(modulePath)});
    }
    return ExitWith(system, kExitFrameworkFailed, {"framework start failed"});
  }
  const unsigned errorMode = system.SetProcessErrorMode(0);
  system.SetProcessErrorMode(errorMode | kStartErrorModeFlags);
  system.SetApplicationTitle(modulePath);
  TraceLine(system, {"module path ", Quoted(modulePath)});
  if (system.ModulePathLosesCharacters()) {
    TraceLine(system,
              {"module path holds characters the system code page cannot show: they read as the "
               "default character, and files beside the launcher cannot be found by that path"});
  }

  const ConsoleConcealment concealment(system);

  ExitReason stopReason = {"the installed product check said stop"};
  if (!CheckInstalledProduct(system, stopReason)) {
    return ExitWith(system, kExitCheckStopped, stopReason);
  }

  const std::optional<std::string> directory = GetModuleDirectory(system);
  if (!directory) return ExitWith(system, kExitNoDirectory, {"launcher folder not found"});

  if (!RunAndWaitTraced(system, BuildInstallerCommandLine(*directory))) {
    ShowMessageBox(system, IDS_LAUNCH_FAILED, kMbOk | kMbIconError);
    return ExitWith(system, kExitCompleted,
                    {"installer not started, ", MessageName(IDS_LAUNCH_FAILED), " shown"});
  }
  return ExitWith(system, kExitCompleted, {"installer ended"});
}

}  // namespace tessaro
