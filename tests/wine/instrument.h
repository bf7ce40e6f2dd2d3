// What every Windows test program shares, with GoogleTest or without (bench.exe, box_answer.exe,
// the stand-in), so that there is one way to start, wait for, watch and record anything.
#pragma once

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/win32_handle.h"

namespace tessaro::e2e {

enum class BoxIcon { kNone, kError, kInformation, kOther };

struct Box {
  HWND window = nullptr;
  std::string caption;  // UTF-8
  std::string text;     // UTF-8
  BoxIcon icon = BoxIcon::kNone;
  std::vector<int> buttons;  // control ids, sorted
};

// The top-level windows, listed at one go. Never walked with FindWindowEx from the last one
// found: Wine 10's server loops for ever when that window has meanwhile left the z-order (a box
// on its way out), and every program of the prefix hangs with it.
std::vector<HWND> TopLevelWindows();
// Finds a visible dialog box of the process (any process when processId is 0); empty when
// none appeared in time.
std::optional<Box> WaitForBox(DWORD processId, DWORD timeoutMs);
// Returns once the box is gone, so that the next search cannot find it again. IDCLOSE closes the
// box as the button on its title bar does.
void PressButton(const Box& box, int buttonId);
// Saves what the screen shows of the box as a 24-bit BMP file; nothing when it shows none.
void SaveScreenshot(const Box& box, const std::string& bmpPath);
// For ChildProcess::Wait: hands each box that shows up (of the process, of any other when
// processId is 0) to `answer`, which must make it go away.
std::function<void()> AnsweringBoxes(DWORD processId, std::function<void(const Box&)> answer);

inline std::string OwnPath() {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  return path;
}
// Folder of the running test program, with a closing backslash.
inline std::string TestProgramDirectory() {
  const std::string path = OwnPath();
  return path.substr(0, path.find_last_of('\\') + 1);
}
// The launcher under test: the 64-bit twin built beside the tests, or the shipped 32-bit build
// when TESSARO_E2E_BUILD=win32 (the run in the 32-bit rig).
inline std::string BuiltLauncherPath() {
  const char* build = std::getenv("TESSARO_E2E_BUILD");
  const bool shipped = build != nullptr && std::string(build) == "win32";
  return TestProgramDirectory() +
         (shipped ? "..\\..\\..\\win32\\Launch.exe" : "..\\..\\Launch.exe");
}
// A 32-bit launcher reads the 32-bit registry view and is matched by the x86 package.
inline bool LauncherIs32Bit() {
  DWORD type = 0;
  return GetBinaryTypeA(BuiltLauncherPath().c_str(), &type) && type == SCS_32BIT_BINARY;
}

void RemoveTree(const std::string& path);
inline void WriteFileBytes(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}
// The file held open as another program would hold it.
inline platform::UniqueHandle OpenExisting(const std::string& path, DWORD access, DWORD sharing) {
  return platform::UniqueHandle(CreateFileA(path.c_str(), access, sharing, nullptr, OPEN_EXISTING,
                                            FILE_ATTRIBUTE_NORMAL, nullptr));
}
inline bool FileExists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}
// Size and last write ("missing" when there is no file): what rewriting or replacing changes.
std::string FileStamp(const std::string& path);
// The system time in 100 ns units, the unit of process times.
unsigned long long Now100ns();

// What a stand-in is told (<name>.cfg) and what it saw (<name>.record): key=value lines.
using Record = std::map<std::string, std::string>;
Record ReadRecord(const std::string& path);
inline void AppendRecord(const std::string& path, const Record& fields) {
  std::ofstream file(path, std::ios::binary | std::ios::app);
  for (const auto& [key, value] : fields) file << key << '=' << value << '\n';
}

// True once `condition` holds, checked every `stepMs`; false when `timeoutMs` ran out first.
inline bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs, DWORD stepMs = 25) {
  const ULONGLONG deadline = GetTickCount64() + timeoutMs;
  while (!condition()) {
    if (GetTickCount64() >= deadline) return false;
    Sleep(stepMs);
  }
  return true;
}

// How a child starts beyond its command line, each option set by name.
struct StartOptions {
  DWORD creationFlags = 0;
  std::string folder;                  // its current directory; empty: the test's own
  const char* consoleTitle = nullptr;  // names a new console, as a shortcut's title would
  bool captureOutput = false;          // standard output and error into a pipe for ReadOutput
  void* pseudoConsole = nullptr;       // an HPCON to attach it to, as a terminal starts programs
  StartOptions& Flags(DWORD flags) { return creationFlags = flags, *this; }
  StartOptions& CapturingOutput() { return captureOutput = true, *this; }
  StartOptions& InPseudoConsole(void* console) { return pseudoConsole = console, *this; }
};

// A program started by a test; one still running when the object goes is ended then.
class ChildProcess {
 public:
  explicit ChildProcess(const std::string& commandLine, const StartOptions& options = {});
  ~ChildProcess() {
    if (!StillRunningAfter(0)) return;
    TerminateProcess(process_.get(), 99);
    // Until it is gone it may hold files that the next test removes.
    WaitForSingleObject(process_.get(), 10000);
  }

  bool started() const { return process_.valid(); }
  DWORD startError() const { return startError_; }
  DWORD processId() const { return processId_; }
  DWORD threadId() const { return threadId_; }
  bool StillRunningAfter(DWORD milliseconds) const {
    return started() && WaitForSingleObject(process_.get(), milliseconds) == WAIT_TIMEOUT;
  }
  // The exit code, or -1 when it did not start or still runs after `timeoutMs`; meanwhile
  // `whileRunning` is called every 100 ms. The stand-in and bench.exe link no box watcher.
  long Wait(DWORD timeoutMs, const std::function<void()>& whileRunning = nullptr) const;
  // When it ended and the processor time it took, in 100 ns units.
  struct Times {
    unsigned long long exit = 0, cpu = 0;
  };
  Times times() const;
  // Everything it wrote, once it has closed its standard output.
  std::string ReadOutput() const;

 private:
  platform::UniqueHandle process_, output_;
  DWORD processId_ = 0, threadId_ = 0, startError_ = 0;
};

// For the programs without GoogleTest: false, and said on standard error, when it did not start.
inline bool StartedOrSaid(const ChildProcess& child, const std::string& commandLine) {
  if (!child.started())
    std::fprintf(stderr, "cannot start %s (error %lu)\n", commandLine.c_str(), child.startError());
  return child.started();
}

}  // namespace tessaro::e2e
