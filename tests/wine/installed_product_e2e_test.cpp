// The launcher against a Tessaro that Wine's own Windows Installer put on the machine: what it
// asks, what it removes and when, and what it leaves alone.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <tuple>
#include <utility>

#include "harness.h"
// After <windows.h>, which it needs.
#include <tlhelp32.h>

namespace tessaro::e2e {
namespace {

constexpr char kProductCode[] = "{6F1C2A3B-4D5E-4F60-8172-93A4B5C6D7E8}";
// Never installed by any package: a key of its own for values no installer would write.
constexpr char kFakeProductCode[] = "{0D1E2F30-4152-4637-8899-AABBCCDDEEFF}";
const std::string kUninstallKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
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

// The system's Windows Installer, which a bare name finds in the system folder (the test's own
// folder, searched first, holds none): its exit code, -1 when it did not end in time.
long Msiexec(const std::string& arguments) {
  return ChildProcess("msiexec.exe " + arguments).Wait(kProcessTimeoutMs);
}

bool ProductKeyExists(const char* productCode = kProductCode, REGSAM view = LauncherView()) {
  platform::UniqueRegistryKey key;
  return RegOpenKeyExA(HKEY_LOCAL_MACHINE, (kUninstallKey + productCode).c_str(), 0,
                       KEY_READ | view, key.receive()) == ERROR_SUCCESS;
}

// Sets a value of the product's key in the launcher's view; without bytes, deletes it.
bool SetProductValue(const char* productCode, const char* name, DWORD type,
                     const std::optional<std::string>& bytes) {
  platform::UniqueRegistryKey key;
  const LONG opened =
      RegCreateKeyExA(HKEY_LOCAL_MACHINE, (kUninstallKey + productCode).c_str(), 0, nullptr, 0,
                      KEY_SET_VALUE | LauncherView(), nullptr, key.receive(), nullptr);
  if (opened != ERROR_SUCCESS) return false;
  if (!bytes) return RegDeleteValueA(key.get(), name) == ERROR_SUCCESS;
  return RegSetValueExA(key.get(), name, 0, type, reinterpret_cast<const BYTE*>(bytes->data()),
                        static_cast<DWORD>(bytes->size())) == ERROR_SUCCESS;
}

bool CanOpenForWriting(const std::string& path) {
  return OpenExisting(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE).valid();
}

// Every test starts and ends with no Tessaro on the machine, whatever an earlier test left:
// an installed product, a running Tessaro.exe, files the installer did not put there.
class TessaroOnTheMachine {
 public:
  TessaroOnTheMachine() { Clear(); }
  ~TessaroOnTheMachine() { Clear(); }

  // By default the package whose product the launcher under test is meant to see.
  bool Install(const std::string& version = "3.9.0", bool x86Package = LauncherIs32Bit()) {
    const std::string relative = TestProgramDirectory() + "..\\..\\sample\\Tessaro-" + version +
                                 (x86Package ? "-x86" : "") + ".msi";
    char package[MAX_PATH] = {};
    GetFullPathNameA(relative.c_str(), MAX_PATH, package, nullptr);
    EXPECT_EQ(Msiexec("/i \"" + std::string(package) + "\" /qn"), 0) << package;
    installed = FileStamp(ProductExecutable());
    return ProductKeyExists(kProductCode, ViewOf(x86Package)) &&
           (x86Package != LauncherIs32Bit() || FileExists(ProductExecutable()));
  }
  std::string installed;  // the stamp of Tessaro.exe as the installer left it

  // Returns once the running program keeps its file from being opened for writing.
  bool StartApp() {
    // Its own time limit too, so that not even a killed test program leaves it for long.
    app_.emplace("\"" + ProductExecutable() + "\" 120000");
    return WaitUntil([] { return !CanOpenForWriting(ProductExecutable()); }, kAppEndTimeoutMs);
  }

  // Ends the program the way the product expects to be ended, and with it one that a killed
  // test program left running; true when the one it started ended by itself and let go of its
  // file.
  bool StopApp() {
    WriteFileBytes(StopFile(), "");
    const bool ended = !app_ || !app_->StillRunningAfter(kAppEndTimeoutMs);
    app_.reset();
    const bool letGo = WaitUntil(
        [] { return !FileExists(ProductExecutable()) || CanOpenForWriting(ProductExecutable()); },
        kAppEndTimeoutMs);
    // Left behind, it would keep the installer from removing the folder.
    DeleteFileA(StopFile().c_str());
    return ended && letGo;
  }

 private:
  void Clear() {
    StopApp();
    // Values no installer wrote, and no removal takes away.
    RegDeleteKeyExA(HKEY_LOCAL_MACHINE, (kUninstallKey + kFakeProductCode).c_str(), LauncherView(),
                    0);
    if (ProductKeyExists() || ProductKeyExists(kProductCode, OtherView())) {
      EXPECT_EQ(Msiexec(std::string("/x ") + kProductCode + " /qn"), 0) << "msiexec /x";
    }
    EXPECT_FALSE(ProductKeyExists() || ProductKeyExists(kProductCode, OtherView()))
        << "Tessaro could not be removed";
    // A removal while Tessaro.exe ran leaves the file behind, and a later install would keep it.
    RemoveTree(InstallFolder());
  }

  std::optional<ChildProcess> app_;
};

// A medium whose Setup.exe records whether the product's key was still there when it started.
// The stand-in is a 64-bit program: it sees the 32-bit view under WOW6432Node.
Medium MediumOf(const std::string& name, const std::string& version = "3.10.0",
                const char* productCode = kProductCode) {
  const std::string key =
      LauncherIs32Bit() ? "SOFTWARE\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
                        : kUninstallKey;
  return Medium(name, std::string(productCode) + "," + version + "\r\n",
                "registry_key=" + key + kProductCode + "\n");
}

// A run of a 3.10.0 medium against the installed 3.9.0 whose question (message 107) got `answer`.
struct AnsweredRun {
  AnsweredRun(const std::string& name, int answer) : AnsweredRun(MediumOf(name), answer) {}
  AnsweredRun(Medium given, int answer) : medium(std::move(given)), run(medium.launcherPath()) {
    run.Answer(Message::kAlreadyInstalled, answer, "3.9.0");
  }
  // The run stopped before the installer and left the product as the installer left it.
  void ExpectKept(const TessaroOnTheMachine& tessaro) const {
    EXPECT_EQ(run.WaitForExit(), 4);
    EXPECT_FALSE(medium.Ran("Setup.exe"));
    EXPECT_TRUE(ProductKeyExists());
    EXPECT_EQ(FileStamp(ProductExecutable()), tessaro.installed);
  }
  // The product was removed, and before the installer started (when there was one: the installer
  // saw no key, else none ran). A Tessaro.exe that ran during the removal may stay behind.
  void ExpectRemovedFirst(bool tessaroRan, const char* keyAtSetup = "0") const {
    EXPECT_EQ(run.WaitForExit(), 0);
    EXPECT_EQ(medium.RecordOf("Setup.exe")["registry_key_exists"], keyAtSetup);
    EXPECT_FALSE(ProductKeyExists());
    EXPECT_TRUE(tessaroRan || !FileExists(ProductExecutable()));
  }
  const Medium medium;
  const ProgramRun run;
};

TEST(InstalledProduct, SameVersionInAnotherSpellingStartsTheInstallerAndKeepsTheProduct) {
  TessaroOnTheMachine tessaro;
  ASSERT_TRUE(tessaro.Install("3.9.0"));
  for (const char* version : {"3.9", "3.9.0", "03.09"}) {
    SCOPED_TRACE(version);
    Medium medium = MediumOf("installed-same", version);
    EXPECT_EQ(ProgramRun(medium.launcherPath()).WaitForExit(), 0);
    EXPECT_EQ(medium.RecordOf("Setup.exe")["registry_key_exists"], "1");
    EXPECT_TRUE(ProductKeyExists());
    EXPECT_EQ(FileStamp(ProductExecutable()), tessaro.installed);
  }
}

TEST(InstalledProduct, MessageAlreadyInstalledDeclinedLeavesTheProductUntouched) {
  TessaroOnTheMachine tessaro;
  ASSERT_TRUE(tessaro.Install("3.9.0"));
  for (const int answer : {IDCANCEL, IDCLOSE}) {
    SCOPED_TRACE(answer == IDCANCEL ? "Cancel" : "closed");
    AnsweredRun("installed-declined", answer).ExpectKept(tessaro);
  }
}

DWORD ChildNamed(DWORD parent, const char* exeName) {
  const platform::UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  PROCESSENTRY32 entry = {};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32First(snapshot.get(), &entry); more;
       more = Process32Next(snapshot.get(), &entry)) {
    if (entry.th32ParentProcessID == parent && _stricmp(entry.szExeFile, exeName) == 0) {
      return entry.th32ProcessID;
    }
  }
  return 0;
}

// Runs `meanwhile` while the process is held still (ntdll's pair: Win32 suspends only threads);
// false, and nothing run, when the process had ended already.
bool WhileHeldStill(DWORD processId, const std::function<void()>& meanwhile) {
  const platform::UniqueHandle process(
      OpenProcess(PROCESS_SUSPEND_RESUME | SYNCHRONIZE, FALSE, processId));
  const auto call = [&](const char* name) {
    const FARPROC address = GetProcAddress(GetModuleHandleA("ntdll.dll"), name);
    reinterpret_cast<LONG(WINAPI*)(HANDLE)>(reinterpret_cast<void*>(address))(process.get());
  };
  if (!process.valid()) return false;
  call("NtSuspendProcess");
  const bool alive = WaitForSingleObject(process.get(), 0) == WAIT_TIMEOUT;
  if (alive) meanwhile();
  call("NtResumeProcess");
  return alive;
}

// The second row posts WM_QUIT while the launcher waits for the Windows Installer: the wait must
// take it off the queue, or the box of message 104 that follows on a medium without Setup.exe
// would end at once, unanswered. Wine removes the small sample in about the launcher's first
// 100 ms wait, so the installer is held still meanwhile: the wait then times out and looks at
// the queue whatever this machine's speed.
TEST(InstalledProduct, OkRemovesTheProductBeforeTheInstallerStarts) {
  for (const bool postQuit : {false, true}) {
    SCOPED_TRACE(postQuit ? "WM_QUIT during removal, no Setup.exe" : "installer starts");
    TessaroOnTheMachine tessaro;
    ASSERT_TRUE(tessaro.Install("3.9.0"));
    Medium medium = MediumOf("installed-removed");
    if (postQuit) DeleteFileA((medium.directory() + "Setup.exe").c_str());
    const AnsweredRun confirmed(medium, IDOK);
    const ProgramRun& run = confirmed.run;
    if (postQuit) {
      DWORD installer = 0;
      WaitUntil([&] { return (installer = ChildNamed(run.processId(), "msiexec.exe")) != 0; },
                kAppEndTimeoutMs, 0);
      ASSERT_TRUE(WhileHeldStill(installer, [&] {
        EXPECT_TRUE(PostThreadMessageA(run.threadId(), WM_QUIT, 0, 0));
        Sleep(500);
      })) << "the removal ended before it could be held";
      const Box launchFailed = run.NextBox(kProcessTimeoutMs);
      ExpectMessage(launchFailed, Message::kLaunchFailed);
      EXPECT_TRUE(run.StillRunningAfter(1000)) << "the box ended without an answer";
      EXPECT_TRUE(IsWindow(launchFailed.window));
      PressButton(launchFailed, IDOK);
    }
    confirmed.ExpectRemovedFirst(false, postQuit ? "" : "0");
  }
}

TEST(InstalledProduct, RunningTessaroIsReportedUntilItEndsThenRemoved) {
  TessaroOnTheMachine tessaro;
  ASSERT_TRUE(tessaro.Install("3.9.0") && tessaro.StartApp());
  const AnsweredRun confirmed("installed-running", IDOK);
  confirmed.run.Answer(Message::kProductInUse, IDRETRY);
  const Box secondInUse = confirmed.run.NextBox();
  ExpectMessage(secondInUse, Message::kProductInUse);
  EXPECT_TRUE(ProductKeyExists()) << "removed while the user was still being asked";
  ASSERT_TRUE(tessaro.StopApp() && CanOpenForWriting(ProductExecutable()));
  PressButton(secondInUse, IDRETRY);
  confirmed.ExpectRemovedFirst(false);
}

TEST(InstalledProduct, CancelWhileTessaroRunsKeepsTheProduct) {
  TessaroOnTheMachine tessaro;
  ASSERT_TRUE(tessaro.Install("3.9.0") && tessaro.StartApp());
  const AnsweredRun confirmed("installed-running-cancel", IDOK);
  confirmed.run.Answer(Message::kProductInUse, IDCANCEL);
  confirmed.ExpectKept(tessaro);
}

// A Tessaro of the other package architecture lies in the other registry view, where the
// launcher under test never looks: nothing is asked and the installer starts.
TEST(InstalledProduct, ProductOfTheOtherArchitecturesPackageIsNotSeen) {
  TessaroOnTheMachine tessaro;
  ASSERT_TRUE(tessaro.Install("3.9.0", !LauncherIs32Bit()));
  Medium medium = MediumOf("installed-other-view");
  EXPECT_EQ(ProgramRun(medium.launcherPath()).WaitForExit(), 0);
  EXPECT_TRUE(medium.Ran("Setup.exe"));
  EXPECT_TRUE(ProductKeyExists(kProductCode, OtherView()));
}

// Not a running program at all: any holder that refuses writers makes Tessaro count as in use.
TEST(InstalledProduct, ExecutableHeldWithoutWriteSharingIsInUseOnEveryRetry) {
  TessaroOnTheMachine tessaro;
  ASSERT_TRUE(tessaro.Install("3.9.0"));
  // Declared after the product, so that it is let go before the product is removed.
  const auto held = OpenExisting(ProductExecutable(), GENERIC_READ, FILE_SHARE_READ);
  ASSERT_TRUE(held.valid());
  const AnsweredRun confirmed("installed-held", IDOK);
  for (const int answer : {IDRETRY, IDRETRY, IDRETRY, IDCANCEL})
    confirmed.run.Answer(Message::kProductInUse, answer);
  confirmed.ExpectKept(tessaro);
}

// The lock test looks only where InstallLocation points; without a usable one the running
// Tessaro.exe goes unnoticed and the removal runs anyway.
TEST(InstalledProduct, InstallLocationNamingNoExecutableSkipsTheInUseCheck) {
  // None: the value is deleted.
  const std::pair<const char*, std::optional<std::string>> cases[] = {
      {"no closing backslash", InstallFolder() + '\0'},
      {"empty", std::string(1, '\0')},
      {"missing", std::nullopt},
  };
  for (const auto& [what, location] : cases) {
    SCOPED_TRACE(what);
    TessaroOnTheMachine tessaro;
    ASSERT_TRUE(tessaro.Install("3.9.0"));
    ASSERT_TRUE(SetProductValue(kProductCode, "InstallLocation", REG_SZ, location));
    ASSERT_TRUE(tessaro.StartApp());
    AnsweredRun("installed-location", IDOK).ExpectRemovedFirst(true);
  }
}

// Whatever type the value has, the launcher reads its bytes up to the first NUL; a value too
// long for its buffer counts as absent.
TEST(InstalledProduct, OddDisplayVersionValues) {
  const std::string nines255(255, '9');
  // With the version that message 107 shows; none: no box.
  const std::tuple<const char*, DWORD, std::string, std::optional<std::string>> cases[] = {
      // The registry keeps a DWORD little-endian: 0x00392E33 reads as "3.9" and a NUL.
      {"DWORD 0x00392E33", REG_DWORD, std::string("3.9", 4), std::string("3.9")},
      {"BINARY without NUL", REG_BINARY, "3.9", std::string("3.9")},
      {"empty SZ", REG_SZ, std::string(1, '\0'), std::nullopt},
      {"SZ of 255 characters, just fits", REG_SZ, nines255 + '\0', nines255},
      {"SZ of 256 characters", REG_SZ, std::string(256, '9') + '\0', std::nullopt},
      {"SZ of 300 characters", REG_SZ, std::string(300, '9') + '\0', std::nullopt},
  };
  for (const auto& [what, type, bytes, shown] : cases) {
    SCOPED_TRACE(what);
    const TessaroOnTheMachine clean;
    ASSERT_TRUE(SetProductValue(kFakeProductCode, "DisplayVersion", type, bytes));
    Medium medium = MediumOf("installed-odd-version", "3.10", kFakeProductCode);
    ProgramRun run(medium.launcherPath());
    if (shown) {
      // 255 digits make the box wider than the screen: its icon is out of sight.
      const Box box = run.NextBox();
      EXPECT_EQ(box.text, Expected(Message::kAlreadyInstalled, *shown).text);
      PressButton(box, IDCANCEL);
    }
    EXPECT_EQ(run.WaitForExit(), shown ? 4 : 0);
    EXPECT_EQ(medium.Ran("Setup.exe"), !shown);
    EXPECT_TRUE(ProductKeyExists(kFakeProductCode));
  }
}

}  // namespace
}  // namespace tessaro::e2e
