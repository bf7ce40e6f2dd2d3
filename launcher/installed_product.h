#pragma once

#include <string>
#include <string_view>

#include "launcher/package_info.h"
#include "launcher/system_interface.h"

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

// Returns true to go on with the installer, false to stop the launcher. `stopReason`, when
// given, receives why it stopped, for the trace's exit line.
bool CheckInstalledProduct(SystemInterface& system, std::string* stopReason = nullptr);
// `declined`, when given, receives the answer that was not OK, for the trace's exit line.
bool ConfirmUninstall(SystemInterface& system, const ProductInfo& info,
                      std::string* declined = nullptr);
// `stopped`, when given, receives the answer that ended the Retry loop, for the exit line.
bool IsProductInUse(SystemInterface& system, const std::string& installLocation,
                    std::string* stopped = nullptr);
bool UninstallProduct(SystemInterface& system, const ProductInfo& info);

}  // namespace tessaro
