// TS_INF as the real file system delivers it: missing, empty, locked, valid.
#include <gtest/gtest.h>

#include "harness.h"

namespace tessaro::e2e {
namespace {

TEST(PackageInfo, MessageWhenTsInfIsMissing) {
  Medium medium("info-missing");
  medium.AddStandIn("Setup.exe", "");
  LauncherRun run(medium.launcherPath());
  const Box box = run.NextBox();
  EXPECT_EQ(box.caption, "Launch");
  EXPECT_EQ(box.text, ExpectedMessages().infoOpenFailed);
  EXPECT_EQ(box.icon, BoxIcon::kError);
  EXPECT_EQ(box.buttons, std::vector<int>{IDOK});
  PressButton(box, IDOK);
  EXPECT_EQ(run.WaitForExit(), 4);
  EXPECT_FALSE(FileExists(medium.directory() + "Setup.record"));
}

TEST(PackageInfo, MessageWhenAnotherProcessHoldsTsInfExclusively) {
  Medium medium("info-locked");
  medium.AddStandIn("Setup.exe", "");
  medium.WriteInfo("{0B8C1D2E-3F40-4A5B-8C6D-7E8F9A0B1C2D},3.10\r\n");
  HANDLE held = CreateFileA((medium.directory() + "TS_INF").c_str(), GENERIC_READ, 0, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  LauncherRun run(medium.launcherPath());
  const Box box = run.NextBox();
  EXPECT_EQ(box.text, ExpectedMessages().infoOpenFailed);
  PressButton(box, IDOK);
  EXPECT_EQ(run.WaitForExit(), 4);
  CloseHandle(held);
  EXPECT_FALSE(FileExists(medium.directory() + "Setup.record"));
}

// Read as the file system delivers it: an empty file stops the run silently, a valid one for a
// product that is not installed lets the installer start.
TEST(PackageInfo, ContentDecidesWithoutAWord) {
  const struct {
    const char* name;
    const char* info;
    long exitCode;
    bool installerStarted;
  } cases[] = {
      {"empty", "", 4, false},
      {"valid, not installed", "{0B8C1D2E-3F40-4A5B-8C6D-7E8F9A0B1C2D},3.10\r\n", 0, true},
  };
  for (const auto& c : cases) {
    Medium medium("info-content");
    medium.AddStandIn("Setup.exe", "");
    medium.WriteInfo(c.info);
    LauncherRun run(medium.launcherPath());
    EXPECT_EQ(run.WaitForExit(), c.exitCode) << c.name;
    EXPECT_TRUE(run.unexpectedBoxes.empty()) << c.name;
    EXPECT_EQ(FileExists(medium.directory() + "Setup.record"), c.installerStarted) << c.name;
  }
}

}  // namespace
}  // namespace tessaro::e2e
