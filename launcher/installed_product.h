#pragma once

#include <string>
#include <string_view>

#include "launcher/package_info.h"
#include "launcher/system_interface.h"
#include "launcher/trace.h"

namespace tessaro {

inline constexpr char kUninstallKeyPrefix[] =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
inline constexpr char kProductExecutable[] = "Tessaro.exe";

// A registry value taken as text: it ends at its first NUL or at the end of the bytes returned,
// whatever the value's type.
std::string TextOfRegistryValue(std::string_view bytes);

// A printf-style message with one "%s": each "%s" becomes `argument` and "%%" a single "%".
// The argument is never read as a format, so a version holding "%" is shown as it is.
std::string FormatMessageArgument(std::string_view format, std::string_view argument);

// "<system dir>\msiexec.exe" /x <productCode> /qb! ID_STATE=Remove
std::string BuildUninstallCommandLine(std::string_view systemDirectory,
                                      std::string_view productCode);

// Why the run ended, for the trace's exit line: up to three pieces, e.g. an answer, " in " and
// the message it was given in. A reason outlives the call that gives it, so it holds the
// launcher's own words only (literals, numbers, message names), never an escaped value.
struct ExitReason {
  TracePart first = "";
  TracePart second = "";
  TracePart third = "";
};

// Returns true to go on with the installer, false to stop the launcher; `stopReason` then says
// why, for the trace's exit line.
bool CheckInstalledProduct(SystemInterface& system, ExitReason& stopReason);
// False when the answer was not OK; `declined` then names it, for the trace's exit line.
bool ConfirmUninstall(SystemInterface& system, const ProductInfo& info, ExitReason& declined);
// True when the user gave up on a product in use; `stopped` then names the answer that ended the
// Retry loop, for the exit line.
bool IsProductInUse(SystemInterface& system, const std::string& installLocation,
                    ExitReason& stopped);
bool UninstallProduct(SystemInterface& system, const ProductInfo& info);

}  // namespace tessaro
