// The real Windows behind the launcher logic. The header stays free of <windows.h> so that
// the entry point needs nothing of Windows itself.
#pragma once

#include <memory>

#include "launcher/system_interface.h"

namespace tessaro::platform {

class WindowsSystem final : public SystemInterface {
 public:
  WindowsSystem();
  ~WindowsSystem() override;
  WindowsSystem(const WindowsSystem&) = delete;
  WindowsSystem& operator=(const WindowsSystem&) = delete;

  void HardenLibrarySearch() override;
  std::size_t QueryModulePath(std::string& path) override;
  bool ModulePathLosesCharacters() override;
  unsigned SetProcessErrorMode(unsigned mode) override;
  void SetApplicationTitle(const std::string& modulePath) override;
  void WriteStandardOutput(std::string_view bytes) override;
  ConsoleWindowState ProbeConsoleWindow() override;
  void HideConsoleWindow() override;
  void ShowConsoleWindowAgain() override;
  LeadByteTable AnsiLeadBytes() override;
  std::optional<std::string> ReadFileStart(const std::string& path, std::size_t maxBytes) override;
  bool FileExists(const std::string& path) override;
  bool CanOpenForWriting(const std::string& path) override;
  UninstallValues ReadUninstallValues(const std::string& keyPath) override;
  std::optional<std::string> SystemDirectory() override;
  std::optional<ProcessEnd> RunAndWait(const std::string& commandLine) override;
  std::string LoadMessageText(unsigned id) override;
  int ShowBox(const std::string& text, unsigned style) override;
  void Trace(std::string_view line) override;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace tessaro::platform
