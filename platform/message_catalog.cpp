#include "platform/message_catalog.h"

#include <shlwapi.h>

#include <cstdlib>
#include <vector>

#include "platform/string_block.h"

namespace tessaro::platform {

void MessageCatalog::SetApplicationTitle(const std::string& modulePath) {
  std::vector<char> path(modulePath.begin(), modulePath.end());
  path.push_back('\0');
  *PathFindExtensionA(path.data()) = '\0';
  title_ = PathFindFileNameA(path.data());
}

UINT MessageCatalog::ConversionCodePage() {
  if (!codePage_) {
    OSVERSIONINFOA version = {};
    version.dwOSVersionInfoSize = sizeof version;
    if (GetVersionExA(&version) && version.dwPlatformId == VER_PLATFORM_WIN32_NT &&
        version.dwMajorVersion >= 5) {
      codePage_ = CP_THREAD_ACP;
    } else {
      char number[7] = {};
      UINT fromLocale = 0;
      if (GetLocaleInfoA(GetThreadLocale(), LOCALE_IDEFAULTANSICODEPAGE, number, sizeof number)) {
        fromLocale = static_cast<UINT>(std::strtoul(number, nullptr, 10));
      }
      codePage_ = fromLocale != 0 ? fromLocale : GetACP();
    }
  }
  return *codePage_;
}

std::string MessageCatalog::LoadMessageText(unsigned id) {
  HRSRC resource = FindResourceA(module_, MAKEINTRESOURCEA(id / 16 + 1), RT_STRING);
  if (resource == nullptr) return {};
  HGLOBAL loaded = LoadResource(module_, resource);
  const void* block = loaded != nullptr ? LockResource(loaded) : nullptr;
  if (block == nullptr) return {};
  const std::u16string entry = StringBlockEntry(static_cast<const unsigned char*>(block),
                                                SizeofResource(module_, resource), id % 16);
  if (entry.empty()) return {};

  const UINT codePage = ConversionCodePage();
  const auto* wide = reinterpret_cast<const wchar_t*>(entry.data());
  const int wideLength = static_cast<int>(entry.size());
  const int length =
      WideCharToMultiByte(codePage, 0, wide, wideLength, nullptr, 0, nullptr, nullptr);
  if (length <= 0) return {};
  std::string text(static_cast<std::size_t>(length), '\0');
  WideCharToMultiByte(codePage, 0, wide, wideLength, text.data(), length, nullptr, nullptr);
  return text;
}

int MessageCatalog::ShowBox(const std::string& text, unsigned style) const {
  // No owner: the launcher has no window of its own and its console window is hidden.
  return MessageBoxA(nullptr, text.c_str(), title_.c_str(), style);
}

}  // namespace tessaro::platform
