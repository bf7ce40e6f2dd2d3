// The real platform calls behind the in-use test: probing a file never creates or changes it.
#include <gtest/gtest.h>

#include "harness.h"
#include "platform/windows_system.h"

namespace tessaro::e2e {
namespace {

ULONGLONG LastWrite(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data = {};
  GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data);
  return (static_cast<ULONGLONG>(data.ftLastWriteTime.dwHighDateTime) << 32) |
         data.ftLastWriteTime.dwLowDateTime;
}

TEST(LockTest, ProbingForWritingNeverCreatesOrChangesTheFile) {
  const std::string folder = "C:\\tessaro-e2e\\lock-probe";
  RemoveTree(folder);
  CreateDirectoryA("C:\\tessaro-e2e", nullptr);
  CreateDirectoryA(folder.c_str(), nullptr);
  const std::string missing = folder + "\\Tessaro.exe";
  const std::string present = folder + "\\Present.exe";
  WriteFileBytes(present, "MZ original bytes");
  const ULONGLONG written = LastWrite(present);
  Sleep(50);

  platform::WindowsSystem system;
  EXPECT_FALSE(system.CanOpenForWriting(missing));
  EXPECT_FALSE(FileExists(missing)) << "the probe created the file it looked for";

  EXPECT_TRUE(system.CanOpenForWriting(present));
  std::string bytes;
  EXPECT_TRUE(system.ReadFileStart(present, 100, bytes));
  EXPECT_EQ(bytes, "MZ original bytes");
  EXPECT_EQ(LastWrite(present), written);

  // Held by someone who shares reading only: the probe must fail, and still change nothing.
  HANDLE held = CreateFileA(present.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(system.CanOpenForWriting(present));
  CloseHandle(held);
  EXPECT_EQ(LastWrite(present), written);
}

}  // namespace
}  // namespace tessaro::e2e
