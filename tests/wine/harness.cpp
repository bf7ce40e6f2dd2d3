#include "harness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace tessaro::e2e {

std::string TestProgramDirectory() {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string text = path;
  return text.substr(0, text.find_last_of('\\') + 1);
}

std::string BuiltLauncherPath() {
  const char* build = std::getenv("TESSARO_E2E_BUILD");
  if (build != nullptr && std::string(build) == "win32") {
    return TestProgramDirectory() + "..\\..\\..\\win32\\Launch.exe";
  }
  return TestProgramDirectory() + "..\\..\\Launch.exe";
}

bool LauncherIs32Bit() {
  DWORD type = 0;
  return GetBinaryTypeA(BuiltLauncherPath().c_str(), &type) && type == SCS_32BIT_BINARY;
}

std::string StandInPath() { return TestProgramDirectory() + "stand_in.exe"; }

void RemoveTree(const std::string& path) {
  WIN32_FIND_DATAA entry;
  HANDLE search = FindFirstFileA((path + "\\*").c_str(), &entry);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      const std::string name = entry.cFileName;
      if (name == "." || name == "..") continue;
      const std::string child = path + "\\" + name;
      SetFileAttributesA(child.c_str(), FILE_ATTRIBUTE_NORMAL);
      if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        RemoveTree(child);
      } else {
        DeleteFileA(child.c_str());
      }
    } while (FindNextFileA(search, &entry));
    FindClose(search);
  }
  RemoveDirectoryA(path.c_str());
}

void WriteFileBytes(const std::string& path, const std::string& bytes) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file << bytes;
}

bool FileExists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::map<std::string, std::string> ReadRecord(const std::string& path) {
  std::map<std::string, std::string> record;
  std::ifstream file(path, std::ios::binary);
  std::string line;
  while (std::getline(file, line)) {
    const std::size_t equals = line.find('=');
    if (equals != std::string::npos) record[line.substr(0, equals)] = line.substr(equals + 1);
  }
  return record;
}

bool JapaneseLocale() { return GetACP() == 932; }

Medium::Medium(const std::string& name, const std::string& launcherName)
    : directory_("C:\\tessaro-e2e\\" + name + "\\"), launcherName_(launcherName) {
  CreateDirectoryA("C:\\tessaro-e2e", nullptr);
  RemoveTree(directory_.substr(0, directory_.size() - 1));
  // Nested names ("a\\b c\\") need each level.
  for (std::size_t at = directory_.find('\\', 3); at != std::string::npos;
       at = directory_.find('\\', at + 1)) {
    CreateDirectoryA(directory_.substr(0, at).c_str(), nullptr);
  }
  EXPECT_TRUE(CopyFileA(BuiltLauncherPath().c_str(), launcherPath().c_str(), FALSE))
      << "cannot copy " << BuiltLauncherPath();
}

void Medium::AddStandIn(const std::string& fileName, const std::string& config,
                        const std::string& folder) {
  const std::string target = (folder.empty() ? directory_ : folder) + fileName;
  EXPECT_TRUE(CopyFileA(StandInPath().c_str(), target.c_str(), FALSE)) << target;
  WriteFileBytes(target.substr(0, target.find_last_of('.')) + ".cfg", config);
}

std::map<std::string, std::string> Medium::Record(const std::string& standInName) const {
  return ReadRecord(directory_ + standInName.substr(0, standInName.find_last_of('.')) + ".record");
}

LauncherRun::LauncherRun(const std::string& path, DWORD creationFlags,
                         const std::string& currentDirectory, const char* consoleTitle) {
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  startup.lpTitle = const_cast<char*>(consoleTitle);
  PROCESS_INFORMATION info = {};
  std::string commandLine = "\"" + path + "\"";
  if (CreateProcessA(path.c_str(), commandLine.data(), nullptr, nullptr, FALSE, creationFlags,
                     nullptr, currentDirectory.empty() ? nullptr : currentDirectory.c_str(),
                     &startup, &info)) {
    process_ = info.hProcess;
    thread_ = info.hThread;
    processId_ = info.dwProcessId;
    threadId_ = info.dwThreadId;
  }
  EXPECT_TRUE(started()) << "cannot start " << path << " error " << GetLastError();
}

LauncherRun::~LauncherRun() {
  if (process_ != nullptr) {
    if (WaitForSingleObject(process_, 0) == WAIT_TIMEOUT) TerminateProcess(process_, 99);
    CloseHandle(process_);
  }
  if (thread_ != nullptr) CloseHandle(thread_);
}

Box LauncherRun::NextBox(DWORD timeoutMs) {
  std::optional<Box> box = started() ? WaitForBox(processId_, timeoutMs) : std::nullopt;
  EXPECT_TRUE(box.has_value()) << "the launcher showed no box";
  return box.value_or(Box{});
}

long LauncherRun::WaitForExit(DWORD timeoutMs) {
  if (!started()) return -1;
  const ULONGLONG deadline = GetTickCount64() + timeoutMs;
  while (WaitForSingleObject(process_, 100) == WAIT_TIMEOUT) {
    if (GetTickCount64() > deadline) return -1;
    if (std::optional<Box> box = WaitForBox(processId_, 0)) {
      unexpectedBoxes.push_back(box->text);
      CloseBox(*box);
    }
  }
  DWORD code = 0;
  GetExitCodeProcess(process_, &code);
  return static_cast<long>(code);
}

bool LauncherRun::StillRunningAfter(DWORD milliseconds) const {
  return WaitForSingleObject(process_, milliseconds) == WAIT_TIMEOUT;
}

const Messages& ExpectedMessages() {
  static const Messages english = {
      "Could not launch the installer of Tessaro.",
      "Can not open TS_INF.",
      "The following applications are already installed.\n\nTessaro : %s\n\nInstallation is not "
      "possible in conjunction with these applications.\nDo you uninstall these applications?",
      "Unable to continue as Tessaro is in use.\nExit Tessaro and click Retry to continue.",
  };
  static const Messages japanese = {
      "Tessaroのインストーラ起動に失敗しました。",
      "TS_INFの読込みに失敗しました。",
      "この環境には次の製品がインストールされています。\n\nTessaro  : %s\n\nインストールを行う"
      "には、既存の製品を削除する必要があります。\n既存の製品をアンインストールしますか?",
      "Tessaroが実行中のため処理を継続できません。\nTessaroを終了してから、「再試行」をクリック"
      "してください。",
  };
  // A run under a Japanese LC_ALL that Wine did not honour would pass on the English texts.
  const char* locale = std::getenv("LC_ALL");
  if (locale != nullptr && std::string(locale).rfind("ja_JP", 0) == 0) {
    EXPECT_TRUE(JapaneseLocale()) << "the Japanese run is not under code page 932";
  }
  return JapaneseLocale() ? japanese : english;
}

}  // namespace tessaro::e2e
