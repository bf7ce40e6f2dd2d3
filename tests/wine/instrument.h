// What every Windows test program shares, with GoogleTest or without (bench.exe, box_answer.exe,
// the stand-in): the programs beside the tests, the record format of the stand-in, waiting with
// a deadline, a box watcher that reads and answers boxes of another process as a user would, and
// a child process that does not outlive its owner.
#pragma once

#include <windows.h>

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
  DWORD processId = 0;
  std::string caption;  // UTF-8
  std::string text;     // UTF-8
  BoxIcon icon = BoxIcon::kNone;
  std::vector<int> buttons;  // control ids, sorted
};

// Finds a visible dialog box of the process (any process when processId is 0); empty when
// none appeared in time.
std::optional<Box> WaitForBox(DWORD processId, DWORD timeoutMs);
// Both return once the box is gone, so that the next search cannot find it again.
void PressButton(const Box& box, int buttonId);
void CloseBox(const Box& box);
// Saves what the screen shows of the box as a 24-bit BMP file.
bool SaveScreenshot(const Box& box, const std::string& bmpPath);

// Folder of the running test program, with a closing backslash.
std::string TestProgramDirectory();
// The launcher under test: the 64-bit twin built beside the tests, or the shipped 32-bit build
// when TESSARO_E2E_BUILD=win32 (the run in the 32-bit rig).
std::string BuiltLauncherPath();
// A 32-bit launcher reads the 32-bit registry view and is matched by the x86 package.
bool LauncherIs32Bit();

void RemoveTree(const std::string& path);
void WriteFileBytes(const std::string& path, const std::string& bytes);
bool FileExists(const std::string& path);
// Size and last write ("missing" when there is no file): what rewriting or replacing changes.
std::string FileStamp(const std::string& path);
// The system time in 100 ns units, the unit of process times.
unsigned long long Now100ns();

// What a stand-in is told (<name>.cfg) and what it saw (<name>.record): key=value lines.
using Record = std::map<std::string, std::string>;
Record ReadRecord(const std::string& path);
void AppendRecord(const std::string& path, const Record& fields);

// True once `condition` holds, checked every `stepMs`; false when `timeoutMs` ran out first.
bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs, DWORD stepMs = 25);

// A program started by a test; one still running when the object goes is ended then.
class ChildProcess {
 public:
  // `consoleTitle` names a new console, as a shortcut's title would. With `captureOutput` the
  // child's standard output and error go into a pipe that ReadOutput empties.
  explicit ChildProcess(const std::string& commandLine, DWORD creationFlags = 0,
                        const std::string& folder = "", const char* consoleTitle = nullptr,
                        bool captureOutput = false);
  ~ChildProcess();

  bool started() const { return process_.valid(); }
  DWORD startError() const { return startError_; }
  DWORD processId() const { return processId_; }
  DWORD threadId() const { return threadId_; }
  // The exit code, or -1 when it did not start or still runs after `timeoutMs`. Each box that
  // shows up meanwhile (of this process, or of any other with `boxesOfAnyProcess`) goes to
  // `onBox`, which must make it go away.
  long Wait(DWORD timeoutMs, const std::function<void(const Box&)>& onBox = nullptr,
            bool boxesOfAnyProcess = false) const;
  bool StillRunningAfter(DWORD milliseconds) const;
  // When it ended and the processor time it took, in 100 ns units.
  struct Times {
    unsigned long long exit = 0, cpu = 0;
  };
  Times times() const;
  // Everything it wrote, once it has closed its standard output.
  std::string ReadOutput() const;

 private:
  platform::UniqueHandle process_;
  platform::UniqueHandle thread_;
  platform::UniqueHandle output_;
  DWORD processId_ = 0;
  DWORD threadId_ = 0;
  DWORD startError_ = 0;
};

}  // namespace tessaro::e2e
