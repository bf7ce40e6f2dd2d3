// The launcher against a Tessaro that Wine's own Windows Installer put on the machine: what it
// asks, what it removes and when, and what it leaves alone.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "harness.h"

namespace tessaro::e2e {
namespace {

constexpr char kProductCode[] = "{6F1C2A3B-4D5E-4F60-8172-93A4B5C6D7E8}";
// Never installed by any package: a key of its own for values no installer would write.
constexpr char kFakeProductCode[] = "{0D1E2F30-4152-4637-8899-AABBCCDDEEFF}";
constexpr char kUninstallKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
constexpr DWORD kProcessTimeoutMs = 60000;
constexpr DWORD kAppEndTimeoutMs = 10000;

// The 32-bit launcher reads the 32-bit registry view, where the x86 package registers; the
// 64-bit twin reads the 64-bit view, where the x64 package does.
REGSAM ViewOf(bool x86Package) { return x86Package ? KEY_WOW64_32KEY : KEY_WOW64_64KEY; }
REGSAM LauncherView() { return ViewOf(LauncherIs32Bit()); }
REGSAM OtherView() { return ViewOf(!LauncherIs32Bit()); }

// The x86 package installs into the 32-bit Program Files.
std::string InstallFolder() {
  return LauncherIs32Bit() ? "C:\\Program Files (x86)\\Tessaro" : "C:\\Program Files\\Tessaro";
}
std::string ProductExecutable() { return InstallFolder() + "\\Tessaro.exe"; }
std::string StopFile() { return InstallFolder() + "\\Tessaro.stop"; }

// The stand-in is a 64-bit program: it sees the 32-bit view under WOW6432Node.
std::string SetupConfigRecordingTheProductKey() {
  const std::string uninstallKey =
      LauncherIs32Bit() ? "SOFTWARE\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
                        : kUninstallKey;
  return "registry_key=" + uninstallKey + kProductCode + "\n";
}

std::string Info(const char* productCode, const std::string& version) {
  return std::string(productCode) + "," + version + "\r\n";
}

std::string AlreadyInstalledText(const std::string& version) {
  std::string text = ExpectedMessages().alreadyInstalled;
  text.replace(text.find("%s"), 2, version);
  return text;
}

bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs) {
  const ULONGLONG deadline = GetTickCount64() + timeoutMs;
  while (!condition()) {
    if (GetTickCount64() > deadline) return false;
    Sleep(25);
  }
  return true;
}

// The exit code, or -1 when the program could not start or had to be killed.
long RunToEnd(const std::string& commandLine) {
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info = {};
  std::string line = commandLine;
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &info)) {
    return -1;
  }
  long result = -1;
  if (WaitForSingleObject(info.hProcess, kProcessTimeoutMs) == WAIT_OBJECT_0) {
    DWORD code = 0;
    GetExitCodeProcess(info.hProcess, &code);
    result = static_cast<long>(code);
  } else {
    TerminateProcess(info.hProcess, 99);
  }
  CloseHandle(info.hThread);
  CloseHandle(info.hProcess);
  return result;
}

std::string Msiexec() {
  char directory[MAX_PATH] = {};
  GetSystemDirectoryA(directory, MAX_PATH);
  return "\"" + std::string(directory) + "\\msiexec.exe\"";
}

std::string SamplePackage(const std::string& version, bool x86Package) {
  const std::string relative = TestProgramDirectory() + "..\\..\\sample\\Tessaro-" + version +
                               (x86Package ? "-x86" : "") + ".msi";
  char full[MAX_PATH] = {};
  GetFullPathNameA(relative.c_str(), MAX_PATH, full, nullptr);
  return full;
}

bool ProductKeyExists(const char* productCode = kProductCode, REGSAM view = LauncherView()) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, (std::string(kUninstallKey) + productCode).c_str(), 0,
                    KEY_READ | view, &key) != ERROR_SUCCESS) {
    return false;
  }
  RegCloseKey(key);
  return true;
}

bool SetProductValue(const char* productCode, const char* name, DWORD type,
                     const std::string& bytes) {
  HKEY key = nullptr;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, (std::string(kUninstallKey) + productCode).c_str(), 0,
                      nullptr, 0, KEY_SET_VALUE | LauncherView(), nullptr, &key,
                      nullptr) != ERROR_SUCCESS) {
    return false;
  }
  const LONG set = RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                                  static_cast<DWORD>(bytes.size()));
  RegCloseKey(key);
  return set == ERROR_SUCCESS;
}

bool DeleteProductValue(const char* productCode, const char* name) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, (std::string(kUninstallKey) + productCode).c_str(), 0,
                    KEY_SET_VALUE | LauncherView(), &key) != ERROR_SUCCESS) {
    return false;
  }
  const LONG deleted = RegDeleteValueA(key, name);
  RegCloseKey(key);
  return deleted == ERROR_SUCCESS;
}

// How the registry keeps a REG_DWORD, and so what a reader asking for bytes gets back.
std::string LittleEndianBytes(DWORD value) {
  std::string bytes;
  for (int shift = 0; shift < 32; shift += 8) bytes += static_cast<char>((value >> shift) & 0xFF);
  return bytes;
}

bool CanOpenForWriting(const std::string& path) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  CloseHandle(file);
  return true;
}

// Size and last write: what would change if anything rewrote or replaced the file.
struct FileStamp {
  bool exists = false;
  ULONGLONG size = 0;
  ULONGLONG lastWrite = 0;
  bool operator==(const FileStamp& other) const {
    return exists == other.exists && size == other.size && lastWrite == other.lastWrite;
  }
};

void PrintTo(const FileStamp& stamp, std::ostream* out) {
  *out << (stamp.exists ? "size " + std::to_string(stamp.size) + " written " +
                              std::to_string(stamp.lastWrite)
                        : std::string("missing"));
}

FileStamp StampOf(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data = {};
  FileStamp stamp;
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return stamp;
  stamp.exists = true;
  stamp.size = (static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  stamp.lastWrite = (static_cast<ULONGLONG>(data.ftLastWriteTime.dwHighDateTime) << 32) |
                    data.ftLastWriteTime.dwLowDateTime;
  return stamp;
}

// Every test starts and ends with no Tessaro on the machine, whatever an earlier test left:
// an installed product, a running Tessaro.exe, files the installer did not put there.
class TessaroOnTheMachine {
 public:
  TessaroOnTheMachine() { Clear(); }
  ~TessaroOnTheMachine() { Clear(); }
  TessaroOnTheMachine(const TessaroOnTheMachine&) = delete;
  TessaroOnTheMachine& operator=(const TessaroOnTheMachine&) = delete;

  // By default the package whose product the launcher under test is meant to see.
  bool Install(const std::string& version = "3.9.0", bool x86Package = LauncherIs32Bit()) {
    const std::string package = SamplePackage(version, x86Package);
    const long code = RunToEnd(Msiexec() + " /i \"" + package + "\" /qn");
    EXPECT_EQ(code, 0) << "msiexec /i " << package;
    return code == 0 && ProductKeyExists(kProductCode, ViewOf(x86Package)) &&
           (x86Package != LauncherIs32Bit() || FileExists(ProductExecutable()));
  }

  // Returns once the running program keeps its file from being opened for writing.
  bool StartApp() {
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    // Its own time limit too, so that not even a killed test program leaves it for long.
    std::string line = "\"" + ProductExecutable() + "\" 120000";
    if (!CreateProcessA(ProductExecutable().c_str(), line.data(), nullptr, nullptr, FALSE, 0,
                        nullptr, nullptr, &startup, &info)) {
      return false;
    }
    CloseHandle(info.hThread);
    app_ = info.hProcess;
    return WaitUntil([] { return !CanOpenForWriting(ProductExecutable()); }, kAppEndTimeoutMs);
  }

  // Ends the program the way the product expects to be ended; true when it ended by itself.
  bool StopApp() {
    if (app_ == nullptr) return true;
    WriteFileBytes(StopFile(), "");
    const bool ended = WaitForSingleObject(app_, kAppEndTimeoutMs) == WAIT_OBJECT_0;
    if (!ended) TerminateProcess(app_, 99);
    WaitForSingleObject(app_, kAppEndTimeoutMs);
    CloseHandle(app_);
    app_ = nullptr;
    // Left behind, it would keep the installer from removing the folder.
    DeleteFileA(StopFile().c_str());
    return ended;
  }

 private:
  void Clear() {
    StopApp();
    if (FileExists(ProductExecutable()) && !CanOpenForWriting(ProductExecutable())) {
      // A Tessaro.exe that a killed test program left running.
      WriteFileBytes(StopFile(), "");
      WaitUntil([] { return CanOpenForWriting(ProductExecutable()); }, kAppEndTimeoutMs);
    }
    DeleteFileA(StopFile().c_str());
    if (ProductKeyExists() || ProductKeyExists(kProductCode, OtherView())) {
      EXPECT_EQ(RunToEnd(Msiexec() + " /x " + kProductCode + " /qn"), 0) << "msiexec /x";
    }
    EXPECT_FALSE(ProductKeyExists() || ProductKeyExists(kProductCode, OtherView()))
        << "Tessaro could not be removed";
    // A removal while Tessaro.exe ran leaves the file behind, and a later install would keep it.
    RemoveTree(InstallFolder());
  }

  HANDLE app_ = nullptr;
};

Medium MediumWithSetup(const std::string& name, const std::string& info) {
  Medium medium(name);
  medium.WriteInfo(info);
  medium.AddStandIn("Setup.exe", SetupConfigRecordingTheProductKey());
  return medium;
}

bool SetupStarted(const Medium& medium) {
  return medium.Record("Setup.exe").count("command_line") != 0;
}

void ExpectAlreadyInstalledBox(const Box& box, const std::string& version) {
  EXPECT_EQ(box.caption, "Launch");
  EXPECT_EQ(box.text, AlreadyInstalledText(version));
  EXPECT_EQ(box.icon, BoxIcon::kInformation);
  EXPECT_EQ(box.buttons, (std::vector<int>{IDOK, IDCANCEL}));
}

void ExpectInUseBox(const Box& box) {
  EXPECT_EQ(box.caption, "Launch");
  EXPECT_EQ(box.text, ExpectedMessages().productInUse);
  EXPECT_EQ(box.icon, BoxIcon::kError);
  EXPECT_EQ(box.buttons, (std::vector<int>{IDCANCEL, IDRETRY}));
}

TEST(InstalledProduct, SameVersionInAnotherSpellingStartsTheInstallerAndKeepsTheProduct) {
  TessaroOnTheMachine tessaro;
  ASSERT_TRUE(tessaro.Install("3.9.0"));
  const FileStamp installed = StampOf(ProductExecutable());
  for (const char* version : {"3.9", "3.9.0", "03.09"}) {
    SCOPED_TRACE(version);
    ASSERT_TRUE(ProductKeyExists());
    Medium medium = MediumWithSetup("installed-same", Info(kProductCode, version));
    LauncherRun run(medium.launcherPath());
    EXPECT_EQ(run.WaitForExit(), 0);
    EXPECT_TRUE(run.unexpectedBoxes.empty()) << run.unexpectedBoxes.front();
    EXPECT_EQ(medium.Record("Setup.exe")["registry_key_exists"], "1");
    EXPECT_TRUE(ProductKeyExists());
    EXPECT_EQ(StampOf(ProductExecutable()), installed);
  }
}

TEST(InstalledProduct, MessageAlreadyInstalledDeclinedLeavesTheProductUntouched) {
  const struct {
    const char* how;
    std::function<void(const Box&)> decline;
  } answers[] = {
      {"Cancel", [](const Box& box) { PressButton(box, IDCANCEL); }},
      {"closed", [](const Box& box) { CloseBox(box); }},
  };
  TessaroOnTheMachine tessaro;
  ASSERT_TRUE(tessaro.Install("3.9.0"));
  const FileStamp installed = StampOf(ProductExecutable());
  for (const auto& answer : answers) {
    SCOPED_TRACE(answer.how);
    Medium medium = MediumWithSetup("installed-declined", Info(kProductCode, "3.10.0"));
    LauncherRun run(medium.launcherPath());
    const Box box = run.NextBox();
    ASSERT_NE(box.window, nullptr);
    ExpectAlreadyInstalledBox(box, "3.9.0");
    answer.decline(box);
    EXPECT_EQ(run.WaitForExit(), 4);
    EXPECT_TRUE(run.unexpectedBoxes.empty()) << run.unexpectedBoxes.front();
    EXPECT_FALSE(SetupStarted(medium));
    EXPECT_TRUE(ProductKeyExists());
    EXPECT_EQ(StampOf(ProductExecutable()), installed);
  }
}

// The second row posts WM_QUIT once the question is gone, while the launcher waits for the
// Windows Installer: the wait must take it off the queue, or the box of message 104 that follows
// on a medium without Setup.exe would end at once, unanswered. Wine's removal of the small sample
// lasts about as long as the launcher's first 100 ms wait; one over before the wait first timed
// out leaves the message queued by design, so such a run says nothing and the row is run again.
TEST(InstalledProduct, OkRemovesTheProductBeforeTheInstallerStarts) {
  const struct {
    const char* name;
    bool withSetup;
    bool postQuit;
  } cases[] = {{"installer starts", true, false},
               {"WM_QUIT during removal, no Setup.exe", false, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    for (int attempt = 1; c.postQuit && attempt <= 5; ++attempt) {
      TessaroOnTheMachine tessaro;
      ASSERT_TRUE(tessaro.Install("3.9.0"));
      Medium medium = MediumWithSetup("installed-removed", Info(kProductCode, "3.10.0"));
      DeleteFileA((medium.directory() + "Setup.exe").c_str());
      LauncherRun run(medium.launcherPath());
      const Box question = run.NextBox();
      ASSERT_NE(question.window, nullptr);
      PressButton(question, IDOK);
      ASSERT_TRUE(WaitUntil([&] { return !IsWindow(question.window); }, kAppEndTimeoutMs));
      EXPECT_TRUE(PostThreadMessageA(run.threadId(), WM_QUIT, 0, 0));
      if (WaitUntil([] { return !ProductKeyExists(); }, 150)) {
        std::printf("attempt %d: the removal ended within 150 ms of WM_QUIT, again\n", attempt);
        run.WaitForExit();
        continue;
      }
      const Box launchFailed = run.NextBox(kProcessTimeoutMs);
      ASSERT_NE(launchFailed.window, nullptr);
      EXPECT_EQ(launchFailed.text, ExpectedMessages().launchFailed);
      EXPECT_TRUE(run.StillRunningAfter(1000)) << "the box ended without an answer";
      EXPECT_TRUE(IsWindow(launchFailed.window));
      PressButton(launchFailed, IDOK);
      EXPECT_EQ(run.WaitForExit(), 0);
      EXPECT_TRUE(run.unexpectedBoxes.empty()) << run.unexpectedBoxes.front();
      EXPECT_FALSE(ProductKeyExists());
      break;
    }
    if (c.postQuit) continue;
    TessaroOnTheMachine tessaro;
    ASSERT_TRUE(tessaro.Install("3.9.0"));
    Medium medium = MediumWithSetup("installed-removed", Info(kProductCode, "3.10.0"));
    if (!c.withSetup) DeleteFileA((medium.directory() + "Setup.exe").c_str());
    LauncherRun run(medium.launcherPath());
    const Box question = run.NextBox();
    ASSERT_NE(question.window, nullptr);
    PressButton(question, IDOK);
    EXPECT_EQ(run.WaitForExit(), 0);
    EXPECT_TRUE(run.unexpectedBoxes.empty()) << run.unexpectedBoxes.front();
    if (c.withSetup) {
      EXPECT_EQ(medium.Record("Setup.exe")["registry_key_exists"], "0");
    }
    EXPECT_FALSE(ProductKeyExists());
    EXPECT_FALSE(FileExists(ProductExecutable()));
  }
}

TEST(InstalledProduct, RunningTessaroIsReportedUntilItEndsThenRemoved) {
  TessaroOnTheMachine tessaro;
  ASSERT_TRUE(tessaro.Install("3.9.0"));
  ASSERT_TRUE(tessaro.StartApp());
  Medium medium = MediumWithSetup("installed-running", Info(kProductCode, "3.10.0"));
  LauncherRun run(medium.launcherPath());
  const Box question = run.NextBox();
  ASSERT_NE(question.window, nullptr);
  PressButton(question, IDOK);
  const Box firstInUse = run.NextBox();
  ASSERT_NE(firstInUse.window, nullptr);
  ExpectInUseBox(firstInUse);
  PressButton(firstInUse, IDRETRY);
  const Box secondInUse = run.NextBox();
  ASSERT_NE(secondInUse.window, nullptr);
  ExpectInUseBox(secondInUse);
  EXPECT_TRUE(ProductKeyExists()) << "removed while the user was still being asked";
  EXPECT_TRUE(tessaro.StopApp());
  ASSERT_TRUE(WaitUntil([] { return CanOpenForWriting(ProductExecutable()); }, kAppEndTimeoutMs));
  PressButton(secondInUse, IDRETRY);
  EXPECT_EQ(run.WaitForExit(), 0);
  EXPECT_TRUE(run.unexpectedBoxes.empty()) << run.unexpectedBoxes.front();
  EXPECT_EQ(medium.Record("Setup.exe")["registry_key_exists"], "0");
  EXPECT_FALSE(ProductKeyExists());
  EXPECT_FALSE(FileExists(ProductExecutable()));
}

TEST(InstalledProduct, CancelWhileTessaroRunsKeepsTheProduct) {
  TessaroOnTheMachine tessaro;
  ASSERT_TRUE(tessaro.Install("3.9.0"));
  ASSERT_TRUE(tessaro.StartApp());
  const FileStamp installed = StampOf(ProductExecutable());
  Medium medium = MediumWithSetup("installed-running-cancel", Info(kProductCode, "3.10.0"));
  LauncherRun run(medium.launcherPath());
  const Box question = run.NextBox();
  ASSERT_NE(question.window, nullptr);
  PressButton(question, IDOK);
  const Box inUse = run.NextBox();
  ASSERT_NE(inUse.window, nullptr);
  ExpectInUseBox(inUse);
  PressButton(inUse, IDCANCEL);
  EXPECT_EQ(run.WaitForExit(), 4);
  EXPECT_TRUE(run.unexpectedBoxes.empty()) << run.unexpectedBoxes.front();
  EXPECT_FALSE(SetupStarted(medium));
  EXPECT_TRUE(ProductKeyExists());
  EXPECT_EQ(StampOf(ProductExecutable()), installed);
}

// A Tessaro of the other package architecture lies in the other registry view, where the
// launcher under test never looks: nothing is asked and the installer starts.
TEST(InstalledProduct, ProductOfTheOtherArchitecturesPackageIsNotSeen) {
  TessaroOnTheMachine tessaro;
  ASSERT_TRUE(tessaro.Install("3.9.0", !LauncherIs32Bit()));
  Medium medium = MediumWithSetup("installed-other-view", Info(kProductCode, "3.10.0"));
  LauncherRun run(medium.launcherPath());
  EXPECT_EQ(run.WaitForExit(), 0);
  EXPECT_TRUE(run.unexpectedBoxes.empty()) << run.unexpectedBoxes.front();
  EXPECT_TRUE(SetupStarted(medium));
  EXPECT_TRUE(ProductKeyExists(kProductCode, OtherView()));
}

// Not a running program at all: any holder that refuses writers makes Tessaro count as in use.
TEST(InstalledProduct, ExecutableHeldWithoutWriteSharingIsInUseOnEveryRetry) {
  TessaroOnTheMachine tessaro;
  ASSERT_TRUE(tessaro.Install("3.9.0"));
  const FileStamp installed = StampOf(ProductExecutable());
  // Declared after the product, so that it is let go before the product is removed.
  const struct Held {
    HANDLE file = CreateFileA(ProductExecutable().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ~Held() {
      if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    }
  } held;
  ASSERT_NE(held.file, INVALID_HANDLE_VALUE);
  Medium medium = MediumWithSetup("installed-held", Info(kProductCode, "3.10.0"));
  LauncherRun run(medium.launcherPath());
  const Box question = run.NextBox();
  ASSERT_NE(question.window, nullptr);
  PressButton(question, IDOK);
  for (int retry = 0; retry < 3; ++retry) {
    SCOPED_TRACE("retry " + std::to_string(retry));
    const Box inUse = run.NextBox();
    ASSERT_NE(inUse.window, nullptr);
    ExpectInUseBox(inUse);
    PressButton(inUse, IDRETRY);
  }
  const Box last = run.NextBox();
  ASSERT_NE(last.window, nullptr);
  ExpectInUseBox(last);
  PressButton(last, IDCANCEL);
  EXPECT_EQ(run.WaitForExit(), 4);
  EXPECT_TRUE(run.unexpectedBoxes.empty()) << run.unexpectedBoxes.front();
  EXPECT_FALSE(SetupStarted(medium));
  EXPECT_TRUE(ProductKeyExists());
  EXPECT_EQ(StampOf(ProductExecutable()), installed);
}

// The lock test looks only where InstallLocation points; without a usable one the running
// Tessaro.exe goes unnoticed and the removal runs anyway.
TEST(InstalledProduct, InstallLocationNamingNoExecutableSkipsTheInUseCheck) {
  const struct {
    const char* what;
    std::optional<std::string> location;  // none: the value is deleted
  } cases[] = {
      {"no closing backslash", InstallFolder()},
      {"empty", std::string()},
      {"missing", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TessaroOnTheMachine tessaro;
    ASSERT_TRUE(tessaro.Install("3.9.0"));
    if (c.location) {
      ASSERT_TRUE(SetProductValue(kProductCode, "InstallLocation", REG_SZ,
                                  *c.location + std::string(1, '\0')));
    } else {
      ASSERT_TRUE(DeleteProductValue(kProductCode, "InstallLocation"));
    }
    ASSERT_TRUE(tessaro.StartApp());
    Medium medium = MediumWithSetup("installed-location", Info(kProductCode, "3.10.0"));
    LauncherRun run(medium.launcherPath());
    const Box box = run.NextBox();
    ASSERT_NE(box.window, nullptr);
    ExpectAlreadyInstalledBox(box, "3.9.0");
    PressButton(box, IDOK);
    EXPECT_EQ(run.WaitForExit(), 0);
    EXPECT_TRUE(run.unexpectedBoxes.empty()) << run.unexpectedBoxes.front();
    EXPECT_EQ(medium.Record("Setup.exe")["registry_key_exists"], "0");
    EXPECT_FALSE(ProductKeyExists());
  }
}

// Whatever type the value has, the launcher reads its bytes up to the first NUL; a value too
// long for its buffer counts as absent.
TEST(InstalledProduct, OddDisplayVersionValues) {
  struct FakeKey {
    FakeKey() { Remove(); }
    ~FakeKey() { Remove(); }
    static void Remove() {
      RegDeleteKeyExA(HKEY_LOCAL_MACHINE, (std::string(kUninstallKey) + kFakeProductCode).c_str(),
                      LauncherView(), 0);
    }
  };
  const std::string nines255(255, '9');
  const struct {
    const char* what;
    DWORD type;
    std::string bytes;
    std::optional<std::string> shown;  // the version in message 107; none: no box
  } cases[] = {
      {"DWORD 0x00392E33", REG_DWORD, LittleEndianBytes(0x00392E33), std::string("3.9")},
      {"BINARY without NUL", REG_BINARY, "3.9", std::string("3.9")},
      {"empty SZ", REG_SZ, std::string(1, '\0'), std::nullopt},
      {"SZ of 255 characters, just fits", REG_SZ, nines255 + '\0', nines255},
      {"SZ of 256 characters", REG_SZ, std::string(256, '9') + '\0', std::nullopt},
      {"SZ of 300 characters", REG_SZ, std::string(300, '9') + '\0', std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const FakeKey key;
    ASSERT_TRUE(SetProductValue(kFakeProductCode, "DisplayVersion", c.type, c.bytes));
    Medium medium = MediumWithSetup("installed-odd-version", Info(kFakeProductCode, "3.10"));
    LauncherRun run(medium.launcherPath());
    if (c.shown) {
      const Box box = run.NextBox();
      ASSERT_NE(box.window, nullptr);
      EXPECT_EQ(box.text, AlreadyInstalledText(*c.shown));
      PressButton(box, IDCANCEL);
      EXPECT_EQ(run.WaitForExit(), 4);
      EXPECT_FALSE(SetupStarted(medium));
    } else {
      EXPECT_EQ(run.WaitForExit(), 0);
      EXPECT_TRUE(SetupStarted(medium));
    }
    EXPECT_TRUE(run.unexpectedBoxes.empty()) << run.unexpectedBoxes.front();
    EXPECT_TRUE(ProductKeyExists(kFakeProductCode));
  }
}

}  // namespace
}  // namespace tessaro::e2e
