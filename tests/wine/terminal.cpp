// Plays a terminal that hosts consoles through a pseudo console, as Windows Terminal does: a
// visible top-level window, a pseudo console the program runs in, and a reader that sets the
// window's caption from every title the console sends (OSC 0 or 2 on the output pipe).
//   terminal.exe RECORD PROGRAM [ARGUMENTS...]
// It runs the program in the pseudo console and records into RECORD:
//   child_pid, child_exit     the program it ran
//   titles                    every caption it took, in order, joined by "|"
//   hidden_while_running      1 when its window was seen hidden while the program ran
//   visible_after_exit        its window's visibility a second after the program ended
#include <windows.h>

#include <atomic>
#include <regex>
#include <string>
#include <thread>

#include "instrument.h"

namespace {

namespace e2e = tessaro::e2e;

void ClosePseudoConsoleNow(HPCON console) { ClosePseudoConsole(console); }
using UniquePseudoConsole = tessaro::platform::UniqueOwner<HPCON, ClosePseudoConsoleNow>;

// The window lives on a thread that does nothing but serve it, so that a caption set by the
// reader and a hide or show asked by another process take effect at once, as in a terminal.
class TerminalWindow {
 public:
  TerminalWindow() : thread_([this] { Serve(); }) {
    e2e::WaitUntil([this] { return window_ != nullptr; }, 10000, 5);
  }
  ~TerminalWindow() {
    PostThreadMessageA(GetWindowThreadProcessId(window_, nullptr), WM_QUIT, 0, 0);
    thread_.join();
  }
  HWND get() const { return window_; }

 private:
  void Serve() {
    WNDCLASSW type = {};
    type.lpfnWndProc = DefWindowProcW;
    type.hInstance = GetModuleHandleW(nullptr);
    type.lpszClassName = L"TessaroTestTerminal";
    RegisterClassW(&type);
    window_ = CreateWindowExW(0, type.lpszClassName, L"Terminal", WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                              40, 40, 640, 400, nullptr, nullptr, type.hInstance, nullptr);
    if (window_ == nullptr) return;  // nothing to serve, nor to be told to quit
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
    DestroyWindow(window_);
  }

  std::atomic<HWND> window_{nullptr};
  std::thread thread_;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  const std::string record = argv[1];
  std::string child;
  for (int i = 2; i < argc; ++i) child += (i > 2 ? " \"" : "\"") + std::string(argv[i]) + "\"";
  const TerminalWindow window;
  // What the terminal would type, and what the console shows.
  tessaro::platform::UniqueHandle inputRead, inputWrite, outputRead, outputWrite;
  CreatePipe(inputRead.receive(), inputWrite.receive(), nullptr, 0);
  CreatePipe(outputRead.receive(), outputWrite.receive(), nullptr, 0);
  UniquePseudoConsole pseudoConsole;
  if (FAILED(CreatePseudoConsole({80, 25}, inputRead.get(), outputWrite.get(), 0,
                                 pseudoConsole.receive()))) {
    e2e::AppendRecord(record, {{"error", "CreatePseudoConsole failed"}});
    return 2;
  }
  // The console host holds its own copies; the reader sees the end once the console is closed.
  inputRead.reset();
  outputWrite.reset();

  // A title as the console sends it: OSC 0 or 2, ended by BEL or by ESC and one more byte.
  const std::regex titleSequence(R"(\x1b\][02];([^\x07\x1b]*)(?:\x07|\x1b[\s\S]))");
  std::string titles;
  std::thread reader([&] {
    // All that came; a sequence split between two reads matches once its end has come too.
    std::string output;
    std::ptrdiff_t searched = 0;
    std::smatch match;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(outputRead.get(), buffer, sizeof buffer, &got, nullptr) && got != 0) {
      output.append(buffer, got);
      while (std::regex_search(output.cbegin() + searched, output.cend(), match, titleSequence)) {
        searched = match[0].second - output.cbegin();
        const std::string title = match[1];
        std::wstring wide(title.size(), L'\0');
        const int size = static_cast<int>(title.size());
        wide.resize(static_cast<std::size_t>(
            MultiByteToWideChar(CP_UTF8, 0, title.data(), size, wide.data(), size)));
        SetWindowTextW(window.get(), wide.c_str());
        titles += (titles.empty() ? "" : "|") + title;
      }
    }
  });

  bool hiddenWhileRunning = false;
  long exitCode = -1;
  DWORD childId = 0;
  {
    const e2e::ChildProcess program(child,
                                    e2e::StartOptions().InPseudoConsole(pseudoConsole.get()));
    childId = program.processId();
    exitCode = program.Wait(60000, [&] { hiddenWhileRunning |= !IsWindowVisible(window.get()); });
  }
  // A show or hide the program asked for on its way out is served meanwhile.
  Sleep(1000);
  const bool visibleAfter = IsWindowVisible(window.get()) != FALSE;
  pseudoConsole.reset();
  reader.join();
  e2e::AppendRecord(record, {{"child_pid", std::to_string(childId)},
                             {"child_exit", std::to_string(exitCode)},
                             {"titles", titles},
                             {"hidden_while_running", hiddenWhileRunning ? "1" : "0"},
                             {"visible_after_exit", visibleAfter ? "1" : "0"}});
  return 0;
}
