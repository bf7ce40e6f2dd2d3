#include "instrument.h"

#include <cstdlib>
#include <fstream>

namespace tessaro::e2e {
namespace {

unsigned long long Ticks(const FILETIME& time) {
  return (static_cast<unsigned long long>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

}  // namespace

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
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

bool FileExists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string FileStamp(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data = {};
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return "missing";
  const unsigned long long size =
      (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  return "size " + std::to_string(size) + " written " + std::to_string(Ticks(data.ftLastWriteTime));
}

unsigned long long Now100ns() {
  FILETIME now;
  GetSystemTimePreciseAsFileTime(&now);
  return Ticks(now);
}

Record ReadRecord(const std::string& path) {
  Record record;
  std::ifstream file(path, std::ios::binary);
  std::string line;
  while (std::getline(file, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::size_t equals = line.find('=');
    if (equals != std::string::npos) record[line.substr(0, equals)] = line.substr(equals + 1);
  }
  return record;
}

void AppendRecord(const std::string& path, const Record& fields) {
  std::ofstream file(path, std::ios::binary | std::ios::app);
  for (const auto& [key, value] : fields) file << key << '=' << value << '\n';
}

bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs, DWORD stepMs) {
  const ULONGLONG deadline = GetTickCount64() + timeoutMs;
  while (!condition()) {
    if (GetTickCount64() >= deadline) return false;
    Sleep(stepMs);
  }
  return true;
}

ChildProcess::ChildProcess(const std::string& commandLine, DWORD creationFlags,
                           const std::string& folder, const char* consoleTitle,
                           bool captureOutput) {
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  startup.lpTitle = const_cast<char*>(consoleTitle);
  // Only the child may hold the pipe's write end, or reading would never see its end.
  platform::UniqueHandle writeEnd;
  if (captureOutput) {
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE readHandle = nullptr;
    HANDLE writeHandle = nullptr;
    if (CreatePipe(&readHandle, &writeHandle, &inherit, 0)) {
      output_ = platform::UniqueHandle(readHandle);
      writeEnd = platform::UniqueHandle(writeHandle);
      SetHandleInformation(readHandle, HANDLE_FLAG_INHERIT, 0);
    }
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = startup.hStdError = writeEnd.get();
  }
  PROCESS_INFORMATION info = {};
  std::string line = commandLine;  // CreateProcessA may write into it
  if (CreateProcessA(nullptr, line.data(), nullptr, nullptr, captureOutput, creationFlags, nullptr,
                     folder.empty() ? nullptr : folder.c_str(), &startup, &info)) {
    process_ = platform::UniqueHandle(info.hProcess);
    thread_ = platform::UniqueHandle(info.hThread);
    processId_ = info.dwProcessId;
    threadId_ = info.dwThreadId;
  } else {
    startError_ = GetLastError();
  }
}

ChildProcess::~ChildProcess() {
  if (StillRunningAfter(0)) {
    TerminateProcess(process_.get(), 99);
    // Until it is gone it may hold files that the next test removes.
    WaitForSingleObject(process_.get(), 10000);
  }
}

long ChildProcess::Wait(DWORD timeoutMs, const std::function<void(const Box&)>& onBox,
                        bool boxesOfAnyProcess) const {
  if (!started()) return -1;
  const bool ended = onBox ? WaitUntil(
                                 [&] {
                                   if (!StillRunningAfter(100)) return true;
                                   if (auto box = WaitForBox(boxesOfAnyProcess ? 0 : processId_, 0))
                                     onBox(*box);
                                   return false;
                                 },
                                 timeoutMs, 0)
                           : !StillRunningAfter(timeoutMs);
  DWORD code = 0;
  if (!ended || !GetExitCodeProcess(process_.get(), &code)) return -1;
  return static_cast<long>(code);
}

bool ChildProcess::StillRunningAfter(DWORD milliseconds) const {
  return started() && WaitForSingleObject(process_.get(), milliseconds) == WAIT_TIMEOUT;
}

ChildProcess::Times ChildProcess::times() const {
  FILETIME created = {}, exited = {}, kernel = {}, user = {};
  GetProcessTimes(process_.get(), &created, &exited, &kernel, &user);
  return {Ticks(exited), Ticks(kernel) + Ticks(user)};
}

std::string ChildProcess::ReadOutput() const {
  std::string output;
  char buffer[256];
  DWORD got = 0;
  while (output_.valid() && ReadFile(output_.get(), buffer, sizeof buffer, &got, nullptr) &&
         got != 0) {
    output.append(buffer, got);
  }
  return output;
}

}  // namespace tessaro::e2e
