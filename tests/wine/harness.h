// What the Windows end-to-end tests need to drive the real Launch.exe: a medium folder, a
// launcher process, and a watcher that reads and answers the launcher's message boxes.
#pragma once

#include <windows.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "box_watch.h"

namespace tessaro::e2e {

// Folder of the running test program, with a closing backslash.
std::string TestProgramDirectory();
// The launcher under test: the 64-bit twin built beside the tests, or the shipped 32-bit build
// when TESSARO_E2E_BUILD=win32 (the run in the 32-bit rig). The stand-in is built beside them.
std::string BuiltLauncherPath();
// A 32-bit launcher reads the 32-bit registry view and is matched by the x86 package.
bool LauncherIs32Bit();
std::string StandInPath();

void RemoveTree(const std::string& path);
void WriteFileBytes(const std::string& path, const std::string& bytes);
bool FileExists(const std::string& path);
std::map<std::string, std::string> ReadRecord(const std::string& path);
// True when the system's ANSI code page is Japanese, i.e. the run is under a Japanese locale.
bool JapaneseLocale();

// A fresh folder C:\tessaro-e2e\<name>\ with the launcher in it (and, on request, the rest).
class Medium {
 public:
  explicit Medium(const std::string& name, const std::string& launcherName = "Launch.exe");
  const std::string& directory() const { return directory_; }
  std::string launcherPath() const { return directory_ + launcherName_; }
  // Puts a stand-in program named `fileName` into `folder` (default: the medium) with a config.
  void AddStandIn(const std::string& fileName, const std::string& config,
                  const std::string& folder = "");
  void WriteInfo(const std::string& bytes) { WriteFileBytes(directory_ + "TS_INF", bytes); }
  std::map<std::string, std::string> Record(const std::string& standInName) const;

 private:
  std::string directory_;
  std::string launcherName_;
};

// A launcher process. The destructor kills it if a test left it running.
class LauncherRun {
 public:
  // `consoleTitle` names a new console, as a shortcut's title would.
  explicit LauncherRun(const std::string& path, DWORD creationFlags = CREATE_NEW_CONSOLE,
                       const std::string& currentDirectory = "",
                       const char* consoleTitle = nullptr);
  ~LauncherRun();
  LauncherRun(const LauncherRun&) = delete;
  LauncherRun& operator=(const LauncherRun&) = delete;

  bool started() const { return process_ != nullptr; }
  DWORD processId() const { return processId_; }
  DWORD threadId() const { return threadId_; }
  HANDLE process() const { return process_; }
  // The next box the launcher shows; a failed expectation when none comes.
  Box NextBox(DWORD timeoutMs = 15000);
  // Waits for the end; any box that shows up meanwhile is recorded in unexpectedBoxes and
  // closed, so that no test hangs. Returns the exit code, or -1 on a time-out.
  long WaitForExit(DWORD timeoutMs = 30000);
  bool StillRunningAfter(DWORD milliseconds) const;
  std::vector<std::string> unexpectedBoxes;

 private:
  HANDLE process_ = nullptr;
  HANDLE thread_ = nullptr;
  DWORD processId_ = 0;
  DWORD threadId_ = 0;
};

// Expected message texts for the locale the test runs under.
struct Messages {
  std::string launchFailed;
  std::string infoOpenFailed;
  std::string alreadyInstalled;  // with "%s"
  std::string productInUse;
};
const Messages& ExpectedMessages();

}  // namespace tessaro::e2e
