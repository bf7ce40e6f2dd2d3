#include "launcher/package_info.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <tuple>
#include <vector>

#include "fake_system.h"

namespace tessaro::testing {
namespace {

using Parsed = std::tuple<bool, std::string, std::string>;  // ok, product code, package version

Parsed ReadThroughFake(const std::string& fileBytes, const LeadByteTable& lead = {}) {
  FakeSystem system = Medium(fileBytes);
  system.leadBytes = lead;
  const std::optional<ProductInfo> info = ReadPackageInfo(system, system.infoFailure);
  EXPECT_TRUE(system.boxes.empty());
  return info ? Parsed{true, info->productCode, info->packageVersion} : Parsed{false, "", ""};
}

// Undoes the escapes of tests/data/ts_inf_lines.tsv.
std::string Unescaped(std::string_view text) {
  std::string bytes;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      bytes += text[i];
    } else if (text[++i] == 'x') {
      bytes += static_cast<char>(std::stoi(std::string(text.substr(i + 1, 2)), nullptr, 16));
      i += 2;
    } else {
      bytes += text[i] == 't' ? '\t' : text[i] == 'r' ? '\r' : text[i] == 'n' ? '\n' : text[i];
    }
  }
  return bytes;
}

// The table lies in the source tree, found from this file's own path, which the build gives whole.
TEST(ReadPackageInfo, FirstLineByteRules) {
  std::ifstream file(std::filesystem::path(__FILE__).parent_path() / "../data/ts_inf_lines.tsv");
  std::size_t rows = 0;
  for (std::string line; std::getline(file, line);) {
    if (line.empty() || line[0] == '#') continue;
    // The case, the file's bytes, the product code, the package version, the fault named.
    std::vector<std::string> cells;
    std::istringstream row(line);
    for (std::string cell; std::getline(row, cell, '\t');) cells.push_back(Unescaped(cell));
    ASSERT_EQ(cells.size(), 5u) << line;
    SCOPED_TRACE(cells[0]);
    ++rows;
    FakeSystem system = Medium(cells[1]);
    const std::optional<ProductInfo> info = ReadPackageInfo(system, system.infoFailure);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->productCode, cells[2]);
    EXPECT_EQ(info->packageVersion, cells[3]);
    // Nothing but the read line when the line is well made; else one more, naming the fault.
    EXPECT_EQ(Strings(system.trace.begin() + 1, system.trace.end()),
              cells[4] == "-" ? Strings{} : Strings{"TS_INF malformed: " + cells[4]});
  }
  EXPECT_GT(rows, 30u) << "tests/data/ts_inf_lines.tsv not found or cut short";
  // What the file cannot hold: lines cut at their length, files with no line at all.
  const struct {
    const char* name;
    std::string file;
    Parsed parsed;
  } cases[] = {
      {"300-byte line cut at 259",
       kCode + "," + std::string(300 - 39, '7'),
       {true, kCode, std::string(259 - 39, '7')}},
      {"258 bytes and CR LF: the whole 259-byte line",
       std::string(258, 'a') + "\r\nrest",
       {true, std::string(258, 'a') + "\n", std::string(258 - 39, 'a')}},
      {"empty file", "", {false, "", ""}},
      {"Ctrl-Z at once", "\x1a" + kCode, {false, "", ""}},
  };
  for (const auto& c : cases) EXPECT_EQ(ReadThroughFake(c.file), c.parsed) << c.name;
  // The trace shows both fields as cut, with the bytes a viewer could not show escaped.
  FakeSystem system = Medium(kCode + ",  3.1\t0 \r\n");
  ASSERT_TRUE(ReadPackageInfo(system, system.infoFailure));
  EXPECT_EQ(system.trace.front(),
            "TS_INF read: product code \"" + kCode + "\", package version \"  3.1\\x090\"");
}

TEST(ReadPackageInfo, CommaScanSkipsDoubleByteTrailBytes) {
  const struct {
    const char* name;
    std::string line;
    bool cp932;
    std::string productCode;
  } cases[] = {
      // 0x82 0x2c is one Shift-JIS character whose trail byte looks like a comma.
      {"trail byte like a comma", "AB\x82,CD,3.1\n", true, "AB\x82,CD"},
      {"the same bytes on a single-byte page", "AB\x82,CD,3.1\n", false, "AB\x82"},
      {"double-byte character just before the comma", "AB\x82\xa0,3.1\n", true, "AB\x82\xa0"},
  };
  for (const auto& c : cases) {
    const LeadByteTable lead = c.cp932 ? Cp932LeadBytes() : LeadByteTable{};
    EXPECT_EQ(std::get<1>(ReadThroughFake(c.line, lead)), c.productCode) << c.name;
  }
}

TEST(FirstLineInTextMode, CrAtTheLimitStillBecomesTheLineEnd) {
  EXPECT_EQ(FirstLineInTextMode(std::string(258, 'a') + "\r\nrest"), std::string(258, 'a') + "\n");
}

TEST(ReadPackageInfo, FailuresLeaveTheRecordAlone) {
  const struct {
    const char* name;
    std::optional<std::string> file;
    std::optional<std::size_t> moduleResult;
    std::size_t boxes;
    const char* traced;
  } cases[] = {
      {"missing file shows 106", std::nullopt, std::nullopt, 1,
       "TS_INF not read: \"D:\\Install\\TS_INF\" cannot be opened"},
      {"no directory, no message", kCode + ",3.10\n", std::size_t{0}, 0,
       "TS_INF not read: launcher folder not found"},
      {"empty file, no message", std::string(), std::nullopt, 0,
       "TS_INF not read: \"D:\\Install\\TS_INF\" is empty"},
      {"Ctrl-Z first counts as empty", std::string("\x1a,3.10\n"), std::nullopt, 0, "is empty"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeSystem system;
    if (c.file) system.files[kInf] = *c.file;
    system.modulePathResult = c.moduleResult;
    EXPECT_FALSE(ReadPackageInfo(system, system.infoFailure));
    EXPECT_NE(system.Traced(c.traced), "");
    EXPECT_EQ(system.boxes, Boxes(c.boxes, {"cannot open TS_INF", 0x10}));
  }
}

TEST(ReadPackageInfo, LocksAreOpenFailures) {
  FakeSystem system = Medium();
  system.lockedFiles.insert(kInf);
  EXPECT_FALSE(ReadPackageInfo(system, system.infoFailure));
  EXPECT_EQ(system.boxes, (Boxes{{"cannot open TS_INF", 0x10}}));
}

TEST(ReadPackageInfo, FileBesideALauncherAtTheRoot) {
  FakeSystem system = Medium(kCode + ",1.0\n", "E:\\Launch.exe");
  EXPECT_EQ(ReadPackageInfo(system, system.infoFailure).value_or(ProductInfo{}).packageVersion,
            "1.0");
}

}  // namespace
}  // namespace tessaro::testing
