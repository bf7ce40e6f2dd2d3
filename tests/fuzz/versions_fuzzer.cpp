// Version comparison on arbitrary text: it must end and call a text equal to itself.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "launcher/version.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  const std::size_t split = input.find('|');
  const std::string package = input.substr(0, split);
  const std::string installed = split == std::string::npos ? "" : input.substr(split + 1);

  tessaro::VersionsDiffer(package, installed);
  if (tessaro::VersionsDiffer(installed, installed)) std::abort();

  std::string text = installed;
  while (!text.empty()) {
    const std::size_t before = text.size();
    tessaro::TakeVersionField(text);
    if (text.size() >= before) std::abort();
  }
  return 0;
}
