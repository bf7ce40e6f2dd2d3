// Finds, reads and answers message boxes of another process, as a user would see them.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace tessaro::e2e {

std::string ToUtf8(const std::wstring& text);

enum class BoxIcon { kNone, kError, kInformation, kOther };

struct Box {
  HWND window = nullptr;
  DWORD processId = 0;
  std::string caption;  // UTF-8
  std::string text;     // UTF-8
  BoxIcon icon = BoxIcon::kNone;
  std::vector<int> buttons;  // control ids, sorted
};

// Finds a visible dialog box of the process (any process when processId is 0); empty when
// none appeared in time.
std::optional<Box> WaitForBox(DWORD processId, DWORD timeoutMs);
void PressButton(const Box& box, int buttonId);
void CloseBox(const Box& box);
// Saves what the screen shows of the box as a 24-bit BMP file.
bool SaveScreenshot(const Box& box, const std::string& bmpPath);

}  // namespace tessaro::e2e
