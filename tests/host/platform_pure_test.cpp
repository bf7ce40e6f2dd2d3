#include <gtest/gtest.h>

#include <tuple>
#include <utility>

#include "platform/console_title.h"
#include "platform/string_block.h"

namespace tessaro::platform {
namespace {

TEST(FormatTemporaryTitle, SignedDecimals) {
  const std::tuple<std::uint32_t, std::uint32_t, const char*> cases[] = {
      {0, 0, "0/0"},
      {12345, 678, "12345/678"},
      {2147483647u, 4, "2147483647/4"},
      {2147483648u, 4, "-2147483648/4"},  // past 24.9 days of uptime
      {4294967295u, 4294967295u, "-1/-1"},
  };
  for (const auto& [tick, pid, title] : cases) EXPECT_EQ(FormatTemporaryTitle(tick, pid), title);
}

// Builds a block from (count, text) entries, little-endian.
std::vector<unsigned char> Block(const std::vector<std::u16string>& entries) {
  std::u16string units;
  for (const auto& entry : entries) units += static_cast<char16_t>(entry.size()) + entry;
  std::vector<unsigned char> bytes;
  for (char16_t unit : units) {
    bytes.push_back(static_cast<unsigned char>(unit & 0xff));
    bytes.push_back(static_cast<unsigned char>(unit >> 8));
  }
  return bytes;
}

TEST(StringBlockEntry, WalksEntriesByTheirCounts) {
  std::vector<std::u16string> entries(16);
  entries[8] = u"launch";
  entries[10] = u"\u30c6\u30b9\u30c8";  // non-ASCII units survive unchanged
  entries[11] = u"x";
  const auto block = Block(entries);
  const std::pair<unsigned, std::u16string> cases[] = {
      {8, u"launch"}, {10, u"\u30c6\u30b9\u30c8"}, {11, u"x"}, {0, u""}, {15, u""}};
  for (const auto& [index, text] : cases) {
    EXPECT_EQ(StringBlockEntry(block.data(), block.size(), index), text) << index;
  }
}

TEST(StringBlockEntry, NeverReadsPastTheBlock) {
  const auto block = Block({u"", u"abc"});
  // An entry whose count runs past the end, a count cut in half, an entry beyond the block.
  EXPECT_EQ(StringBlockEntry(block.data(), block.size() - 1, 1), u"");
  EXPECT_EQ(StringBlockEntry(block.data(), 3, 1), u"");
  EXPECT_EQ(StringBlockEntry(block.data(), block.size(), 5), u"");
  EXPECT_EQ(StringBlockEntry(block.data(), 0, 0), u"");
  EXPECT_EQ(StringBlockEntry(block.data(), block.size(), 1), u"abc");
}

}  // namespace
}  // namespace tessaro::platform
