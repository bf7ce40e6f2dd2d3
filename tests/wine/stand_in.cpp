// Stands in for a program the launcher starts (Setup.exe, a decoy, Tessaro.exe). It records
// what it sees into "<own name>.record" beside itself and behaves as "<own name>.cfg" says:
//   exit=<code>          exit code to return (default 0)
//   sleep_ms=<n>         how long to keep running (default 0)
//   until_file=<path>    keep running until this file exists (checked every 20 ms)
//   registry_key=<path>  record whether this key exists under HKLM (64-bit view)
//   run=<command line>   act as a shell: run the command in this console, wait for it, and
//                        record its exit code and this console window's visibility after it
//   hide_console=1       first hide this console's window, as a script runner that works
//                        out of sight does
//   hide_titled_window=1 hide the window that takes this console's title, whoever's it is
#include <windows.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "instrument.h"

namespace {

namespace e2e = tessaro::e2e;

std::string Visible(HWND window) {
  return window != nullptr && IsWindowVisible(window) ? "1" : "0";
}

int HideVisibleWindowsTitled(const std::string& title) {
  int hidden = 0;
  for (HWND window : e2e::TopLevelWindows()) {
    char text[256] = {};
    GetWindowTextA(window, text, sizeof text);
    if (_stricmp(text, title.c_str()) != 0 || !IsWindowVisible(window)) continue;
    ShowWindowAsync(window, SW_HIDE);
    ++hidden;
  }
  return hidden;
}

// Returns once the console host has handled every request made of WINDOW before this call. A
// show or hide asked by another process (ShowWindowAsync, as the launcher asks) is a message
// queued to the host, handled when the host gets to it: at once on Windows, about 2 s later
// under Wine (measured), later still on a busy machine. A message sent now is handled after it.
void Settle(HWND window) {
  if (window != nullptr) SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_NORMAL, 60000, nullptr);
}

}  // namespace

int main() {
  const unsigned long long started = e2e::Now100ns();
  const std::string own = e2e::OwnPath();
  const std::string ownWithoutExtension = own.substr(0, own.find_last_of('.'));
  e2e::Record config = e2e::ReadRecord(ownWithoutExtension + ".cfg");
  const std::string record = ownWithoutExtension + ".record";

  char directory[MAX_PATH] = {};
  GetCurrentDirectoryA(MAX_PATH, directory);
  HWND console = GetConsoleWindow();
  if (console != nullptr && config["hide_console"] == "1") {
    ShowWindowAsync(console, SW_HIDE);
    e2e::WaitUntil([&] { return !IsWindowVisible(console); }, 5000, 10);
  }
  if (config["hide_titled_window"] == "1") {
    // Every window that takes the title: a pseudo console's host has a hidden one of its own
    // beside the terminal's, and which one a look-up finds first is chance.
    const std::string title = "stand-in " + std::to_string(GetCurrentProcessId());
    SetConsoleTitleA(title.c_str());
    e2e::WaitUntil([&] { return HideVisibleWindowsTitled(title) != 0; }, 5000);
  }
  Settle(console);
  const std::string visible = Visible(console);
  char title[1024] = {};
  GetConsoleTitleA(title, sizeof title);
  // The first console call waits until the console host is up (Wine starts it lazily).
  e2e::Record seen = {
      {"start_time", std::to_string(started)},
      {"pid", std::to_string(GetCurrentProcessId())},
      // This start's number: the record of a stand-in started twice holds 2.
      {"starts", std::to_string(std::atoi(e2e::ReadRecord(record)["starts"].c_str()) + 1)},
      {"command_line", GetCommandLineA()},
      {"current_directory", directory},
      {"error_mode", std::to_string(GetErrorMode())},
      {"console_window", std::to_string(reinterpret_cast<std::uintptr_t>(console))},
      {"console_window_visible", visible},
      {"console_ready_time", std::to_string(e2e::Now100ns())},
      {"console_title", title},
  };
  if (config.count("registry_key") != 0) {
    tessaro::platform::UniqueRegistryKey key;
    const LONG opened = RegOpenKeyExA(HKEY_LOCAL_MACHINE, config["registry_key"].c_str(), 0,
                                      KEY_READ | KEY_WOW64_64KEY, key.receive());
    seen["registry_key_exists"] = opened == ERROR_SUCCESS ? "1" : "0";
  }
  e2e::AppendRecord(record, seen);

  if (config.count("run") != 0) {
    const e2e::ChildProcess child(config["run"]);
    const long code = child.Wait(INFINITE);
    // Whatever the launcher asked of the window before it ended has been done.
    Settle(console);
    e2e::AppendRecord(
        record, {{child.started() ? "run_exit" : "run_error",
                  child.started() ? std::to_string(code) : std::to_string(child.startError())},
                 {"console_window_visible_after_run", Visible(console)}});
  }

  if (config.count("sleep_ms") != 0) Sleep(std::stoul(config["sleep_ms"]));
  if (config.count("until_file") != 0)
    e2e::WaitUntil([&] { return e2e::FileExists(config["until_file"]); }, INFINITE, 20);
  e2e::AppendRecord(record, {{"end_time", std::to_string(e2e::Now100ns())}});
  return config.count("exit") ? std::stoi(config["exit"]) : 0;
}
