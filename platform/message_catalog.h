#pragma once

#include <windows.h>

#include <optional>
#include <string>

namespace tessaro::platform {

// The string table in the launcher's own executable and the boxes that show it.
class MessageCatalog {
 public:
  explicit MessageCatalog(HMODULE module) : module_(module) {}

  // The caption of every box: the executable's file name without directory and extension.
  void SetApplicationTitle(const std::string& modulePath);
  const std::string& applicationTitle() const { return title_; }

  // The message in the language the system picks, in the thread's ANSI code page; empty when
  // the table has no such message.
  std::string LoadMessageText(unsigned id);
  int ShowBox(const std::string& text, unsigned style) const;

 private:
  UINT ConversionCodePage();

  HMODULE module_;
  std::string title_;
  std::optional<UINT> codePage_;
};

}  // namespace tessaro::platform
