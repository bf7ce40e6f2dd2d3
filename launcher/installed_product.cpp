#include "launcher/installed_product.h"

#include "launcher/trace.h"
#include "launcher/traced_actions.h"
#include "launcher/version.h"
#include "resources/resource_ids.h"

namespace tessaro {

std::string TextOfRegistryValue(std::string_view bytes) {
  return std::string(bytes.substr(0, bytes.find('\0')));
}

std::string FormatMessageArgument(std::string_view format, std::string_view argument) {
  std::string text;
  for (std::size_t i = 0; i < format.size(); ++i) {
    if (format[i] == '%' && i + 1 < format.size() && format[i + 1] == 's') {
      text += argument;
      ++i;
    } else if (format[i] == '%' && i + 1 < format.size() && format[i + 1] == '%') {
      text += '%';
      ++i;
    } else {
      text += format[i];
    }
  }
  return text;
}

std::string BuildUninstallCommandLine(std::string_view systemDirectory,
                                      std::string_view productCode) {
  // Quoted, so that a system directory with a space can never start another program.
  std::string commandLine = "\"";
  commandLine += systemDirectory;
  commandLine += "\\msiexec.exe\" /x ";
  commandLine += productCode;
  commandLine += " /qb! ID_STATE=Remove";
  return commandLine;
}

namespace {

void TraceInstalledProduct(SystemInterface& system, const UninstallValues& values,
                           const ProductInfo& info, const std::string& installLocation,
                           bool proceed) {
  TraceLine(system,
            {"uninstall key found: DisplayVersion ",
             values.displayVersion ? Quoted(info.installedVersion) : "not read",
             ", InstallLocation ", values.installLocation ? Quoted(installLocation) : "not read"});
  if (!values.displayVersion) {
    TraceLine(system, {"no DisplayVersion: nothing asked"});
    return;
  }
  TraceLine(system, {Either(proceed, "versions equal: package ", "versions differ: package "),
                     Quoted(info.packageVersion), ", installed ", Quoted(info.installedVersion),
                     Either(proceed, ": nothing asked", ": asking to uninstall")});
}

ExitReason ReasonOf(PackageInfoFailure failure) {
  if (failure == PackageInfoFailure::kNoLauncherFolder) {
    return {"launcher folder not found for TS_INF"};
  }
  if (failure == PackageInfoFailure::kCannotOpen) {
    return {"TS_INF cannot be opened, ", MessageName(IDS_INFO_OPEN_FAILED), " shown"};
  }
  return {"TS_INF empty"};
}

}  // namespace

bool CheckInstalledProduct(SystemInterface& system, ExitReason& stopReason) {
  PackageInfoFailure failure = PackageInfoFailure::kEmpty;
  std::optional<ProductInfo> read = ReadPackageInfo(system, failure);
  if (!read) {
    stopReason = ReasonOf(failure);
    return false;
  }
  ProductInfo& info = *read;
  std::string installLocation;
  bool proceed = true;

  const std::string keyPath = std::string(kUninstallKeyPrefix) + info.productCode;
  const UninstallValues values = system.ReadUninstallValues(keyPath);
  if (values.keyOpened) {
    if (values.displayVersion) {
      info.installedVersion = TextOfRegistryValue(*values.displayVersion);
      if (VersionsDiffer(info.packageVersion, info.installedVersion)) proceed = false;
    }
    if (values.installLocation) installLocation = TextOfRegistryValue(*values.installLocation);
    TraceInstalledProduct(system, values, info, installLocation, proceed);
  } else {
    TraceLine(system, {"uninstall key ", Quoted(keyPath), " not found: nothing installed"});
  }
  if (proceed) return true;

  if (!ConfirmUninstall(system, info, stopReason)) return false;
  if (installLocation.empty()) {
    TraceLine(system, {"InstallLocation empty: no lock test"});
  } else if (IsProductInUse(system, installLocation, stopReason)) {
    return false;
  }
  if (!UninstallProduct(system, info)) {
    stopReason = {"Windows Installer could not be started"};
    return false;
  }
  return true;
}

bool ConfirmUninstall(SystemInterface& system, const ProductInfo& info, ExitReason& declined) {
  const std::string text =
      FormatMessageArgument(system.LoadMessageText(IDS_ALREADY_INSTALLED), info.installedVersion);
  const int answer =
      ShowMessageBox(system, IDS_ALREADY_INSTALLED, text, kMbOkCancel | kMbIconInformation);
  if (answer == kIdOk) return true;
  declined = {AnswerText(answer), " in ", MessageName(IDS_ALREADY_INSTALLED)};
  return false;
}

bool IsProductInUse(SystemInterface& system, const std::string& installLocation,
                    ExitReason& stopped) {
  // No separator is inserted: a location without its closing backslash names a file beside
  // the folder, which normally does not exist, and then there is nothing to test.
  const std::string executable = installLocation + kProductExecutable;
  // Retries are not counted: the user leaves by ending Tessaro and choosing Retry, or by Cancel.
  for (;;) {
    if (!system.FileExists(executable)) {
      TraceLine(system, {"lock test: ", Quoted(executable), " not found: not in use"});
      return false;
    }
    if (system.CanOpenForWriting(executable)) {
      TraceLine(system, {"lock test: ", Quoted(executable), " opens for writing: not in use"});
      return false;
    }
    TraceLine(system, {"lock test: ", Quoted(executable), " does not open for writing: in use"});
    const int answer = ShowMessageBox(system, IDS_PRODUCT_IN_USE, kMbRetryCancel | kMbIconError);
    if (answer != kIdRetry) {
      stopped = {AnswerText(answer), " in ", MessageName(IDS_PRODUCT_IN_USE)};
      return true;
    }
  }
}

bool UninstallProduct(SystemInterface& system, const ProductInfo& info) {
  if (info.packageVersion.empty()) {
    TraceLine(system, {"package version empty: nothing removed"});
    return true;
  }
  const std::optional<std::string> systemDirectory = system.SystemDirectory();
  if (!systemDirectory) {
    TraceLine(system, {"system folder not found: nothing removed"});
    return true;
  }
  return RunAndWaitTraced(system, BuildUninstallCommandLine(*systemDirectory, info.productCode));
}

}  // namespace tessaro
