#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "launcher/system_interface.h"

namespace tessaro {

struct ProductInfo {
  std::string productCode;
  std::string packageVersion;
  std::string installedVersion;
};

inline constexpr char kPackageInfoFileName[] = "TS_INF";
// The first line is read through a 260-byte buffer: 259 bytes of text and a terminating NUL.
inline constexpr std::size_t kMaxLineBytes = 259;

// The first line as the C runtime's text mode delivers it to a 260-byte fgets: CR LF becomes
// LF, Ctrl-Z ends the file, the line ends after its LF or after 259 bytes. Empty optional when
// not a single byte could be read.
std::optional<std::string> FirstLineInTextMode(std::string_view rawBytes);

// Cuts a first line into the product code (before the first comma, double-byte aware) and the
// package version (after byte 39, trimmed on the right).
void CutPackageLine(std::string_view line, const LeadByteTable& leadBytes, std::string& productCode,
                    std::string& packageVersion);

// Why TS_INF gave nothing; the check that stops the run then names it in the trace's exit line.
enum class PackageInfoFailure : unsigned char { kNoLauncherFolder, kCannotOpen, kEmpty };

// Reads TS_INF beside the launcher. Shows message 106 when the file cannot be opened. Empty
// optional on failure, and `failure` then says why.
std::optional<ProductInfo> ReadPackageInfo(SystemInterface& system, PackageInfoFailure& failure);

}  // namespace tessaro
