#include "launcher/installed_product.h"

#include <gtest/gtest.h>

#include "fake_system.h"

namespace tessaro::testing {
namespace {

const std::string kLocation = "C:\\Program Files\\Tessaro\\";
const std::string kExe = kLocation + "Tessaro.exe";

FakeSystem Machine(const std::string& packageVersion, std::optional<std::string> displayVersion,
                   std::optional<std::string> installLocation = kLocation) {
  FakeSystem system = Medium(kCode + "," + packageVersion + "\r\n");
  system.registry[kKey] = {true, displayVersion, installLocation};
  system.files[kExe] = "MZ";
  return system;
}

TEST(CheckInstalledProduct, DecisionTable) {
  enum Exe { kFree, kLocked, kLockedThenFreed };
  // clang-format off
  const struct {
    const char* name;
    std::optional<std::string> displayVersion, location;
    Exe exe;
    std::deque<int> answers;
    bool result;
    std::vector<unsigned> boxStyles;
    bool removed;
    const char* traced;
  } cases[] = {
      {"equal versions", "3.10", kLocation, kFree, {}, true, {}, false,
       "versions equal: package \"3.10\", installed \"3.10\": nothing asked"},
      {"equal in value", "03.010.0", kLocation, kFree, {}, true, {}, false,
       "installed \"03.010.0\": nothing asked"},
      {"no DisplayVersion", std::nullopt, kLocation, kFree, {}, true, {}, false,
       "no DisplayVersion: nothing asked"},
      {"empty DisplayVersion", "", kLocation, kFree, {}, true, {}, false,
       "installed \"\": nothing asked"},
      {"differ, Cancel", "3.9", kLocation, kFree, {kIdCancel}, false, {0x41}, false,
       "message 107 shown, answer Cancel"},
      {"differ, OK, free", "3.9", kLocation, kFree, {kIdOk}, true, {0x41}, true,
       "\"C:\\Program Files\\Tessaro\\Tessaro.exe\" opens for writing: not in use"},
      {"differ, OK, no location", "3.9", std::nullopt, kLocked, {kIdOk}, true, {0x41},
       true, "InstallLocation not read"},
      {"differ, OK, empty location", "3.9", "", kLocked, {kIdOk}, true,
       {0x41}, true, "InstallLocation empty: no lock test"},
      {"location without backslash", "3.9", "C:\\Program Files\\Tessaro", kLocked, {kIdOk}, true,
       {0x41}, true, "\"C:\\Program Files\\TessaroTessaro.exe\" not found: not in use"},
      {"locked, Cancel", "3.9", kLocation, kLocked, {kIdOk, kIdCancel}, false,
       {0x41, 0x15}, false, "message 108 shown, answer Cancel"},
      {"locked, Retry, Retry, Cancel", "3.9", kLocation, kLocked,
       {kIdOk, kIdRetry, kIdRetry, kIdCancel}, false, {0x41, 0x15, 0x15, 0x15}, false,
       "does not open for writing: in use"},
      {"freed before Retry", "3.9", kLocation, kLockedThenFreed, {kIdOk, kIdRetry},
       true, {0x41, 0x15}, true, "message 108 shown, answer Retry"},
      {"box closed counts as Cancel", "3.9", kLocation, kFree, {kIdCancel}, false,
       {0x41}, false, "message 107 shown, answer Cancel"},
      {"107 box failed (0)", "3.9", kLocation, kFree, {0}, false, {0x41}, false,
       "message 107 shown, answer another button"},
      {"107 answered Yes (6)", "3.9", kLocation, kFree, {6}, false, {0x41}, false,
       "message 107 shown, answer another button"},
      {"108 box failed (0) stops", "3.9", kLocation, kLocked, {kIdOk, 0, kIdCancel},
       false, {0x41, 0x15}, false, "message 108 shown, answer another button"},
  };
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeSystem system = Machine("3.10", c.displayVersion, c.location);
    // A bare relative name would be probed in the current directory: with no install location,
    // no probe may happen at all.
    system.files[kProductExecutable] = "MZ";
    system.lockedFiles.insert(kProductExecutable);
    if (c.exe != kFree) system.lockedFiles.insert(kExe);
    if (c.exe == kLockedThenFreed) {
      system.onBox = [&system](const ShownBox& box) {
        if (box.second == 0x15) system.lockedFiles.erase(kExe);
      };
    }
    system.answers = c.answers;
    EXPECT_EQ(CheckInstalledProduct(system, system.stopReason), c.result);
    std::vector<unsigned> styles;
    for (const auto& box : system.boxes) styles.push_back(box.second);
    EXPECT_EQ(styles, c.boxStyles);
    EXPECT_EQ(system.started, c.removed ? Strings{kRemoval} : Strings{});
    EXPECT_NE(system.Traced(c.traced), "");
  }
}

TEST(CheckInstalledProduct, NoKeyMeansNothingToDo) {
  FakeSystem system = Machine("3.10", "3.9");
  system.registry.clear();
  EXPECT_TRUE(CheckInstalledProduct(system, system.stopReason));
  EXPECT_TRUE(system.boxes.empty());
  EXPECT_EQ(system.LastTraced(), "uninstall key \"" + kKey + "\" not found: nothing installed");
}

TEST(CheckInstalledProduct, UnreadablePackageFileStopsBeforeTheRegistry) {
  for (const bool missing : {false, true}) {
    FakeSystem system = Machine("3.10", "3.9");
    system.files[kInf] = "";
    if (missing) system.files.erase(kInf);
    EXPECT_FALSE(CheckInstalledProduct(system, system.stopReason));
    EXPECT_EQ(system.Called("ReadUninstallValues"), "");
    EXPECT_EQ(system.boxes.size(), missing ? 1u : 0u);
  }
}

TEST(CheckInstalledProduct, QuestionShowsTheVersionAsTheRegistryHoldsIt) {
  const struct {
    std::string stored, shown, traced;
    bool cp932 = false;
    std::string package = "3.10";
  } cases[] = {
      {"3.9", "installed: 3.9?", "DisplayVersion \"3.9\", InstallLocation"},
      // REG_BINARY with a NUL inside
      {std::string("3.9\0garbage", 11), "installed: 3.9?", "DisplayVersion \"3.9\","},
      // never read as a format
      {"3.9%s%d%n", "installed: 3.9%s%d%n?", "installed \"3.9%s%d%n\": asking"},
      {std::string(255, '1'), "installed: " + std::string(255, '1') + "?",
       "DisplayVersion \"" + std::string(255, '1') + "\""},
      // a line feed or a tab would make a viewer's line lie about where the value ends
      {"3.9\n\t\x7f", "installed: 3.9\n\t\x7f?", "DisplayVersion \"3.9\\x0a\\x09\\x7f\""},
      // ... and so would a quote, or a backslash that reads like an escape
      {"3.9", "installed: 3.9?",
       "versions differ: package \"3.10\\x22, installed \\x223.10\", installed \"3.9\": asking",
       false, "3.10\", installed \"3.10"},
      {"3.9\\x0a\\9", "installed: 3.9\\x0a\\9?", "DisplayVersion \"3.9\\x5cx0a\\9\""},
      // a double-byte viewer must not join a lead byte with an escape's backslash or the quote
      {"3.9\x95\\1", "installed: 3.9\x95\\1?", "DisplayVersion \"3.9\x95\\1\"", true},
      {"3.9\x95y", "installed: 3.9\x95y?", "DisplayVersion \"3.9\x95y\"", true},
      {"3.9\x95\\x", "installed: 3.9\x95\\x?", "DisplayVersion \"3.9\\x95\\x5cx\"", true},
      {"3.9\x82\n", "installed: 3.9\x82\n?", "DisplayVersion \"3.9\\x82\\x0a\"", true},
      {"3.9\x82\"", "installed: 3.9\x82\"?", "DisplayVersion \"3.9\\x82\\x22\"", true},
      {"3.9\x82", "installed: 3.9\x82?", "DisplayVersion \"3.9\\x82\"", true},
      {"3.9\x82", "installed: 3.9\x82?", "DisplayVersion \"3.9\x82\"", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.traced);
    FakeSystem system = Machine(c.package, c.stored);
    if (c.cp932) system.leadBytes = Cp932LeadBytes();
    system.answers = {kIdCancel};
    EXPECT_FALSE(CheckInstalledProduct(system, system.stopReason));
    EXPECT_EQ(system.boxes, (Boxes{{c.shown, 0x41}}));
    EXPECT_NE(system.Traced(c.traced), "");
  }
}

TEST(CheckInstalledProduct, ProductCodeEndingInLineFeedFindsNoKey) {
  FakeSystem system = Machine("3.10", "3.9");
  system.files[kInf] = kCode + "\n";
  EXPECT_TRUE(CheckInstalledProduct(system, system.stopReason));
  EXPECT_EQ(system.Called("ReadUninstallValues"), "ReadUninstallValues:" + kKey + "\n");
  EXPECT_TRUE(system.boxes.empty());
}

TEST(UninstallProduct, WhenNothingIsRemoved) {
  const struct {
    const char* name;
    std::string productCode, packageVersion;
    bool systemDirectory, startable, result, removed;
    const char* traced;
  } cases[] = {
      {"empty package version", kCode, "", true, true, true, false,
       "package version empty: nothing removed"},
      {"empty product code, version set", "", "3.10", true, true, true, true,
       "ended with exit code 0"},
      {"no system directory", kCode, "3.10", false, true, true, false,
       "system folder not found: nothing removed"},
      {"msiexec cannot start", kCode, "3.10", true, false, false, false, "could not be started"},
      {"removal ran", kCode, "3.10", true, true, true, true, "ended with exit code 1603"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeSystem system;
    if (!c.systemDirectory) system.systemDirectory.reset();
    if (!c.startable) system.unstartable.insert(kRemoval);
    system.exitCodes[kRemoval] = 1603;
    EXPECT_EQ(UninstallProduct(system, {c.productCode, c.packageVersion, "3.9"}), c.result);
    EXPECT_TRUE(system.boxes.empty());
    const Strings removal = {BuildUninstallCommandLine("C:\\Windows\\system32", c.productCode)};
    EXPECT_EQ(system.started, c.removed ? removal : Strings{});
    EXPECT_NE(system.LastTraced().find(c.traced), std::string::npos);
  }
}

TEST(IsProductInUse, ManyRetriesDoNotGrowTheStack) {
  FakeSystem system = Machine("3.10", "3.9");
  system.lockedFiles.insert(kExe);
  system.answers = std::deque<int>(100000, kIdRetry);
  system.answers.push_back(kIdCancel);
  EXPECT_TRUE(IsProductInUse(system, kLocation, system.stopReason));
  EXPECT_EQ(system.boxes.size(), 100001u);
}

TEST(FormatMessageArgument, Table) {
  const struct {
    const char *format, *argument, *text;
  } cases[] = {
      {"Tessaro : %s", "3.9", "Tessaro : 3.9"}, {"100%% %s", "x", "100% x"},
      {"%s at 100%%", "x", "x at 100%"},        {"%s", "%s", "%s"},
      {"%d trailing %", "v", "%d trailing %"},  {"no directive", "v", "no directive"},
  };
  for (const auto& c : cases) EXPECT_EQ(FormatMessageArgument(c.format, c.argument), c.text);
}

}  // namespace
}  // namespace tessaro::testing
