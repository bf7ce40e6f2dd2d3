#include "launcher/version.h"

#include <climits>

namespace tessaro {
namespace {

bool IsCSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

int ReadDecimalField(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && IsCSpace(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  // Accumulate the magnitude in a type wide enough to notice overflow, then clamp once.
  constexpr long long kLimit = static_cast<long long>(INT_MAX) + 1;
  long long magnitude = 0;
  for (; i < text.size() && IsDigit(text[i]); ++i) {
    if (magnitude <= kLimit) magnitude = magnitude * 10 + (text[i] - '0');
  }
  if (negative) return magnitude >= kLimit ? INT_MIN : static_cast<int>(-magnitude);
  return magnitude > INT_MAX ? INT_MAX : static_cast<int>(magnitude);
}

int TakeVersionField(std::string& text) {
  if (text.empty()) return 0;
  const std::size_t dot = text.find('.');
  if (dot == std::string::npos) {
    // A last field yields the first non-zero number readable from it or from any of its tails.
    int value = 0;
    for (std::size_t start = 0; start < text.size(); ++start) {
      value = ReadDecimalField(std::string_view(text).substr(start));
      if (value != 0) break;
    }
    text.clear();
    return value;
  }
  const int value = ReadDecimalField(std::string_view(text).substr(0, dot));
  text.erase(0, dot + 1);
  return value;
}

bool VersionsDiffer(std::string packageVersion, std::string installedVersion) {
  if (installedVersion.empty()) return false;
  do {
    const int installed = TakeVersionField(installedVersion);
    const int package = TakeVersionField(packageVersion);
    if (installed != package) return true;
  } while (!installedVersion.empty());
  return false;
}

}  // namespace tessaro
