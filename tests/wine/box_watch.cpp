#include "box_watch.h"

#include <algorithm>
#include <fstream>

namespace tessaro::e2e {

std::string ToUtf8(const std::wstring& text) {
  if (text.empty()) return {};
  const int length = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<std::size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), utf8.data(), length,
                      nullptr, nullptr);
  return utf8;
}

namespace {

std::string WindowTextUtf8(HWND window) {
  wchar_t text[4096] = {};
  GetWindowTextW(window, text, 4096);
  return ToUtf8(text);
}

// The screen's pixels under a window, top row first, as 32-bit BGRX.
struct Capture {
  int width = 0;
  int height = 0;
  std::vector<unsigned char> pixels;
};

Capture CaptureWindow(HWND window) {
  Capture capture;
  RECT rect;
  if (!GetWindowRect(window, &rect)) return capture;
  capture.width = rect.right - rect.left;
  capture.height = rect.bottom - rect.top;
  if (capture.width <= 0 || capture.height <= 0) return capture;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = capture.width;
  info.bmiHeader.biHeight = -capture.height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (bitmap != nullptr) {
    HGDIOBJ previous = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, capture.width, capture.height, screen, rect.left, rect.top, SRCCOPY);
    GdiFlush();
    const auto* begin = static_cast<const unsigned char*>(bits);
    capture.pixels.assign(begin, begin + 4 * capture.width * capture.height);
    SelectObject(memory, previous);
    DeleteObject(bitmap);
  }
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return capture;
}

// Wine gives a box's icon no identity another process can compare, so it is told by colour:
// the error icon is red, the information icon blue.
BoxIcon ClassifyIcon(HWND iconControl) {
  const Capture capture = CaptureWindow(iconControl);
  if (capture.pixels.empty()) return BoxIcon::kNone;
  int red = 0;
  int blue = 0;
  for (std::size_t i = 0; i + 3 < capture.pixels.size(); i += 4) {
    const int b = capture.pixels[i], g = capture.pixels[i + 1], r = capture.pixels[i + 2];
    if (r > 150 && g < 110 && b < 110) ++red;
    if (b > 150 && r < 110) ++blue;
  }
  const int enough = capture.width * capture.height / 20;
  if (red > enough && red > blue) return BoxIcon::kError;
  if (blue > enough) return BoxIcon::kInformation;
  return BoxIcon::kOther;
}

struct SearchState {
  DWORD processId;
  HWND found;
};

BOOL CALLBACK FindDialogOfProcess(HWND window, LPARAM parameter) {
  auto* state = reinterpret_cast<SearchState*>(parameter);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  char className[64] = {};
  GetClassNameA(window, className, sizeof className);
  const bool wanted =
      state->processId == 0 ? owner != GetCurrentProcessId() : owner == state->processId;
  if (wanted && IsWindowVisible(window) && std::string(className) == "#32770") {
    state->found = window;
    return FALSE;
  }
  return TRUE;
}

BOOL CALLBACK ReadChild(HWND child, LPARAM parameter) {
  auto* box = reinterpret_cast<Box*>(parameter);
  char className[64] = {};
  GetClassNameA(child, className, sizeof className);
  if (!IsWindowVisible(child)) return TRUE;
  if (_stricmp(className, "Button") == 0) {
    box->buttons.push_back(GetDlgCtrlID(child));
  } else if (_stricmp(className, "Static") == 0) {
    if ((GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
      box->icon = ClassifyIcon(child);
    } else if (std::string text = WindowTextUtf8(child); !text.empty()) {
      box->text = text;
    }
  }
  return TRUE;
}

void WaitUntilGone(HWND window) {
  for (int i = 0; i < 200 && IsWindow(window) && IsWindowVisible(window); ++i) Sleep(25);
}

}  // namespace

std::optional<Box> WaitForBox(DWORD processId, DWORD timeoutMs) {
  const ULONGLONG deadline = GetTickCount64() + timeoutMs;
  do {
    SearchState state{processId, nullptr};
    EnumWindows(FindDialogOfProcess, reinterpret_cast<LPARAM>(&state));
    if (state.found != nullptr) {
      Sleep(300);  // let the box paint before its icon is looked at
      Box box;
      box.window = state.found;
      GetWindowThreadProcessId(state.found, &box.processId);
      box.caption = WindowTextUtf8(state.found);
      EnumChildWindows(state.found, ReadChild, reinterpret_cast<LPARAM>(&box));
      std::sort(box.buttons.begin(), box.buttons.end());
      return box;
    }
    Sleep(50);
  } while (GetTickCount64() < deadline);
  return std::nullopt;
}

void PressButton(const Box& box, int buttonId) {
  PostMessageW(box.window, WM_COMMAND, MAKEWPARAM(buttonId, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(box.window, buttonId)));
  // Gone before returning, so that the next search cannot find this box again.
  WaitUntilGone(box.window);
}

void CloseBox(const Box& box) {
  PostMessageW(box.window, WM_CLOSE, 0, 0);
  WaitUntilGone(box.window);
}

bool SaveScreenshot(const Box& box, const std::string& bmpPath) {
  const Capture capture = CaptureWindow(box.window);
  if (capture.pixels.empty()) return false;
  const DWORD rowBytes = static_cast<DWORD>((capture.width * 3 + 3) & ~3);
  const DWORD imageBytes = rowBytes * static_cast<DWORD>(capture.height);
  BITMAPFILEHEADER file = {};
  BITMAPINFOHEADER info = {};
  file.bfType = 0x4d42;  // "BM"
  file.bfOffBits = sizeof file + sizeof info;
  file.bfSize = file.bfOffBits + imageBytes;
  info.biSize = sizeof info;
  info.biWidth = capture.width;
  info.biHeight = capture.height;  // bottom-up rows
  info.biPlanes = 1;
  info.biBitCount = 24;
  info.biSizeImage = imageBytes;
  std::ofstream out(bmpPath, std::ios::binary);
  out.write(reinterpret_cast<const char*>(&file), sizeof file);
  out.write(reinterpret_cast<const char*>(&info), sizeof info);
  std::vector<char> row(rowBytes, 0);
  for (int y = capture.height - 1; y >= 0; --y) {
    for (int x = 0; x < capture.width; ++x) {
      const std::size_t at = 4 * static_cast<std::size_t>(y * capture.width + x);
      for (int channel = 0; channel < 3; ++channel) {
        row[static_cast<std::size_t>(3 * x + channel)] =
            static_cast<char>(capture.pixels[at + static_cast<std::size_t>(channel)]);
      }
    }
    out.write(row.data(), static_cast<std::streamsize>(row.size()));
  }
  return static_cast<bool>(out);
}

}  // namespace tessaro::e2e
