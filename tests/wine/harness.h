// The GoogleTest side of the instrument: a medium folder, a launcher run whose boxes are read
// and answered, and the messages as the locale of the run shows them.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "instrument.h"
// After <windows.h>, which it needs.
#include <shlobj.h>

namespace tessaro::e2e {

// TS_INF of a product that no test installs.
constexpr char kNotInstalledInfo[] = "{0B8C1D2E-3F40-4A5B-8C6D-7E8F9A0B1C2D},3.10\r\n";

inline bool JapaneseLocale() { return GetACP() == 932; }

// A fresh folder C:\tessaro-e2e\<name>\ with the launcher in it and, when given, a TS_INF and a
// stand-in Setup.exe with its config.
class Medium {
 public:
  explicit Medium(const std::string& name, const std::optional<std::string>& info = std::nullopt,
                  const std::optional<std::string>& setupConfig = std::nullopt)
      : directory_("C:\\tessaro-e2e\\" + name + "\\") {
    const std::string folder = directory_.substr(0, directory_.size() - 1);
    RemoveTree(folder);
    SHCreateDirectoryExA(nullptr, folder.c_str(), nullptr);  // with every level a name nests
    EXPECT_TRUE(CopyFileA(BuiltLauncherPath().c_str(), launcherPath().c_str(), FALSE))
        << "cannot copy " << BuiltLauncherPath();
    if (info) WriteFileBytes(directory_ + "TS_INF", *info);
    if (setupConfig) AddStandIn("Setup.exe", *setupConfig);
  }
  const std::string& directory() const { return directory_; }
  std::string launcherPath() const { return directory_ + launcherName_; }
  // Gives the launcher another file name, and with it the caption of its boxes.
  void RenameLauncher(const std::string& fileName) {
    EXPECT_TRUE(MoveFileA(launcherPath().c_str(), (directory_ + fileName).c_str())) << fileName;
    launcherName_ = fileName;
  }
  // Puts a stand-in program named `fileName` into `folder` (default: the medium) with a config.
  void AddStandIn(const std::string& fileName, const std::string& config,
                  const std::string& folder = "") const {
    const std::string target = (folder.empty() ? directory_ : folder) + fileName;
    const std::string standIn = TestProgramDirectory() + "stand_in.exe";
    EXPECT_TRUE(CopyFileA(standIn.c_str(), target.c_str(), FALSE)) << target;
    WriteFileBytes(target.substr(0, target.find_last_of('.')) + ".cfg", config);
  }
  Record RecordOf(const std::string& standIn) const {
    return ReadRecord(directory_ + standIn.substr(0, standIn.find_last_of('.')) + ".record");
  }
  bool Ran(const std::string& standIn) const { return RecordOf(standIn).count("pid") != 0; }

 private:
  std::string directory_;
  std::string launcherName_ = "Launch.exe";
};

enum class Message { kLaunchFailed, kInfoOpenFailed, kAlreadyInstalled, kProductInUse };

// The box of `message` (107 with the installed `version`) as the locale of the run shows it:
// text, icon and buttons.
inline Box Expected(Message message, const std::string& version = "") {
  static const std::tuple<const char*, const char*, BoxIcon, std::vector<int>> kMessages[] = {
      // clang-format off
      {"Could not launch the installer of Tessaro.", "Tessaroのインストーラ起動に失敗しました。",
       BoxIcon::kError, {IDOK}},
      {"Can not open TS_INF.", "TS_INFの読込みに失敗しました。", BoxIcon::kError, {IDOK}},
      {"The following applications are already installed.\n\nTessaro : %s\n\nInstallation is "
       "not possible in conjunction with these applications.\nDo you uninstall these "
       "applications?",
       "この環境には次の製品がインストールされています。\n\nTessaro  : %s\n\nインストールを行う"
       "には、既存の製品を削除する必要があります。\n既存の製品をアンインストールしますか?",
       BoxIcon::kInformation, {IDOK, IDCANCEL}},
      {"Unable to continue as Tessaro is in use.\nExit Tessaro and click Retry to continue.",
       "Tessaroが実行中のため処理を継続できません。\nTessaroを終了してから、「再試行」をクリック"
       "してください。",
       BoxIcon::kError, {IDCANCEL, IDRETRY}},
      // clang-format on
  };
  // A run under a Japanese LC_ALL that Wine did not honour would pass on the English texts.
  const char* locale = std::getenv("LC_ALL");
  if (locale != nullptr && std::string(locale).rfind("ja_JP", 0) == 0) {
    EXPECT_TRUE(JapaneseLocale()) << "the Japanese run is not under code page 932";
  }
  const auto& [english, japanese, icon, buttons] = kMessages[static_cast<int>(message)];
  std::string text = JapaneseLocale() ? japanese : english;
  if (const std::size_t at = text.find("%s"); at != std::string::npos) text.replace(at, 2, version);
  return {nullptr, "", text, icon, buttons};
}

inline void ExpectMessage(const Box& box, Message message, const std::string& version = "",
                          const std::string& caption = "Launch") {
  const Box expected = Expected(message, version);
  EXPECT_EQ(std::tie(box.caption, box.text, box.icon, box.buttons),
            std::tie(caption, expected.text, expected.icon, expected.buttons));
}

// A program of a medium (the launcher, or a stand-in acting as a shell) started by a test, its
// boxes read and answered as a user would.
class ProgramRun : public ChildProcess {
 public:
  explicit ProgramRun(const std::string& path, DWORD creationFlags = CREATE_NEW_CONSOLE,
                      const std::string& folder = "", const char* consoleTitle = nullptr)
      : ChildProcess("\"" + path + "\"", {creationFlags, folder, consoleTitle, false}) {
    EXPECT_TRUE(started()) << "cannot start " << path << " error " << startError();
  }
  // The next box it shows; a failed expectation when none comes.
  Box NextBox(DWORD timeoutMs = 15000) const {
    std::optional<Box> box = started() ? WaitForBox(processId(), timeoutMs) : std::nullopt;
    EXPECT_TRUE(box.has_value()) << "the launcher showed no box";
    return box.value_or(Box{});
  }
  // The next box, expected to show `message`, answered with `button` (IDCLOSE: closed).
  void Answer(Message message, int button, const std::string& version = "") const {
    const Box box = NextBox();
    ExpectMessage(box, message, version);
    PressButton(box, button);
  }
  // The exit code, or -1 on a time-out. A box that shows up meanwhile fails the test and is
  // closed, so that no test hangs.
  long WaitForExit(DWORD timeoutMs = 30000) const {
    return Wait(timeoutMs, AnsweringBoxes(processId(), [](const Box& box) {
                  ADD_FAILURE() << "unexpected box: " << box.text;
                  PressButton(box, IDCLOSE);
                }));
  }
};

}  // namespace tessaro::e2e
