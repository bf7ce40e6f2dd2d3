// The TS_INF first-line reader on arbitrary bytes, under single- and double-byte code pages.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "launcher/package_info.h"
#include "tests/host/fake_system.h"  // Cp932LeadBytes

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string raw(reinterpret_cast<const char*>(data), size);
  const auto line = tessaro::FirstLineInTextMode(raw);
  if (!line) return 0;
  if (line->size() > tessaro::kMaxLineBytes) std::abort();
  for (const auto& lead : {tessaro::LeadByteTable{}, tessaro::testing::Cp932LeadBytes()}) {
    std::string code, version;
    tessaro::CutPackageLine(*line, lead, code, version);
    // Both fields are cut out of the line, never made up, and the version ends in no blank.
    const std::size_t afterCut = line->size() > 39 ? line->size() - 39 : 0;
    if (code.size() > line->size() || version.size() > afterCut) std::abort();
    if (version.find_last_not_of(" \t\n\v\f\r") + 1 != version.size()) std::abort();
  }
  return 0;
}
