// A SystemInterface that answers from tables and records what the launcher asked of it.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "launcher/installed_product.h"
#include "launcher/system_interface.h"

namespace tessaro::testing {

using Strings = std::vector<std::string>;
using ShownBox = std::pair<std::string, unsigned>;  // A box's text and style.
using Boxes = std::vector<ShownBox>;

class FakeSystem : public SystemInterface {
 public:
  std::string modulePath = "D:\\Install\\Launch.exe";
  // When set, QueryModulePath returns this raw count instead of the path's length.
  std::optional<std::size_t> modulePathResult;
  // When set, only this many queries of the module path succeed; later ones return 0.
  std::optional<int> modulePathQueriesThatWork;
  bool modulePathLosesCharacters = false;
  unsigned currentErrorMode = 0x4;
  ConsoleWindowState console = {true, true, false, true};
  LeadByteTable leadBytes;
  std::map<std::string, std::string> files;  // Paths that can be opened, with their bytes.
  std::set<std::string> lockedFiles;         // Exist, but cannot be opened for writing.
  std::map<std::string, UninstallValues> registry;
  std::optional<std::string> systemDirectory = std::string("C:\\Windows\\system32");
  std::set<std::string> unstartable;  // Command lines that fail to start.
  // What a started command line ends with (else 0); empty when the exit code is not readable.
  std::map<std::string, std::optional<unsigned>> exitCodes;
  std::set<std::string> waitFails;  // Started, but the wait for their end fails.
  std::map<unsigned, std::string> messages = {{104, "launch failed"},
                                              {106, "cannot open TS_INF"},
                                              {107, "installed: %s?"},
                                              {108, "in use"}};
  std::deque<int> answers;  // Buttons chosen, in order; kIdOk once they run out.
  // Called on every box, e.g. to let a locked file go free while the user reads.
  std::function<void(const ShownBox&)> onBox;

  // What was asked. A call reads as its name, then ":" and its argument when it has one.
  Strings calls, started, trace;
  Boxes boxes;
  int moduleQueries = 0;
  ExitReason stopReason;  // for the calls that say why the run stops
  PackageInfoFailure infoFailure = PackageInfoFailure::kEmpty;  // and why TS_INF gave nothing

  // The first trace line, or call, holding `fragment`; "" when none does.
  std::string Traced(std::string_view fragment) const { return FirstHolding(trace, fragment); }
  std::string Called(std::string_view fragment) const { return FirstHolding(calls, fragment); }
  // The last one; "" when there is none, so that a run that did nothing fails, not aborts.
  std::string LastTraced() const { return trace.empty() ? "" : trace.back(); }
  std::string LastCalled() const { return calls.empty() ? "" : calls.back(); }

  void HardenLibrarySearch() override { Call("HardenLibrarySearch"); }
  std::size_t QueryModulePath(std::string& path) override {
    ++moduleQueries;
    Call("QueryModulePath");
    if (modulePathQueriesThatWork && moduleQueries > *modulePathQueriesThatWork) return 0;
    const std::size_t result = modulePathResult.value_or(modulePath.size());
    if (result != 0) path = modulePath;
    return result;
  }
  bool ModulePathLosesCharacters() override { return modulePathLosesCharacters; }
  unsigned SetProcessErrorMode(unsigned mode) override {
    Call("SetProcessErrorMode", std::to_string(mode));
    return std::exchange(currentErrorMode, mode);
  }
  void SetApplicationTitle(const std::string& path) override { Call("SetApplicationTitle", path); }
  void WriteStandardOutput(std::string_view bytes) override { Call("WriteStandardOutput", bytes); }
  ConsoleWindowState ProbeConsoleWindow() override {
    Call("ProbeConsoleWindow");
    return console;
  }
  void HideConsoleWindow() override { Call("HideConsoleWindow"); }
  void ShowConsoleWindowAgain() override { Call("ShowConsoleWindowAgain"); }
  LeadByteTable AnsiLeadBytes() override { return leadBytes; }
  std::optional<std::string> ReadFileStart(const std::string& path, std::size_t maxBytes) override {
    Call("ReadFileStart", path);
    return Opens(path) ? std::optional(files.at(path).substr(0, maxBytes)) : std::nullopt;
  }
  bool FileExists(const std::string& path) override {
    Call("FileExists", path);
    return files.count(path) != 0;
  }
  bool CanOpenForWriting(const std::string& path) override {
    Call("CanOpenForWriting", path);
    return Opens(path);
  }
  UninstallValues ReadUninstallValues(const std::string& keyPath) override {
    Call("ReadUninstallValues", keyPath);
    return registry[keyPath];  // a key not there reads as one that would not open
  }
  std::optional<std::string> SystemDirectory() override { return systemDirectory; }
  std::optional<ProcessEnd> RunAndWait(const std::string& commandLine) override {
    Call("RunAndWait", commandLine);
    if (unstartable.count(commandLine) != 0) return std::nullopt;
    started.push_back(commandLine);
    if (waitFails.count(commandLine) != 0) return ProcessEnd{true, std::nullopt};
    const auto code = exitCodes.find(commandLine);
    return ProcessEnd{false, code == exitCodes.end() ? 0u : code->second};
  }
  std::string LoadMessageText(unsigned id) override { return messages[id]; }  // "" when missing
  int ShowBox(const std::string& text, unsigned style) override {
    Call("ShowBox", text);
    boxes.push_back({text, style});
    if (onBox) onBox(boxes.back());
    const int answer = answers.empty() ? kIdOk : answers.front();
    if (!answers.empty()) answers.pop_front();
    return answer;
  }
  void Trace(std::string_view line) override { trace.emplace_back(line); }

 private:
  void Call(std::string name, std::optional<std::string_view> argument = std::nullopt) {
    calls.push_back(argument ? name + ":" + std::string(*argument) : name);
  }
  bool Opens(const std::string& path) const {
    return files.count(path) != 0 && lockedFiles.count(path) == 0;
  }
  static std::string FirstHolding(const Strings& lines, std::string_view fragment) {
    for (const auto& line : lines) {
      if (line.find(fragment) != std::string::npos) return line;
    }
    return {};
  }
};

// The product on the medium the tests build, and the removal of an installed one.
inline const std::string kCode = "{6F1C2A3B-4D5E-4F60-8172-93A4B5C6D7E8}";  // 38 characters
inline const std::string kKey = std::string(kUninstallKeyPrefix) + kCode;
inline const std::string kRemoval =
    "\"C:\\Windows\\system32\\msiexec.exe\" /x " + kCode + " /qb! ID_STATE=Remove";
inline const std::string kInf = "D:\\Install\\TS_INF";  // beside the default module path
inline const std::string kPackageLine = kCode + ",3.10\r\n";

// A medium: the launcher and, beside it, a TS_INF of these bytes.
inline FakeSystem Medium(const std::string& inf = kPackageLine,
                         const std::string& launcher = "D:\\Install\\Launch.exe") {
  FakeSystem system;
  system.modulePath = launcher;
  system.files[launcher.substr(0, launcher.rfind('\\') + 1) + "TS_INF"] = inf;
  return system;
}

// Shift-JIS lead bytes, for the double-byte cases.
inline LeadByteTable Cp932LeadBytes() {
  LeadByteTable table;
  for (unsigned b = 0x81; b <= 0xfc; ++b) table[b] = b <= 0x9f || b >= 0xe0;
  return table;
}

}  // namespace tessaro::testing
