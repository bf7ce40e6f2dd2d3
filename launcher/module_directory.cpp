#include "launcher/module_directory.h"

namespace tessaro {
namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

}  // namespace

std::string ModuleDirectoryFromPath(std::string_view path, const LeadByteTable& leadBytes) {
  const std::size_t driveLength = path.size() >= 2 && path[1] == ':' ? 2 : 0;
  std::size_t directoryEnd = driveLength;
  for (std::size_t i = driveLength; i < path.size();) {
    if (leadBytes[static_cast<unsigned char>(path[i])] && i + 1 < path.size()) {
      i += 2;
      continue;
    }
    if (IsSeparator(path[i])) directoryEnd = i + 1;
    ++i;
  }
  return std::string(path.substr(0, directoryEnd));
}

std::optional<std::string> GetModuleDirectory(SystemInterface& system) {
  std::string path;
  if (system.QueryModulePath(path) == 0) return std::nullopt;
  return ModuleDirectoryFromPath(path, system.AnsiLeadBytes());
}

}  // namespace tessaro
