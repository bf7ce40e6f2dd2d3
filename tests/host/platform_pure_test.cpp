#include <gtest/gtest.h>

#include <vector>

#include "platform/console_title.h"
#include "platform/string_block.h"

namespace tessaro::platform {
namespace {

TEST(FormatTemporaryTitle, SignedDecimals) {
  const struct {
    std::uint32_t tick, pid;
    const char* title;
  } cases[] = {
      {0, 0, "0/0"},
      {12345, 678, "12345/678"},
      {2147483647u, 4, "2147483647/4"},
      {2147483648u, 4, "-2147483648/4"},  // past 24.9 days of uptime
      {4294967295u, 4294967295u, "-1/-1"},
  };
  for (const auto& c : cases) EXPECT_EQ(FormatTemporaryTitle(c.tick, c.pid), c.title);
}

// Builds a block from (count, text) entries, little-endian, in a buffer of exactly its size, so
// that the sanitizer sees a read past its end.
std::vector<unsigned char> Block(const std::vector<std::u16string>& entries) {
  std::u16string units;
  for (const auto& entry : entries) units += static_cast<char16_t>(entry.size()) + entry;
  std::vector<unsigned char> bytes(2 * units.size());
  for (std::size_t i = 0; i < units.size(); ++i) {
    bytes[2 * i] = static_cast<unsigned char>(units[i] & 0xff);
    bytes[2 * i + 1] = static_cast<unsigned char>(units[i] >> 8);
  }
  return bytes;
}

TEST(StringBlockEntry, WalksEntriesByTheirCounts) {
  std::vector<std::u16string> entries(16);
  entries[8] = u"launch";
  entries[10] = u"\u30c6\u30b9\u30c8";  // non-ASCII units survive unchanged
  entries[11] = u"x";
  entries[15] = u"end";  // the last units of the block
  const auto block = Block(entries);
  for (const unsigned index : {8u, 10u, 11u, 0u, 15u}) {
    EXPECT_EQ(StringBlockEntry(block.data(), block.size(), index), entries[index]) << index;
  }
}

TEST(StringBlockEntry, NeverReadsPastTheBlock) {
  const auto block = Block({u"", u"abc"});
  const std::vector<unsigned char> odd(3);  // an empty entry, then half a count
  // An entry whose count runs past the end, a count cut in half, an entry beyond the block.
  EXPECT_EQ(StringBlockEntry(block.data(), block.size() - 1, 1), u"");
  EXPECT_EQ(StringBlockEntry(block.data(), 3, 1), u"");
  EXPECT_EQ(StringBlockEntry(block.data(), block.size(), 5), u"");
  EXPECT_EQ(StringBlockEntry(block.data(), 0, 0), u"");
  EXPECT_EQ(StringBlockEntry(odd.data(), odd.size(), 1), u"");
  EXPECT_EQ(StringBlockEntry(block.data(), block.size(), 1), u"abc");
}

}  // namespace
}  // namespace tessaro::platform
