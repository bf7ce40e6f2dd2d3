// Finding what lies beside the launcher's own executable: TS_INF and Setup.exe.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "launcher/system_interface.h"

namespace tessaro {

// Drive and directory of a full path, ending in the separator that closed the directory.
// Separators are looked for outside double-byte characters, as the C runtime's path split does.
std::string ModuleDirectoryFromPath(std::string_view path, const LeadByteTable& leadBytes);

// The folder of the launcher's own executable; empty optional when its path cannot be had.
std::optional<std::string> GetModuleDirectory(SystemInterface& system);

}  // namespace tessaro
