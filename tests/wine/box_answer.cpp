// Runs a program, answers every message box that shows up while it runs (OK where there is
// one, else Cancel), reports each box on standard output and saves a screenshot of it.
//   box_answer.exe SCREENSHOT_DIR PROGRAM [ARGUMENTS...]
// Exits with the program's exit code; 98 when it cannot be started.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "instrument.h"

namespace {

using tessaro::e2e::Box;

int ChooseAnswer(const Box& box) {
  const auto has = [&](int id) {
    return std::find(box.buttons.begin(), box.buttons.end(), id) != box.buttons.end();
  };
  if (has(IDOK)) return IDOK;
  if (has(IDCANCEL)) return IDCANCEL;
  return box.buttons.empty() ? IDCANCEL : box.buttons.front();
}

const char* ButtonName(int id) {
  return id == IDOK ? "OK" : id == IDCANCEL ? "Cancel" : id == IDRETRY ? "Retry" : "other";
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

  const tessaro::e2e::ChildProcess program(commandLine,
                                           tessaro::e2e::StartOptions().Flags(CREATE_NEW_CONSOLE));
  if (!program.started()) {
    std::fprintf(stderr, "cannot start %s (error %lu)\n", commandLine.c_str(),
                 program.startError());
    return 98;
  }
  int count = 0;
  const auto answer = [&](const Box& box) {
    ++count;
    const std::string bmp = screenshots + "\\box-" + std::to_string(count) + ".bmp";
    tessaro::e2e::SaveScreenshot(box, bmp);
    const int button = ChooseAnswer(box);
    std::printf("box %d: [%s] %s\n  -> %s (screenshot %s)\n", count, box.caption.c_str(),
                box.text.c_str(), ButtonName(button), bmp.c_str());
    std::fflush(stdout);
    tessaro::e2e::PressButton(box, button);
  };
  return static_cast<int>(program.Wait(INFINITE, tessaro::e2e::AnsweringBoxes(0, answer)));
}
