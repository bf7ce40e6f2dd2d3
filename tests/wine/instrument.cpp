#include <algorithm>
#include <cstring>
#include <utility>

#include "instrument.h"

namespace tessaro::e2e {
namespace {

unsigned long long Ticks(const FILETIME& time) {
  return (static_cast<unsigned long long>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

void CloseFileSearch(HANDLE search) { FindClose(search); }
using UniqueFileSearch = platform::UniqueOwner<HANDLE, CloseFileSearch>;

std::string WindowTextUtf8(HWND window) {
  wchar_t text[4096] = {};
  const int length = GetWindowTextW(window, text, 4096);
  std::string utf8(3 * 4096, '\0');
  utf8.resize(static_cast<std::size_t>(WideCharToMultiByte(
      CP_UTF8, 0, text, length, utf8.data(), static_cast<int>(utf8.size()), nullptr, nullptr)));
  return utf8;
}

void ReleaseScreenContext(HDC context) { ReleaseDC(nullptr, context); }
void DeleteDeviceContext(HDC context) { DeleteDC(context); }
void DeleteBitmap(HBITMAP bitmap) { DeleteObject(bitmap); }
using UniqueScreenContext = platform::UniqueOwner<HDC, ReleaseScreenContext>;
using UniqueDeviceContext = platform::UniqueOwner<HDC, DeleteDeviceContext>;
using UniqueBitmap = platform::UniqueOwner<HBITMAP, DeleteBitmap>;

// A 24-bit BMP row: three bytes a pixel, padded to 4 bytes.
LONG RowBytes(LONG width) { return (width * 3 + 3) & ~3; }
constexpr DWORD kPixelsOffset = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER);

// The screen under a window as a 24-bit BMP file (bottom row first); empty when the window has
// no area to capture. The icon is read from it as the screenshot is saved.
std::string CaptureWindow(HWND window) {
  RECT rect;
  if (!GetWindowRect(window, &rect) || rect.right <= rect.left || rect.bottom <= rect.top) {
    return "";
  }
  const LONG width = rect.right - rect.left, height = rect.bottom - rect.top;
  const DWORD pixelBytes = static_cast<DWORD>(RowBytes(width) * height);
  BITMAPINFO info = {
      {sizeof(BITMAPINFOHEADER), width, height, 1, 24, BI_RGB, pixelBytes, 0, 0, 0, 0}, {}};
  const UniqueScreenContext screen(GetDC(nullptr));
  const UniqueDeviceContext memory(CreateCompatibleDC(screen.get()));
  void* bits = nullptr;
  const UniqueBitmap bitmap(
      CreateDIBSection(memory.get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
  if (!bitmap.valid()) return "";
  // Selected out again before the owners free the bitmap and the context.
  HGDIOBJ previous = SelectObject(memory.get(), bitmap.get());
  BitBlt(memory.get(), 0, 0, width, height, screen.get(), rect.left, rect.top, SRCCOPY);
  GdiFlush();
  const BITMAPFILEHEADER file = {0x4d42 /* "BM" */, kPixelsOffset + pixelBytes, 0, 0,
                                 kPixelsOffset};
  std::string bmp(reinterpret_cast<const char*>(&file), sizeof file);
  bmp.append(reinterpret_cast<const char*>(&info.bmiHeader), sizeof info.bmiHeader);
  bmp.append(static_cast<const char*>(bits), pixelBytes);
  SelectObject(memory.get(), previous);
  return bmp;
}

// Wine gives a box's icon no identity another process can compare, so it is told by colour:
// the error icon is red, the information icon blue.
BoxIcon ClassifyIcon(HWND iconControl) {
  const std::string bmp = CaptureWindow(iconControl);
  if (bmp.empty()) return BoxIcon::kNone;
  BITMAPINFOHEADER header;  // behind the 14-byte file header, so not aligned for reading in place
  std::memcpy(&header, bmp.data() + sizeof(BITMAPFILEHEADER), sizeof header);
  const LONG width = header.biWidth, height = header.biHeight;
  int red = 0, blue = 0;
  for (LONG y = 0; y < height; ++y) {
    for (LONG x = 0; x < width; ++x) {
      const auto* pixel = reinterpret_cast<const unsigned char*>(bmp.data()) + kPixelsOffset +
                          y * RowBytes(width) + 3 * x;
      const int b = pixel[0], g = pixel[1], r = pixel[2];
      if (r > 150 && g < 110 && b < 110) ++red;
      if (b > 150 && r < 110) ++blue;
    }
  }
  const LONG enough = width * height / 20;
  if (red > enough && red > blue) return BoxIcon::kError;
  if (blue > enough) return BoxIcon::kInformation;
  return BoxIcon::kOther;
}

BOOL CALLBACK AddWindow(HWND window, LPARAM list) {
  reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
  return TRUE;
}

}  // namespace

void RemoveTree(const std::string& path) {
  WIN32_FIND_DATAA entry;
  UniqueFileSearch search(FindFirstFileA((path + "\\*").c_str(), &entry));
  for (bool more = search.valid(); more; more = FindNextFileA(search.get(), &entry)) {
    const std::string name = entry.cFileName;
    const std::string child = path + "\\" + name;
    if (name == "." || name == "..") continue;
    SetFileAttributesA(child.c_str(), FILE_ATTRIBUTE_NORMAL);
    (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? RemoveTree(child)
                                                        : (void)DeleteFileA(child.c_str());
  }
  search.reset();  // an open search would keep the folder
  RemoveDirectoryA(path.c_str());
}

std::string FileStamp(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data = {};
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return "missing";
  const unsigned long long size =
      (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  return "size " + std::to_string(size) + " written " + std::to_string(Ticks(data.ftLastWriteTime));
}

unsigned long long Now100ns() {
  FILETIME now;
  GetSystemTimePreciseAsFileTime(&now);
  return Ticks(now);
}

Record ReadRecord(const std::string& path) {
  Record record;
  std::ifstream file(path, std::ios::binary);
  std::string line;
  while (std::getline(file, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::size_t equals = line.find('=');
    if (equals != std::string::npos) record[line.substr(0, equals)] = line.substr(equals + 1);
  }
  return record;
}

ChildProcess::ChildProcess(const std::string& commandLine, const StartOptions& options) {
  STARTUPINFOEXA extended = {};
  STARTUPINFOA& startup = extended.StartupInfo;
  startup.cb = sizeof startup;
  startup.lpTitle = const_cast<char*>(options.consoleTitle);
  DWORD creationFlags = options.creationFlags;
  std::vector<char> attributeBytes;
  if (options.pseudoConsole != nullptr) {
    // PROC_THREAD_ATTRIBUTE_PSEUDOCONSOLE, which the headers hide below Windows 10 1809.
    constexpr DWORD_PTR kPseudoConsoleAttribute = 0x00020016;
    SIZE_T size = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    attributeBytes.resize(size);
    extended.lpAttributeList =
        reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attributeBytes.data());
    InitializeProcThreadAttributeList(extended.lpAttributeList, 1, 0, &size);
    UpdateProcThreadAttribute(extended.lpAttributeList, 0, kPseudoConsoleAttribute,
                              options.pseudoConsole, sizeof options.pseudoConsole, nullptr,
                              nullptr);
    startup.cb = sizeof extended;
    creationFlags |= EXTENDED_STARTUPINFO_PRESENT;
  }
  // Only the child may hold the pipe's write end, or reading would never see its end.
  platform::UniqueHandle writeEnd;
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  if (options.captureOutput && CreatePipe(output_.receive(), writeEnd.receive(), &inherit, 0)) {
    SetHandleInformation(output_.get(), HANDLE_FLAG_INHERIT, 0);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = startup.hStdError = writeEnd.get();
  }
  PROCESS_INFORMATION info = {};
  std::string line = commandLine;  // CreateProcessA may write into it
  const char* folder = options.folder.empty() ? nullptr : options.folder.c_str();
  const BOOL created = CreateProcessA(nullptr, line.data(), nullptr, nullptr, options.captureOutput,
                                      creationFlags, nullptr, folder, &startup, &info);
  if (!created) startError_ = GetLastError();
  if (extended.lpAttributeList != nullptr) DeleteProcThreadAttributeList(extended.lpAttributeList);
  if (!created) return;
  process_ = platform::UniqueHandle(info.hProcess);
  CloseHandle(info.hThread);
  processId_ = info.dwProcessId;
  threadId_ = info.dwThreadId;
}

long ChildProcess::Wait(DWORD timeoutMs, const std::function<void()>& whileRunning) const {
  const auto ended = [&] {
    if (!StillRunningAfter(100)) return true;
    if (whileRunning) whileRunning();
    return false;
  };
  DWORD code = 0;
  if (!started() || !WaitUntil(ended, timeoutMs, 0)) return -1;
  return GetExitCodeProcess(process_.get(), &code) ? static_cast<long>(code) : -1;
}

ChildProcess::Times ChildProcess::times() const {
  FILETIME created = {}, exited = {}, kernel = {}, user = {};
  GetProcessTimes(process_.get(), &created, &exited, &kernel, &user);
  return {Ticks(exited), Ticks(kernel) + Ticks(user)};
}

std::string ChildProcess::ReadOutput() const {
  std::string output;
  char buffer[256];
  DWORD got = 0;
  while (output_.valid() && ReadFile(output_.get(), buffer, sizeof buffer, &got, nullptr) && got)
    output.append(buffer, got);
  return output;
}

std::vector<HWND> TopLevelWindows() {
  std::vector<HWND> windows;
  EnumWindows(AddWindow, reinterpret_cast<LPARAM>(&windows));
  return windows;
}

std::optional<Box> WaitForBox(DWORD processId, DWORD timeoutMs) {
  HWND found = nullptr;
  const auto search = [&] {
    for (HWND window : TopLevelWindows()) {
      char className[8] = {};
      DWORD owner = 0;
      GetClassNameA(window, className, sizeof className);
      GetWindowThreadProcessId(window, &owner);
      const bool wanted = processId == 0 ? owner != GetCurrentProcessId() : owner == processId;
      if (std::strcmp(className, "#32770") == 0 && wanted && IsWindowVisible(window)) {
        found = window;
        return true;
      }
    }
    return false;
  };
  if (!WaitUntil(search, timeoutMs, 50)) return std::nullopt;
  Sleep(300);  // let the box paint before its icon is looked at
  Box box;
  box.window = found;
  box.caption = WindowTextUtf8(found);
  for (HWND child = GetWindow(found, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    char className[64] = {};
    GetClassNameA(child, className, sizeof className);
    if (!IsWindowVisible(child)) continue;
    const bool isStatic = _stricmp(className, "Static") == 0;
    if (_stricmp(className, "Button") == 0) {
      box.buttons.push_back(GetDlgCtrlID(child));
    } else if (isStatic && (GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
      box.icon = ClassifyIcon(child);
    } else if (std::string text = WindowTextUtf8(child); isStatic && !text.empty()) {
      box.text = text;
    }
  }
  std::sort(box.buttons.begin(), box.buttons.end());
  return box;
}

std::function<void()> AnsweringBoxes(DWORD processId, std::function<void(const Box&)> answer) {
  return [processId, answer = std::move(answer)] {
    if (std::optional<Box> box = WaitForBox(processId, 0)) answer(*box);
  };
}

void PressButton(const Box& box, int buttonId) {
  if (buttonId == IDCLOSE) {
    PostMessageW(box.window, WM_CLOSE, 0, 0);
  } else {
    PostMessageW(box.window, WM_COMMAND, MAKEWPARAM(buttonId, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(box.window, buttonId)));
  }
  WaitUntil([&] { return !IsWindow(box.window) || !IsWindowVisible(box.window); }, 5000);
}

void SaveScreenshot(const Box& box, const std::string& bmpPath) {
  if (const std::string bmp = CaptureWindow(box.window); !bmp.empty()) WriteFileBytes(bmpPath, bmp);
}

}  // namespace tessaro::e2e
