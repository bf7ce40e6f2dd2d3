// The one door from the launcher logic to Windows. The real implementation lives in
// platform/windows_system.*, the tests use a fake that answers from a table.
#pragma once

#include <bitset>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace tessaro {

// Paths pass through buffers of this many characters, terminating zero included.
inline constexpr std::size_t kMaxPath = 260;

// Message box styles and answers, with the values Windows gives them.
inline constexpr unsigned kMbOk = 0x00;
inline constexpr unsigned kMbOkCancel = 0x01;
inline constexpr unsigned kMbRetryCancel = 0x05;
inline constexpr unsigned kMbIconError = 0x10;
inline constexpr unsigned kMbIconInformation = 0x40;
inline constexpr int kIdOk = 1;
inline constexpr int kIdCancel = 2;
inline constexpr int kIdRetry = 4;

// Failure modes gained at start: SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX.
inline constexpr unsigned kStartErrorModeFlags = 0x8001;

// Lead bytes of the ANSI code page's double-byte characters (all false on single-byte pages).
using LeadByteTable = std::bitset<256>;

// What the look-up of the console window found, for deciding whether to hide it and whether to
// show it again at the end.
struct ConsoleWindowState {
  bool found = false;  // A window carried the console's temporary title.
  // That window is the console's own. Under a pseudo console the title goes to the terminal that
  // hosts it, so the window found is the terminal's, with the user's other tabs in it.
  bool own = false;
  bool shared = false;      // Other processes are attached to the same console.
  bool wasVisible = false;  // The window found was on screen.
};

// How a started process was seen to end; for the trace alone, no decision depends on it.
struct ProcessEnd {
  // The wait returned without seeing the end: the process may still run.
  bool waitFailed = false;
  // Read only after the wait saw the end; empty when the system would not say.
  std::optional<unsigned> exitCode;
};

// What the registry gave for the two values of an uninstall key. A value is the raw bytes the
// registry returned; an empty optional means the value could not be read (missing, too long).
struct UninstallValues {
  bool keyOpened = false;
  std::optional<std::string> displayVersion;
  std::optional<std::string> installLocation;
};

class SystemInterface {
 public:
  virtual ~SystemInterface() = default;

  // Restricts where DLLs are loaded from to the system directory, where the system allows it,
  // so that a DLL planted beside the launcher (a download folder) is never loaded, and takes
  // the current directory out of the search order of the launcher and of what it starts.
  virtual void HardenLibrarySearch() = 0;
  // The raw result of asking for the own executable's path through a kMaxPath buffer:
  // 0 on failure, kMaxPath when the path was cut. `path` receives what the buffer held.
  virtual std::size_t QueryModulePath(std::string& path) = 0;
  // True when the own executable's path holds characters that the ANSI code page cannot show:
  // the path from QueryModulePath then has the system's default character in their place.
  virtual bool ModulePathLosesCharacters() = 0;
  // Sets the process error mode and returns the previous one.
  virtual unsigned SetProcessErrorMode(unsigned mode) = 0;
  // Remembers the caption of every later message box, derived from the executable's path.
  virtual void SetApplicationTitle(const std::string& modulePath) = 0;
  virtual void WriteStandardOutput(std::string_view bytes) = 0;

  // Looks the console window up by a temporary title and says what it found; hides nothing.
  virtual ConsoleWindowState ProbeConsoleWindow() = 0;
  // Hides the window that ProbeConsoleWindow found.
  virtual void HideConsoleWindow() = 0;
  // Shows the window that HideConsoleWindow hid.
  virtual void ShowConsoleWindowAgain() = 0;

  virtual LeadByteTable AnsiLeadBytes() = 0;
  // Up to `maxBytes` raw bytes from the start of a file; empty optional when it cannot be
  // opened. A read error gives no bytes.
  virtual std::optional<std::string> ReadFileStart(const std::string& path,
                                                   std::size_t maxBytes) = 0;
  virtual bool FileExists(const std::string& path) = 0;
  // Opens an existing file for writing and closes it at once; never creates or changes it.
  virtual bool CanOpenForWriting(const std::string& path) = 0;

  // Opens the key under HKEY_LOCAL_MACHINE, reads DisplayVersion and InstallLocation into
  // 256-byte buffers and closes the key again before returning.
  virtual UninstallValues ReadUninstallValues(const std::string& keyPath) = 0;
  // Empty optional when the system would not say, or the directory does not fit kMaxPath.
  virtual std::optional<std::string> SystemDirectory() = 0;

  // Starts a command line and waits for its end: how the wait ended, for the trace, or an empty
  // optional when it could not be started.
  virtual std::optional<ProcessEnd> RunAndWait(const std::string& commandLine) = 0;
  // The message in the user's language, or empty when the table lacks it.
  virtual std::string LoadMessageText(unsigned id) = 0;
  // Shows this text in a modal box captioned with the application title; returns the button
  // chosen. The launcher's boxes come through ShowMessageBox (launcher/traced_actions.h), which
  // traces the answer.
  virtual int ShowBox(const std::string& text, unsigned style) = 0;

  // Hands one finished line of the support trace, without prefix or line end, to whoever
  // listens. Never fails and never writes anything anywhere. The launcher's lines come through
  // TraceLine alone (launcher/trace.h), which keeps outside text escaped.
  virtual void Trace(std::string_view line) = 0;
};

}  // namespace tessaro
