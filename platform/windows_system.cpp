#include "platform/windows_system.h"

#include <windows.h>

#include <shlwapi.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>

#include "platform/console_window.h"
#include "platform/message_catalog.h"
#include "platform/process_runner.h"
#include "platform/win32_handle.h"

namespace tessaro::platform {
namespace {

// The portable side keeps its own copies of these Windows values; a slip in one would change a
// box, an answer's meaning or the error mode without any test noticing.
static_assert(kMaxPath == MAX_PATH);
static_assert(kMbOk == MB_OK && kMbOkCancel == MB_OKCANCEL && kMbRetryCancel == MB_RETRYCANCEL);
static_assert(kMbIconError == MB_ICONERROR && kMbIconInformation == MB_ICONINFORMATION);
static_assert(kIdOk == IDOK && kIdCancel == IDCANCEL && kIdRetry == IDRETRY);
static_assert(kStartErrorModeFlags == (SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX));

constexpr DWORD kRegistryValueBytes = 256;

std::optional<std::string> QueryRegistryText(HKEY key, const char* name) {
  BYTE buffer[kRegistryValueBytes] = {};
  DWORD size = sizeof buffer;
  if (RegQueryValueExA(key, name, nullptr, nullptr, buffer, &size) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  return std::string(reinterpret_cast<const char*>(buffer),
                     size < sizeof buffer ? size : sizeof buffer);
}

}  // namespace

struct WindowsSystem::State {
  MessageCatalog catalog{GetModuleHandleA(nullptr)};
  HWND foundConsole = nullptr;
  HWND hiddenConsole = nullptr;
};

WindowsSystem::WindowsSystem() : state_(std::make_unique<State>()) {}
WindowsSystem::~WindowsSystem() = default;

void WindowsSystem::HardenLibrarySearch() {
  // Looked up at run time: systems without the call (Vista without KB2533623) simply keep
  // their default search order.
  using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);
  const FARPROC found =
      GetProcAddress(GetModuleHandleA("kernel32.dll"), "SetDefaultDllDirectories");
  if (found != nullptr) {
    const auto setDefaultDllDirectories =
        reinterpret_cast<SetDefaultDllDirectoriesFunction>(reinterpret_cast<void (*)()>(found));
    setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
  }
  // Runs on every system, not only where the call above is missing: it takes the current
  // directory out of the launcher's own search order. Windows hands this setting on to the
  // processes the launcher starts: Setup.exe and msiexec search without the current directory
  // too.
  SetDllDirectoryA("");
}

std::size_t WindowsSystem::QueryModulePath(std::string& path) {
  char buffer[kMaxPath] = {};
  const DWORD length = GetModuleFileNameA(nullptr, buffer, kMaxPath);
  path.assign(buffer, length < kMaxPath ? length : kMaxPath - 1);
  return length;
}

bool WindowsSystem::ModulePathLosesCharacters() {
  // Asked of the UTF-16 path, which always holds the real name. No best fit: a character shown
  // as a look-alike names another folder just as surely as a question mark does. A UTF-8 ANSI
  // code page holds every character (and refuses the default-character question).
  if (GetACP() == CP_UTF8) return false;
  wchar_t path[kMaxPath] = {};
  const DWORD length = GetModuleFileNameW(nullptr, path, kMaxPath);
  if (length == 0) return false;
  BOOL usedDefault = FALSE;
  const int converted =
      WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, path, static_cast<int>(length), nullptr, 0,
                          nullptr, &usedDefault);
  return converted != 0 && usedDefault != FALSE;
}

unsigned WindowsSystem::SetProcessErrorMode(unsigned mode) { return ::SetErrorMode(mode); }

void WindowsSystem::SetApplicationTitle(const std::string& modulePath) {
  state_->catalog.SetApplicationTitle(modulePath);
}

void WindowsSystem::WriteStandardOutput(std::string_view bytes) {
  // Through the C runtime, flushed at the normal exit, but in binary mode: the text goes out
  // as its own bytes, without a code page conversion and without a CR before its line feed.
  std::fflush(stdout);
  _setmode(_fileno(stdout), _O_BINARY);
  std::fwrite(bytes.data(), 1, bytes.size(), stdout);
}

ConsoleWindowState WindowsSystem::ProbeConsoleWindow() {
  ConsoleWindowState state;
  // Counted before hiding: a console the launcher did not get to itself is someone's shell.
  DWORD processes[2];
  state.shared = GetConsoleProcessList(processes, 2) > 1;
  HWND window = FindConsoleWindow();
  state.found = window != nullptr;
  // On a classic console host the titled window is the console's own. Under a pseudo console
  // the console's own window is a hidden stand-in that never carries the title: the window
  // found is the terminal's.
  state.own = state.found && window == GetConsoleWindow();
  state.wasVisible = state.found && IsWindowVisible(window) != FALSE;
  state_->foundConsole = window;
  return state;
}

void WindowsSystem::HideConsoleWindow() {
  // The window belongs to the console host, another process: a synchronous ShowWindow waits
  // for that process to answer (2 s under Wine, measured), the asynchronous form hands it the
  // same request and goes on.
  ShowWindowAsync(state_->foundConsole, SW_HIDE);
  state_->hiddenConsole = state_->foundConsole;
}

void WindowsSystem::ShowConsoleWindowAgain() {
  if (state_->hiddenConsole != nullptr) ShowWindowAsync(state_->hiddenConsole, SW_SHOW);
}

LeadByteTable WindowsSystem::AnsiLeadBytes() {
  LeadByteTable table;
  for (unsigned byte = 0; byte < 256; ++byte) {
    table[byte] = IsDBCSLeadByte(static_cast<BYTE>(byte)) != FALSE;
  }
  return table;
}

std::optional<std::string> WindowsSystem::ReadFileStart(const std::string& path,
                                                        std::size_t maxBytes) {
  // Shared for reading and writing, as the C runtime opens files: only an exclusive holder
  // keeps the launcher out.
  const UniqueHandle file(CreateFileA(path.c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) return std::nullopt;
  std::string bytes(maxBytes, '\0');
  std::size_t filled = 0;
  while (filled < maxBytes) {
    DWORD got = 0;
    if (!ReadFile(file.get(), bytes.data() + filled, static_cast<DWORD>(maxBytes - filled), &got,
                  nullptr)) {
      filled = 0;  // A read error counts as nothing read.
      break;
    }
    if (got == 0) break;
    filled += got;
  }
  bytes.resize(filled);
  return bytes;
}

bool WindowsSystem::FileExists(const std::string& path) {
  return PathFileExistsA(path.c_str()) == TRUE;
}

bool WindowsSystem::CanOpenForWriting(const std::string& path) {
  // OPEN_EXISTING: the test must never create the file, and nothing is written or truncated.
  const UniqueHandle file(CreateFileA(path.c_str(), GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
  return file.valid();
}

UninstallValues WindowsSystem::ReadUninstallValues(const std::string& keyPath) {
  UninstallValues values;
  UniqueRegistryKey key;
  // No view flag: the 32-bit launcher reads the 32-bit view on 64-bit Windows.
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, KEY_READ, key.receive()) !=
          ERROR_SUCCESS ||
      key.get() == nullptr) {
    return values;
  }
  values.keyOpened = true;
  values.displayVersion = QueryRegistryText(key.get(), "DisplayVersion");
  values.installLocation = QueryRegistryText(key.get(), "InstallLocation");
  return values;
}

std::optional<std::string> WindowsSystem::SystemDirectory() {
  char buffer[kMaxPath] = {};
  const UINT length = GetSystemDirectoryA(buffer, kMaxPath);
  // A result of the buffer's size or more means it did not fit and nothing usable came back.
  if (length == 0 || length >= kMaxPath) return std::nullopt;
  return std::string(buffer, length);
}

std::optional<ProcessEnd> WindowsSystem::RunAndWait(const std::string& commandLine) {
  return platform::RunAndWait(commandLine);
}

std::string WindowsSystem::LoadMessageText(unsigned id) {
  return state_->catalog.LoadMessageText(id);
}

int WindowsSystem::ShowBox(const std::string& text, unsigned style) {
  return state_->catalog.ShowBox(text, style);
}

void WindowsSystem::Trace(std::string_view line) {
  // Prefixed with the caption of the boxes, so that one viewer filter finds a run's lines; the
  // program's usual name stands in before the title is known (the start failure).
  const std::string& title = state_->catalog.applicationTitle();
  std::string text = title.empty() ? std::string("Launch") : title;
  text += ": ";
  text += line;
  // A debugger prints the text as it comes; a viewer shows one entry per call either way.
  text += '\n';
  OutputDebugStringA(text.c_str());
}

}  // namespace tessaro::platform
