// Runs a program, answers every message box that shows up while it runs (OK where there is
// one, else Cancel, unless answers are given), reports each box on standard output and saves a
// screenshot of it.
//   box_answer.exe [--answer BUTTONS=ANSWER[,ANSWER...]]... [--hold PROGRAM] [--watch]
//                  SCREENSHOT_DIR PROGRAM [ARGUMENTS...]
// BUTTONS names a kind of box by its buttons in control-id order, joined by "+" ("OK+Cancel",
// "Cancel+Retry"); its ANSWERs are used in order, one a box, then the rule above again.
// --hold starts PROGRAM first and ends it when the first box offering Retry shows, before that
// box is answered, so that a Retry then finds it gone. --watch answers nothing: someone at the
// display does, and each box is only reported.
// Exits with the program's exit code; 98 when it cannot be started, 2 on a wrong argument.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <optional>
#include <string>

#include "tests/wine/instrument.h"

namespace {

namespace e2e = tessaro::e2e;
using e2e::Box;

const char* ButtonName(int id) {
  return id == IDOK ? "OK" : id == IDCANCEL ? "Cancel" : id == IDRETRY ? "Retry" : "other";
}

int ButtonId(const std::string& name) {
  for (const int id : {IDOK, IDCANCEL, IDRETRY})
    if (name == ButtonName(id)) return id;
  return 0;
}

std::string Kind(const Box& box) {
  std::string kind;
  for (const int id : box.buttons) kind += (kind.empty() ? "" : "+") + std::string(ButtonName(id));
  return kind;
}

bool Has(const Box& box, int id) {
  return std::find(box.buttons.begin(), box.buttons.end(), id) != box.buttons.end();
}

int ChooseAnswer(const Box& box) {
  for (const int id : {IDOK, IDCANCEL})
    if (Has(box, id)) return id;
  return box.buttons.empty() ? IDCANCEL : box.buttons.front();
}

// "BUTTONS=ANSWER,ANSWER" into `answers`; false when an answer names no known button.
bool AddAnswers(const std::string& given, std::map<std::string, std::deque<int>>& answers) {
  const std::size_t equals = given.find('=');
  if (equals == std::string::npos) return false;
  std::deque<int>& queue = answers[given.substr(0, equals)];
  for (std::size_t start = equals + 1, end = 0; end != std::string::npos; start = end + 1) {
    end = given.find(',', start);
    const int id = ButtonId(given.substr(start, end == std::string::npos ? end : end - start));
    if (id == 0) return false;
    queue.push_back(id);
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::map<std::string, std::deque<int>> answers;
  std::string hold;
  bool watch = false;
  int first = 1;
  for (; first + 1 < argc && std::strncmp(argv[first], "--", 2) == 0; first += 1) {
    const std::string option = argv[first];
    if (option == "--watch") {
      watch = true;
    } else if (option == "--hold" && first + 2 < argc) {
      hold = argv[++first];
    } else if (option != "--answer" || first + 2 >= argc || !AddAnswers(argv[++first], answers)) {
      std::fprintf(stderr, "box_answer.exe: wrong option %s\n", option.c_str());
      return 2;
    }
  }
  if (argc - first < 2) {
    std::fprintf(stderr,
                 "usage: box_answer.exe [--answer BUTTONS=ANSWER[,ANSWER...]]... [--hold PROGRAM]"
                 " [--watch] SCREENSHOT_DIR PROGRAM [ARGUMENTS...]\n");
    return 2;
  }
  const std::string screenshots = argv[first];
  std::string commandLine;
  for (int i = first + 1; i < argc; ++i)
    commandLine += (i > first + 1 ? " \"" : "\"") + std::string(argv[i]) + "\"";

  std::optional<e2e::ChildProcess> held;
  if (!hold.empty()) {
    if (!e2e::StartedOrSaid(held.emplace("\"" + hold + "\""), hold)) return 98;
    std::printf("holding %s while the program runs\n", hold.c_str());
  }
  const e2e::ChildProcess program(commandLine, e2e::StartOptions().Flags(CREATE_NEW_CONSOLE));
  if (!e2e::StartedOrSaid(program, commandLine)) return 98;
  int count = 0;
  const auto answer = [&](const Box& box) {
    ++count;
    const std::string bmp = screenshots + "\\box-" + std::to_string(count) + ".bmp";
    e2e::SaveScreenshot(box, bmp);
    std::printf("box %d: [%s] %s\n", count, box.caption.c_str(), box.text.c_str());
    if (held && Has(box, IDRETRY)) {
      held.reset();  // its destructor ends it and waits until it is gone
      std::printf("  (ended %s, which held the product in use)\n", hold.c_str());
    }
    std::deque<int>& given = answers[Kind(box)];
    const bool asGiven = !given.empty() && Has(box, given.front());
    const int button = asGiven ? given.front() : ChooseAnswer(box);
    if (asGiven) given.pop_front();
    const std::string how = watch ? "yours to answer at the display"
                                  : ButtonName(button) + std::string(asGiven ? ", as given" : "");
    std::printf("  -> %s (screenshot %s)\n", how.c_str(), bmp.c_str());
    std::fflush(stdout);
    if (!watch) e2e::PressButton(box, button);
    while (watch && IsWindow(box.window)) Sleep(100);
  };
  return static_cast<int>(program.Wait(INFINITE, e2e::AnsweringBoxes(0, answer)));
}
