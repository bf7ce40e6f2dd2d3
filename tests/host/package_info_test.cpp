#include "launcher/package_info.h"

#include <gtest/gtest.h>

#include <tuple>

#include "fake_system.h"

namespace tessaro::testing {
namespace {

using Parsed = std::tuple<bool, std::string, std::string>;  // ok, product code, package version

Parsed ReadThroughFake(const std::string& fileBytes, const LeadByteTable& lead = {}) {
  FakeSystem system = Medium(fileBytes);
  system.leadBytes = lead;
  const std::optional<ProductInfo> info = ReadPackageInfo(system, system.stopReason);
  EXPECT_TRUE(system.boxes.empty());
  if (!info) return {false, "", ""};
  return {true, info->productCode, info->packageVersion};
}

TEST(ReadPackageInfo, FirstLineByteRules) {
  const std::string& code = kCode;
  const std::string code37 = code.substr(0, 37);
  const std::string code39 = code + "X";
  const std::string long300 = code + "," + std::string(300 - 39, '7');
  const struct {
    const char* name;
    std::string file;
    Parsed parsed;
  } cases[] = {
      {"CR LF", code + ",3.10\r\n", {true, code, "3.10"}},
      {"LF", code + ",3.10\n", {true, code, "3.10"}},
      {"no terminator", code + ",3.10", {true, code, "3.10"}},
      {"second line ignored", code + ",3.10\r\n{OTHER},9.9\r\n", {true, code, "3.10"}},
      {"trailing blanks trimmed", code + ",3.10 \t \r\n", {true, code, "3.10"}},
      {"leading blanks kept", code + ",  3.10\n", {true, code, "  3.10"}},
      {"37-char code loses the version's first byte", code37 + ",3.10\n", {true, code37, ".10"}},
      {"39-char code keeps the comma", code39 + ",3.10\n", {true, code39, ",3.10"}},
      {"39 bytes with LF", code + "\n", {true, code + "\n", ""}},
      {"39 bytes: code and comma", code + ",", {true, code, ""}},
      {"40 bytes: a one-byte version", code + ",5", {true, code, "5"}},
      {"no comma keeps the LF", "no comma here\n", {true, "no comma here\n", ""}},
      {"no comma, no LF", "bare", {true, "bare", ""}},
      {"300-byte line cut at 259", long300, {true, code, std::string(259 - 39, '7')}},
      {"258 bytes and CR LF: the whole 259-byte line",
       std::string(258, 'a') + "\r\nrest",
       {true, std::string(258, 'a') + "\n", std::string(258 - 39, 'a')}},
      {"NUL ends the line", code + std::string("\0,3.10\n", 7), {true, code, ""}},
      {"NUL first", std::string("\0abc", 4), {true, "", ""}},
      {"Ctrl-Z ends the file", code + ",3.1\x1a" + "0\n", {true, code, "3.1"}},
      {"lone CR kept until trimmed", code + ",3.10\r9\n", {true, code, "3.10\r9"}},
      {"CR CR LF", code + ",3.10\r\r\n", {true, code, "3.10"}},
      {"lone CR as the last byte", code + ",3.10\r", {true, code, "3.10"}},
      {"comma first: empty product code", ",3.10\n", {true, "", ""}},
      {"empty file", "", {false, "", ""}},
      {"Ctrl-Z at once", "\x1a" + code, {false, "", ""}},
  };
  for (const auto& c : cases) EXPECT_EQ(ReadThroughFake(c.file), c.parsed) << c.name;
  // The trace shows both fields as cut, with the bytes a viewer could not show escaped.
  FakeSystem system = Medium(code + ",  3.1\t0 \r\n");
  ASSERT_TRUE(ReadPackageInfo(system, system.stopReason));
  EXPECT_EQ(system.LastTraced(),
            "TS_INF read: product code \"" + code + "\", package version \"  3.1\\x090\"");
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
    EXPECT_FALSE(ReadPackageInfo(system, system.stopReason));
    EXPECT_NE(system.Traced(c.traced), "");
    EXPECT_EQ(system.boxes, Boxes(c.boxes, {"cannot open TS_INF", 0x10}));
  }
}

TEST(ReadPackageInfo, LocksAreOpenFailures) {
  FakeSystem system = Medium();
  system.lockedFiles.insert(kInf);
  EXPECT_FALSE(ReadPackageInfo(system, system.stopReason));
  EXPECT_EQ(system.boxes, (Boxes{{"cannot open TS_INF", 0x10}}));
}

TEST(ReadPackageInfo, FileBesideALauncherAtTheRoot) {
  FakeSystem system = Medium(kCode + ",1.0\n", "E:\\Launch.exe");
  EXPECT_EQ(ReadPackageInfo(system, system.stopReason).value_or(ProductInfo{}).packageVersion,
            "1.0");
}

}  // namespace
}  // namespace tessaro::testing
