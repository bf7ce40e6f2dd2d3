// The real platform calls behind the in-use test: probing a file never creates or changes it.
#include <gtest/gtest.h>

#include "harness.h"
#include "platform/windows_system.h"

namespace tessaro::e2e {
namespace {

TEST(LockTest, ProbingForWritingNeverCreatesOrChangesTheFile) {
  const Medium folder("lock-probe");
  const std::string missing = folder.directory() + "Tessaro.exe";
  const std::string present = folder.directory() + "Present.exe";
  WriteFileBytes(present, "MZ original bytes");
  const std::string written = FileStamp(present);
  Sleep(50);

  platform::WindowsSystem system;
  EXPECT_FALSE(system.CanOpenForWriting(missing));
  EXPECT_FALSE(FileExists(missing)) << "the probe created the file it looked for";

  EXPECT_TRUE(system.CanOpenForWriting(present));
  std::string bytes;
  EXPECT_TRUE(system.ReadFileStart(present, 100, bytes));
  EXPECT_EQ(bytes, "MZ original bytes");
  EXPECT_EQ(FileStamp(present), written);

  // Held by someone who shares reading only: the probe must fail, and still change nothing.
  platform::UniqueHandle held(CreateFileA(present.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(held.valid());
  EXPECT_FALSE(system.CanOpenForWriting(present));
  held.reset();
  EXPECT_EQ(FileStamp(present), written);
}

}  // namespace
}  // namespace tessaro::e2e
