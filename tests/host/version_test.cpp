#include "launcher/version.h"

#include <gtest/gtest.h>

#include <climits>
#include <vector>

namespace tessaro {
namespace {

TEST(TakeVersionField, WorkedFields) {
  // clang-format off
  const struct {
    const char* text;
    std::vector<int> fields;
  } cases[] = {
      {"1.2.3", {1, 2, 3}}, {"01.002", {1, 2}}, {"3.00.1", {3, 0, 1}}, {"1..2", {1, 0, 2}},
      {".5", {0, 5}}, {"1.2.", {1, 2}}, {"1.", {1}}, {".", {0}}, {"+4.2", {4, 2}},
      {"1.-2", {1, -2}}, {"a.1", {0, 1}}, {"1a.2", {1, 2}}, {"V2.0", {0, 0}}, {"2.0a", {2, 0}},
      {"1.0a5", {1, 5}}, {"007", {7}}, {"0-1", {-1}}, {"-0", {0}}, {"abc", {0}},
      // A last field is searched tail by tail; a field before a dot is read once.
      {"0a5", {5}}, {"0 5", {5}}, {"a1.a1", {0, 1}}, {" 7.\t8", {7, 8}}, {"- 5", {5}},
      {"+.1", {0, 1}}, {"\t7.8", {7, 8}},
  };
  // clang-format on
  for (const auto& c : cases) {
    std::vector<int> fields;
    for (std::string text = c.text; !text.empty();) fields.push_back(TakeVersionField(text));
    EXPECT_EQ(fields, c.fields) << c.text;
  }
}

TEST(TakeVersionField, EmptyTextGivesZeroAndStaysEmpty) {
  std::string text;
  EXPECT_EQ(TakeVersionField(text), 0);
  EXPECT_TRUE(text.empty());
}

TEST(TakeVersionField, LastFieldAlwaysEmptiesTheText) {
  for (std::string text : {"12abc", "0", "x", "5 6"}) {
    TakeVersionField(text);
    EXPECT_TRUE(text.empty()) << text;
  }
}

TEST(TakeVersionField, OutOfRangeFieldsClampToInt) {
  // clang-format off
  const struct {
    const char* field;
    int value;
  } cases[] = {
      {"12", 12}, {"2147483647", INT_MAX}, {"2147483648", INT_MAX},
      {"99999999999999999999.1", INT_MAX}, {"-2147483647", -INT_MAX}, {"-2147483648", INT_MIN},
      {"-2147483649", INT_MIN}, {"-99999999999999999999", INT_MIN},
      {"00000000002147483647", INT_MAX},
  };
  // clang-format on
  for (const auto& c : cases) {
    EXPECT_EQ(ReadDecimalField(c.field), c.value) << c.field;
    std::string text = c.field;
    EXPECT_EQ(TakeVersionField(text), c.value) << c.field;
  }
}

TEST(VersionsDiffer, WorkedComparisons) {
  const struct {
    const char *package, *installed;
    bool differ;
  } cases[] = {
      {"3.10", "3.10", false},   {"3.10", "3.9", true},
      {"3.10", "3.1", true},     {"3.1", "3.01", false},
      {"3.10.1", "3.10", false}, {"3.10", "3.10.1", true},
      {"3.10", "3.10.0", false}, {"3.10", "", false},
      {"", "3.10", true},        {"", "0.0", false},
      {"V2.0", "2.0", true},     {"2.0", "2.0a", false},
      {"3.10", "3..10", true},   {"3.0.10", "3..10", false},
      {"", "", false},           {"3.9", "3.9.0", false},
      {"03.09", "3.9.0", false}, {"3.9.", "3.9", false},
      {"1.2", "1.3", true},      {"2147483648", "2147483647", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(VersionsDiffer(c.package, c.installed), c.differ)
        << "package '" << c.package << "' installed '" << c.installed << "'";
  }
}

// Called on const texts: a comparison that consumed the caller's versions would not compile.
TEST(VersionsDiffer, LeavesTheCallersTextsAlone) {
  const std::string package = "3.10.1", installed = "3.9";
  EXPECT_TRUE(VersionsDiffer(package, installed));
}

}  // namespace
}  // namespace tessaro
