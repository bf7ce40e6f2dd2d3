#include "instrument.h"

namespace tessaro::e2e {
namespace {

unsigned long long Ticks(const FILETIME& time) {
  return (static_cast<unsigned long long>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

void CloseFileSearch(HANDLE search) { FindClose(search); }
using UniqueFileSearch = platform::UniqueOwner<HANDLE, CloseFileSearch>;

}  // namespace

void RemoveTree(const std::string& path) {
  WIN32_FIND_DATAA entry;
  UniqueFileSearch search(FindFirstFileA((path + "\\*").c_str(), &entry));
  for (bool more = search.valid(); more; more = FindNextFileA(search.get(), &entry)) {
    const std::string name = entry.cFileName;
    const std::string child = path + "\\" + name;
    if (name == "." || name == "..") continue;
    SetFileAttributesA(child.c_str(), FILE_ATTRIBUTE_NORMAL);
    (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? RemoveTree(child)
                                                        : (void)DeleteFileA(child.c_str());
  }
  search.reset();  // an open search would keep the folder
  RemoveDirectoryA(path.c_str());
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

ChildProcess::ChildProcess(const std::string& commandLine, const StartOptions& options) {
  STARTUPINFOEXA extended = {};
  STARTUPINFOA& startup = extended.StartupInfo;
  startup.cb = sizeof startup;
  startup.lpTitle = const_cast<char*>(options.consoleTitle);
  DWORD creationFlags = options.creationFlags;
  std::vector<char> attributeBytes;
  if (options.pseudoConsole != nullptr) {
    // PROC_THREAD_ATTRIBUTE_PSEUDOCONSOLE, which the headers hide below Windows 10 1809.
    constexpr DWORD_PTR kPseudoConsoleAttribute = 0x00020016;
    SIZE_T size = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    attributeBytes.resize(size);
    extended.lpAttributeList =
        reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attributeBytes.data());
    InitializeProcThreadAttributeList(extended.lpAttributeList, 1, 0, &size);
    UpdateProcThreadAttribute(extended.lpAttributeList, 0, kPseudoConsoleAttribute,
                              options.pseudoConsole, sizeof options.pseudoConsole, nullptr,
                              nullptr);
    startup.cb = sizeof extended;
    creationFlags |= EXTENDED_STARTUPINFO_PRESENT;
  }
  // Only the child may hold the pipe's write end, or reading would never see its end.
  platform::UniqueHandle writeEnd;
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  if (options.captureOutput && CreatePipe(output_.receive(), writeEnd.receive(), &inherit, 0)) {
    SetHandleInformation(output_.get(), HANDLE_FLAG_INHERIT, 0);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = startup.hStdError = writeEnd.get();
  }
  PROCESS_INFORMATION info = {};
  std::string line = commandLine;  // CreateProcessA may write into it
  const char* folder = options.folder.empty() ? nullptr : options.folder.c_str();
  const BOOL created = CreateProcessA(nullptr, line.data(), nullptr, nullptr, options.captureOutput,
                                      creationFlags, nullptr, folder, &startup, &info);
  if (!created) startError_ = GetLastError();
  if (extended.lpAttributeList != nullptr) DeleteProcThreadAttributeList(extended.lpAttributeList);
  if (!created) return;
  process_ = platform::UniqueHandle(info.hProcess);
  CloseHandle(info.hThread);
  processId_ = info.dwProcessId;
  threadId_ = info.dwThreadId;
}

long ChildProcess::Wait(DWORD timeoutMs, const std::function<void()>& whileRunning) const {
  const auto ended = [&] {
    if (!StillRunningAfter(100)) return true;
    if (whileRunning) whileRunning();
    return false;
  };
  DWORD code = 0;
  if (!started() || !WaitUntil(ended, timeoutMs, 0)) return -1;
  return GetExitCodeProcess(process_.get(), &code) ? static_cast<long>(code) : -1;
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
  while (output_.valid() && ReadFile(output_.get(), buffer, sizeof buffer, &got, nullptr) && got)
    output.append(buffer, got);
  return output;
}

}  // namespace tessaro::e2e
