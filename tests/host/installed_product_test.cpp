#include "launcher/installed_product.h"

#include <gtest/gtest.h>

#include "fake_system.h"

namespace tessaro {
namespace {

using testing::FakeSystem;

const std::string kCode = "{6F1C2A3B-4D5E-4F60-8172-93A4B5C6D7E8}";
const std::string kKey = std::string(kUninstallKeyPrefix) + kCode;
const std::string kLocation = "C:\\Program Files\\Tessaro\\";
const std::string kExe = kLocation + "Tessaro.exe";
const std::string kRemoval =
    "\"C:\\Windows\\system32\\msiexec.exe\" /x " + kCode + " /qb! ID_STATE=Remove";

FakeSystem Machine(const std::string& packageVersion, std::optional<std::string> displayVersion,
                   std::optional<std::string> installLocation = kLocation) {
  FakeSystem system;
  system.files["D:\\Install\\TS_INF"] = kCode + "," + packageVersion + "\r\n";
  UninstallValues values;
  values.keyOpened = true;
  values.displayVersion = displayVersion;
  values.installLocation = installLocation;
  system.registry[kKey] = values;
  system.files[kExe] = "MZ";
  return system;
}

TEST(CheckInstalledProduct, DecisionTable) {
  enum Exe { kFree, kLocked, kLockedThenFreed };
  const struct {
    const char* name;
    std::optional<std::string> displayVersion;
    std::optional<std::string> location;
    Exe exe;
    std::deque<int> answers;
    bool result;
    std::vector<unsigned> boxStyles;
    bool removed;
  } cases[] = {
      {"equal versions", std::string("3.10"), kLocation, kFree, {}, true, {}, false},
      {"equal in value", std::string("03.010.0"), kLocation, kFree, {}, true, {}, false},
      {"no DisplayVersion", std::nullopt, kLocation, kFree, {}, true, {}, false},
      {"empty DisplayVersion", std::string(""), kLocation, kFree, {}, true, {}, false},
      {"differ, Cancel", std::string("3.9"), kLocation, kFree, {kIdCancel}, false, {0x41}, false},
      {"differ, OK, free", std::string("3.9"), kLocation, kFree, {kIdOk}, true, {0x41}, true},
      {"differ, OK, no location",
       std::string("3.9"),
       std::nullopt,
       kLocked,
       {kIdOk},
       true,
       {0x41},
       true},
      {"differ, OK, empty location",
       std::string("3.9"),
       std::string(""),
       kLocked,
       {kIdOk},
       true,
       {0x41},
       true},
      {"location without backslash",
       std::string("3.9"),
       std::string("C:\\Program Files\\Tessaro"),
       kLocked,
       {kIdOk},
       true,
       {0x41},
       true},
      {"locked, Cancel",
       std::string("3.9"),
       kLocation,
       kLocked,
       {kIdOk, kIdCancel},
       false,
       {0x41, 0x15},
       false},
      {"locked, Retry, Retry, Cancel",
       std::string("3.9"),
       kLocation,
       kLocked,
       {kIdOk, kIdRetry, kIdRetry, kIdCancel},
       false,
       {0x41, 0x15, 0x15, 0x15},
       false},
      {"freed before Retry",
       std::string("3.9"),
       kLocation,
       kLockedThenFreed,
       {kIdOk, kIdRetry},
       true,
       {0x41, 0x15},
       true},
      {"box closed counts as Cancel",
       std::string("3.9"),
       kLocation,
       kFree,
       {kIdCancel},
       false,
       {0x41},
       false},
      {"107 box failed (0)", std::string("3.9"), kLocation, kFree, {0}, false, {0x41}, false},
      {"107 answered Yes (6)", std::string("3.9"), kLocation, kFree, {6}, false, {0x41}, false},
      {"108 box failed (0) stops",
       std::string("3.9"),
       kLocation,
       kLocked,
       {kIdOk, 0, kIdCancel},
       false,
       {0x41, 0x15},
       false},
  };
  for (const auto& c : cases) {
    FakeSystem system = Machine("3.10", c.displayVersion, c.location);
    // A bare relative name would be probed in the current directory: with no install location,
    // no probe may happen at all.
    system.files[kProductExecutable] = "MZ";
    system.lockedFiles.insert(kProductExecutable);
    if (c.exe != kFree) system.lockedFiles.insert(kExe);
    if (c.exe == kLockedThenFreed) {
      system.onBox = [&system](const testing::ShownBox& box) {
        if (box.style == 0x15) system.lockedFiles.erase(kExe);
      };
    }
    system.answers = c.answers;
    EXPECT_EQ(CheckInstalledProduct(system), c.result) << c.name;
    std::vector<unsigned> styles;
    for (const auto& box : system.boxes) styles.push_back(box.style);
    EXPECT_EQ(styles, c.boxStyles) << c.name;
    const bool removed = !system.started.empty();
    EXPECT_EQ(removed, c.removed) << c.name;
    if (removed) {
      EXPECT_EQ(system.started[0], kRemoval) << c.name;
    }
  }
}

TEST(CheckInstalledProduct, NoKeyMeansNothingToDo) {
  FakeSystem system = Machine("3.10", std::string("3.9"));
  system.registry.clear();
  EXPECT_TRUE(CheckInstalledProduct(system));
  EXPECT_TRUE(system.boxes.empty());
}

TEST(CheckInstalledProduct, UnreadablePackageFileStopsBeforeTheRegistry) {
  for (const std::string& file : {std::string(), std::string("missing")}) {
    FakeSystem system = Machine("3.10", std::string("3.9"));
    if (file.empty()) {
      system.files["D:\\Install\\TS_INF"] = "";
    } else {
      system.files.erase("D:\\Install\\TS_INF");
    }
    EXPECT_FALSE(CheckInstalledProduct(system));
    for (const auto& call : system.calls) {
      EXPECT_EQ(call.find("ReadUninstallValues"), std::string::npos);
    }
    EXPECT_EQ(system.boxes.size(), file.empty() ? 0u : 1u);
  }
}

TEST(CheckInstalledProduct, QuestionShowsTheVersionAsTheRegistryHoldsIt) {
  const struct {
    std::string stored;
    std::string shown;
  } cases[] = {
      {"3.9", "installed: 3.9?"},
      {std::string("3.9\0garbage", 11), "installed: 3.9?"},  // REG_BINARY with a NUL inside
      {"3.9%s%d%n", "installed: 3.9%s%d%n?"},                // never read as a format
      {std::string(255, '1'), "installed: " + std::string(255, '1') + "?"},
  };
  for (const auto& c : cases) {
    FakeSystem system = Machine("3.10", c.stored);
    system.answers = {kIdCancel};
    EXPECT_FALSE(CheckInstalledProduct(system));
    ASSERT_EQ(system.boxes.size(), 1u);
    EXPECT_EQ(system.boxes[0].text, c.shown);
  }
}

TEST(CheckInstalledProduct, ProductCodeEndingInLineFeedFindsNoKey) {
  FakeSystem system = Machine("3.10", std::string("3.9"));
  system.files["D:\\Install\\TS_INF"] = kCode + "\n";
  EXPECT_TRUE(CheckInstalledProduct(system));
  EXPECT_EQ(system.calls[2], "ReadUninstallValues:" + kKey + "\n");
  EXPECT_TRUE(system.boxes.empty());
}

TEST(UninstallProduct, WhenNothingIsRemoved) {
  const struct {
    const char* name;
    std::string productCode;
    std::string packageVersion;
    bool systemDirectory;
    bool startable;
    bool result;
    bool removed;
  } cases[] = {
      {"empty package version", kCode, "", true, true, true, false},
      {"empty product code, version set", "", "3.10", true, true, true, true},
      {"no system directory", kCode, "3.10", false, true, true, false},
      {"msiexec cannot start", kCode, "3.10", true, false, false, false},
      {"removal ran", kCode, "3.10", true, true, true, true},
  };
  for (const auto& c : cases) {
    FakeSystem system;
    if (!c.systemDirectory) system.systemDirectory.reset();
    if (!c.startable) system.unstartable.insert(kRemoval);
    ProductInfo info{c.productCode, c.packageVersion, "3.9"};
    EXPECT_EQ(UninstallProduct(system, info), c.result) << c.name;
    EXPECT_TRUE(system.boxes.empty()) << c.name;
    EXPECT_EQ(system.started.size(), c.removed ? 1u : 0u) << c.name;
    if (c.removed) {
      EXPECT_EQ(system.started[0],
                BuildUninstallCommandLine("C:\\Windows\\system32", c.productCode))
          << c.name;
    }
  }
}

TEST(IsProductInUse, ManyRetriesDoNotGrowTheStack) {
  FakeSystem system;
  system.files[kExe] = "MZ";
  system.lockedFiles.insert(kExe);
  system.answers = std::deque<int>(100000, kIdRetry);
  system.answers.push_back(kIdCancel);
  EXPECT_TRUE(IsProductInUse(system, kLocation));
  EXPECT_EQ(system.boxes.size(), 100001u);
}

TEST(FormatMessageArgument, Table) {
  const struct {
    const char* format;
    const char* argument;
    const char* text;
  } cases[] = {
      {"Tessaro : %s", "3.9", "Tessaro : 3.9"},
      {"100%% %s", "x", "100% x"},
      {"%s", "%s", "%s"},
      {"%d trailing %", "v", "%d trailing %"},
      {"no directive", "v", "no directive"},
  };
  for (const auto& c : cases) EXPECT_EQ(FormatMessageArgument(c.format, c.argument), c.text);
}

}  // namespace
}  // namespace tessaro
