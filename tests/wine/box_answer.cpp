// Runs a program, answers every message box that shows up while it runs (OK where there is
// one, else Cancel), reports each box on standard output and saves a screenshot of it.
//   box_answer.exe SCREENSHOT_DIR PROGRAM [ARGUMENTS...]
// Exits with the program's exit code; 98 when it cannot be started.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "box_watch.h"

namespace {

int ChooseAnswer(const tessaro::e2e::Box& box) {
  const auto has = [&](int id) {
    return std::find(box.buttons.begin(), box.buttons.end(), id) != box.buttons.end();
  };
  if (has(IDOK)) return IDOK;
  if (has(IDCANCEL)) return IDCANCEL;
  return box.buttons.empty() ? IDCANCEL : box.buttons.front();
}

const char* ButtonName(int id) {
  switch (id) {
    case IDOK:
      return "OK";
    case IDCANCEL:
      return "Cancel";
    case IDRETRY:
      return "Retry";
    default:
      return "other";
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: box_answer.exe SCREENSHOT_DIR PROGRAM [ARGUMENTS...]\n");
    return 2;
  }
  const std::string screenshots = argv[1];
  std::string commandLine;
  for (int i = 2; i < argc; ++i)
    commandLine += (i > 2 ? " \"" : "\"") + std::string(argv[i]) + "\"";

  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, CREATE_NEW_CONSOLE,
                      nullptr, nullptr, &startup, &process)) {
    std::fprintf(stderr, "cannot start %s (error %lu)\n", commandLine.c_str(), GetLastError());
    return 98;
  }
  int count = 0;
  while (WaitForSingleObject(process.hProcess, 100) == WAIT_TIMEOUT) {
    const auto box = tessaro::e2e::WaitForBox(0, 0);
    if (!box) continue;
    ++count;
    const std::string bmp = screenshots + "\\box-" + std::to_string(count) + ".bmp";
    tessaro::e2e::SaveScreenshot(*box, bmp);
    const int answer = ChooseAnswer(*box);
    std::printf("box %d: [%s] %s\n  -> %s (screenshot %s)\n", count, box->caption.c_str(),
                box->text.c_str(), ButtonName(answer), bmp.c_str());
    std::fflush(stdout);
    tessaro::e2e::PressButton(*box, answer);
  }
  DWORD exitCode = 0;
  GetExitCodeProcess(process.hProcess, &exitCode);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return static_cast<int>(exitCode);
}
