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
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

namespace {

std::string OwnPathWithout(const char* newExtension) {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string text = path;
  const std::size_t dot = text.find_last_of('.');
  if (dot != std::string::npos && dot > text.find_last_of('\\')) text.erase(dot);
  return text + newExtension;
}

std::map<std::string, std::string> ReadConfig() {
  std::map<std::string, std::string> config;
  std::ifstream file(OwnPathWithout(".cfg"));
  std::string line;
  while (std::getline(file, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::size_t equals = line.find('=');
    if (equals != std::string::npos) config[line.substr(0, equals)] = line.substr(equals + 1);
  }
  return config;
}

unsigned long long NowIn100ns() {
  FILETIME now;
  GetSystemTimePreciseAsFileTime(&now);
  return (static_cast<unsigned long long>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
}

void Append(const std::string& path, const std::string& text) {
  std::ofstream file(path, std::ios::binary | std::ios::app);
  file << text;
}

}  // namespace

int main() {
  const unsigned long long started = NowIn100ns();
  auto config = ReadConfig();
  const std::string record = OwnPathWithout(".record");

  std::ostringstream out;
  out << "start_time=" << started << "\n";
  out << "pid=" << GetCurrentProcessId() << "\n";
  out << "command_line=" << GetCommandLineA() << "\n";
  char directory[MAX_PATH] = {};
  GetCurrentDirectoryA(MAX_PATH, directory);
  out << "current_directory=" << directory << "\n";
  out << "error_mode=" << GetErrorMode() << "\n";
  HWND console = GetConsoleWindow();
  if (console != nullptr && config["hide_console"] == "1") {
    ShowWindowAsync(console, SW_HIDE);
    for (int i = 0; i < 500 && IsWindowVisible(console); ++i) Sleep(10);
  }
  out << "console_window=" << reinterpret_cast<std::uintptr_t>(console) << "\n";
  out << "console_window_visible=" << (console != nullptr && IsWindowVisible(console) ? 1 : 0)
      << "\n";
  char title[1024] = {};
  GetConsoleTitleA(title, sizeof title);
  // The first console call waits until the console host is up (Wine starts it lazily).
  out << "console_ready_time=" << NowIn100ns() << "\n";
  out << "console_title=" << title << "\n";
  if (config.count("registry_key") != 0) {
    HKEY key = nullptr;
    const LONG opened = RegOpenKeyExA(HKEY_LOCAL_MACHINE, config["registry_key"].c_str(), 0,
                                      KEY_READ | KEY_WOW64_64KEY, &key);
    if (opened == ERROR_SUCCESS) RegCloseKey(key);
    out << "registry_key_exists=" << (opened == ERROR_SUCCESS ? 1 : 0) << "\n";
  }
  Append(record, out.str());

  if (config.count("run") != 0) {
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child = {};
    std::string commandLine = config["run"];
    std::ostringstream after;
    if (CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                       &startup, &child)) {
      WaitForSingleObject(child.hProcess, INFINITE);
      DWORD code = 0;
      GetExitCodeProcess(child.hProcess, &code);
      CloseHandle(child.hThread);
      CloseHandle(child.hProcess);
      after << "run_exit=" << code << "\n";
    } else {
      after << "run_error=" << GetLastError() << "\n";
    }
    // The console host shows the window again when it gets to the request: at once on Windows,
    // about 2 s later under Wine (measured).
    const ULONGLONG ended = GetTickCount64();
    while (console != nullptr && !IsWindowVisible(console) && GetTickCount64() - ended < 5000) {
      Sleep(10);
    }
    after << "console_window_visible_after_run="
          << (console != nullptr && IsWindowVisible(console) ? 1 : 0) << "\n";
    after << "console_window_shown_after_ms=" << GetTickCount64() - ended << "\n";
    Append(record, after.str());
  }

  const DWORD sleepMs = config.count("sleep_ms") ? std::stoul(config["sleep_ms"]) : 0;
  if (sleepMs != 0) Sleep(sleepMs);
  if (config.count("until_file") != 0) {
    while (GetFileAttributesA(config["until_file"].c_str()) == INVALID_FILE_ATTRIBUTES) Sleep(20);
  }
  const int exitCode = config.count("exit") ? std::stoi(config["exit"]) : 0;
  Append(record, "end_time=" + std::to_string(NowIn100ns()) + "\n");
  return exitCode;
}
