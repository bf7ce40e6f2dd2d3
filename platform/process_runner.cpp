#include "platform/process_runner.h"

#include <windows.h>

#include <vector>

#include "platform/win32_handle.h"

namespace tessaro::platform {

std::optional<ProcessEnd> RunAndWait(const std::string& commandLine) {
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_SHOWNORMAL;
  PROCESS_INFORMATION process = {};

  // CreateProcessA may write into its command line, so it gets a copy of its own.
  std::vector<char> mutableLine(commandLine.begin(), commandLine.end());
  mutableLine.push_back('\0');
  if (!CreateProcessA(nullptr, mutableLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process)) {
    return std::nullopt;
  }
  const UniqueHandle processHandle(process.hProcess);
  const UniqueHandle threadHandle(process.hThread);

  // WM_QUIT is dispatched like any other message: only the process's end stops the wait.
  DWORD waited;
  while ((waited = WaitForSingleObject(processHandle.get(), 100)) == WAIT_TIMEOUT) {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
  }
  // After a failed wait the system answers STILL_ACTIVE (259) for a process that may well
  // still run: that must not read as its exit code.
  ProcessEnd end;
  if (waited != WAIT_OBJECT_0) {
    end.waitFailed = true;
    return end;
  }
  DWORD code = 0;
  if (GetExitCodeProcess(processHandle.get(), &code)) end.exitCode = code;
  return end;
}

}  // namespace tessaro::platform
