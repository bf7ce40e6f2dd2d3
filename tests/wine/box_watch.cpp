// Reads and answers the boxes of another process as a user sees them.
#include <algorithm>
#include <cstring>
#include <utility>

#include "instrument.h"

namespace tessaro::e2e {
namespace {

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

}  // namespace

std::optional<Box> WaitForBox(DWORD processId, DWORD timeoutMs) {
  HWND found = nullptr;
  const auto search = [&] {
    while ((found = FindWindowExA(nullptr, found, "#32770", nullptr)) != nullptr) {
      DWORD owner = 0;
      GetWindowThreadProcessId(found, &owner);
      const bool wanted = processId == 0 ? owner != GetCurrentProcessId() : owner == processId;
      if (wanted && IsWindowVisible(found)) return true;
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
