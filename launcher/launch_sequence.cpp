#include "launcher/launch_sequence.h"

#include "launcher/installed_product.h"
#include "resources/resource_ids.h"

namespace tessaro {
namespace {

// Keeps a console that other processes share from staying hidden after the launcher is gone.
// Only a window that was on screen comes back: a shell or deployment tool that keeps its console
// out of sight must not find it popping up after the launcher.
class ConsoleConcealment {
 public:
  explicit ConsoleConcealment(SystemInterface& system)
      : system_(system), showAgain_(MustShowAgain(system.HideConsoleWindow())) {}
  ~ConsoleConcealment() {
    if (showAgain_) system_.ShowConsoleWindowAgain();
  }
  ConsoleConcealment(const ConsoleConcealment&) = delete;
  ConsoleConcealment& operator=(const ConsoleConcealment&) = delete;

 private:
  static bool MustShowAgain(const ConsoleWindowState& state) {
    return state.found && state.shared && state.wasVisible;
  }

  SystemInterface& system_;
  bool showAgain_;
};

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

}  // namespace

int ShowMessageBox(SystemInterface& system, unsigned messageId, unsigned style) {
  return system.ShowMessageBox(system.LoadMessageText(messageId), style);
}

std::string ModuleDirectoryFromPath(std::string_view path, const LeadByteTable& leadBytes) {
  const std::size_t driveLength = path.size() >= 2 && path[1] == ':' ? 2 : 0;
  std::size_t directoryEnd = driveLength;
  for (std::size_t i = driveLength; i < path.size();) {
    if (leadBytes[static_cast<unsigned char>(path[i])] && i + 1 < path.size()) {
      i += 2;
      continue;
    }
    if (IsSeparator(path[i])) directoryEnd = i + 1;
    ++i;
  }
  return std::string(path.substr(0, directoryEnd));
}

bool GetModuleDirectory(SystemInterface& system, std::string& directory) {
  std::string path;
  if (system.QueryModulePath(path) == 0) return false;
  directory = ModuleDirectoryFromPath(path, system.AnsiLeadBytes());
  return true;
}

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
    return kExitFrameworkFailed;
  }
  const unsigned errorMode = system.SetProcessErrorMode(0);
  system.SetProcessErrorMode(errorMode | kStartErrorModeFlags);
  system.SetApplicationTitle(modulePath);

  const ConsoleConcealment concealment(system);

  if (!CheckInstalledProduct(system)) return kExitCheckStopped;

  std::string directory;
  if (!GetModuleDirectory(system, directory)) return kExitNoDirectory;

  if (!system.RunAndWait(BuildInstallerCommandLine(directory))) {
    system.ShowMessageBox(system.LoadMessageText(IDS_LAUNCH_FAILED), kMbOk | kMbIconError);
  }
  return kExitCompleted;
}

}  // namespace tessaro
