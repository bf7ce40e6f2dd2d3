#include "launcher/package_info.h"

#include "launcher/module_directory.h"
#include "launcher/trace.h"
#include "launcher/traced_actions.h"
#include "resources/resource_ids.h"

namespace tessaro {
namespace {

constexpr char kCtrlZ = '\x1a';
// Enough raw bytes for any 259-byte text line: only a CR LF pair shrinks, and it ends the line.
constexpr std::size_t kRawReadBytes = 2 * kMaxLineBytes;

bool IsHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

bool IsBracedGuid(std::string_view code) {
  constexpr std::string_view kShape = "{########-####-####-####-############}";
  if (code.size() != kShape.size()) return false;
  for (std::size_t i = 0; i < code.size(); ++i) {
    if (kShape[i] == '#' ? !IsHexDigit(code[i]) : code[i] != kShape[i]) return false;
  }
  return true;
}

// Digit runs joined by single dots: what every field of a version compares as it reads.
bool IsDottedNumber(std::string_view version) {
  bool fieldHasDigits = false;
  for (const char c : version) {
    if (c == '.' && !fieldHasDigits) return false;
    if (c != '.' && (c < '0' || c > '9')) return false;
    fieldHasDigits = c != '.';
  }
  return fieldHasDigits;
}

// One more line when the first line is not a braced product code, a comma and a version: the
// fields alone do not show why a code names no uninstall key (blanks after it, a file saved as
// UTF-16) or why a version compares as it does. Only the first fault found is named.
void TraceMalformedLine(SystemInterface& system, std::string_view line, const ProductInfo& info) {
  const auto say = [&system](TracePart fault) { TraceLine(system, {"TS_INF malformed: ", fault}); };
  const std::string_view code = info.productCode, version = info.packageVersion;
  if (line.substr(0, 2) == "\xff\xfe" || line.substr(0, 2) == "\xfe\xff") {
    return say("the file starts with a UTF-16 byte-order mark: it is not ANSI text");
  }
  if (line.substr(0, 3) == "\xef\xbb\xbf") {
    return say("the file starts with a UTF-8 byte-order mark");
  }
  if (line.find('\0') != std::string_view::npos) {
    return say("a NUL byte in the line, which ends it there");
  }
  if (code.size() == line.size()) return say("no comma in the line");
  if (code.size() > 38 && IsBracedGuid(code.substr(0, 38)) &&
      code.find_first_not_of(" \t", 38) == std::string_view::npos) {
    return say("blanks after the product code");
  }
  if (!IsBracedGuid(code)) return say("the product code is not a GUID in braces (38 characters)");
  if (version.empty()) return say("no version after the comma");
  if (version[0] == ' ' || version[0] == '\t') return say("blanks before the version");
  if (!IsDottedNumber(version)) return say("the version is not numbers joined by single dots");
}

}  // namespace

std::optional<std::string> FirstLineInTextMode(std::string_view rawBytes) {
  std::string line;
  for (std::size_t i = 0; i < rawBytes.size() && line.size() < kMaxLineBytes; ++i) {
    const char c = rawBytes[i];
    if (c == kCtrlZ) break;
    if (c == '\r' && i + 1 < rawBytes.size() && rawBytes[i + 1] == '\n') {
      line += '\n';
      break;
    }
    line += c;
    if (c == '\n') break;
  }
  if (line.empty()) return std::nullopt;
  return line;
}

void CutPackageLine(std::string_view line, const LeadByteTable& leadBytes, std::string& productCode,
                    std::string& packageVersion) {
  // The line lives on as a C string: a NUL byte inside it ends it.
  line = line.substr(0, line.find('\0'));

  std::size_t comma = 0;
  while (comma < line.size() && line[comma] != ',') {
    const bool doubleByte =
        leadBytes[static_cast<unsigned char>(line[comma])] && comma + 1 < line.size();
    comma += doubleByte ? 2 : 1;
  }
  productCode.assign(line.substr(0, comma));

  constexpr std::size_t kVersionOffset = 39;
  std::string_view version = line.size() > kVersionOffset ? line.substr(kVersionOffset) : "";
  const std::size_t last = version.find_last_not_of(" \t\n\v\f\r");
  packageVersion.assign(last == std::string_view::npos ? "" : version.substr(0, last + 1));
}

std::optional<ProductInfo> ReadPackageInfo(SystemInterface& system, PackageInfoFailure& failure) {
  const std::optional<std::string> directory = GetModuleDirectory(system);
  if (!directory) {
    TraceLine(system, {"TS_INF not read: launcher folder not found"});
    failure = PackageInfoFailure::kNoLauncherFolder;
    return std::nullopt;
  }

  const std::string path = *directory + kPackageInfoFileName;
  const std::optional<std::string> raw = system.ReadFileStart(path, kRawReadBytes);
  if (!raw) {
    // A path with the default character in place of a name's characters names no real folder.
    TraceLine(system, {"TS_INF not read: ", Quoted(path),
                       Either(system.ModulePathLosesCharacters(),
                              " cannot be opened: the module path holds characters the system "
                              "code page cannot show",
                              " cannot be opened (missing or locked)")});
    ShowMessageBox(system, IDS_INFO_OPEN_FAILED, kMbOk | kMbIconError);
    failure = PackageInfoFailure::kCannotOpen;
    return std::nullopt;
  }
  const std::optional<std::string> line = FirstLineInTextMode(*raw);
  if (!line) {
    TraceLine(system, {"TS_INF not read: ", Quoted(path),
                       " is empty (nothing before the end, a Ctrl-Z or a read error)"});
    failure = PackageInfoFailure::kEmpty;
    return std::nullopt;
  }

  ProductInfo info;
  CutPackageLine(*line, system.AnsiLeadBytes(), info.productCode, info.packageVersion);
  TraceLine(system, {"TS_INF read: product code ", Quoted(info.productCode), ", package version ",
                     Quoted(info.packageVersion)});
  TraceMalformedLine(system, *line, info);
  return info;
}

}  // namespace tessaro
