// Measures what the launcher costs on the way to the installer:
//   L  launcher start -> stand-in Setup.exe start, through the launcher
//   D  stand-in start, started directly by the same code
//   CPU time of the launcher while the stand-in idles, against the stand-in's own CPU time.
//   bench.exe WORK_DIR RUNS IDLE_MS
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/wine/instrument.h"

namespace {

namespace e2e = tessaro::e2e;

struct Run {
  double startMs;    // from CreateProcess to the stand-in's first instruction of main
  double consoleMs;  // from CreateProcess until the stand-in's first console call returned
  double cpuMs;      // kernel + user time of the process started
};

Run Start(const std::string& program, const std::string& record) {
  DeleteFileA(record.c_str());
  const unsigned long long before = e2e::Now100ns();
  const e2e::ChildProcess child("\"" + program + "\"",
                                e2e::StartOptions().Flags(CREATE_NEW_CONSOLE));
  if (!e2e::StartedOrSaid(child, program)) std::exit(1);
  child.Wait(INFINITE);
  e2e::Record values = e2e::ReadRecord(record);
  const auto since = [&](const char* key) {
    return values.count(key) ? (std::stod(values[key]) - static_cast<double>(before)) / 1e4 : -1.0;
  };
  return {since("start_time"), since("console_ready_time"),
          static_cast<double>(child.times().cpu) / 1e4};
}

void Row(const char* name, std::vector<double> values) {
  std::sort(values.begin(), values.end());
  std::printf("| %-50s | %8.1f | %8.1f | %8.1f |\n", name, values.front(),
              values[values.size() / 2], values.back());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: bench.exe WORK_DIR RUNS IDLE_MS\n");
    return 2;
  }
  const std::string dir = std::string(argv[1]) + "\\";
  const int runs = std::atoi(argv[2]);
  const std::string idle = argv[3];
  const std::string setup = dir + "Setup.exe";
  const std::string record = dir + "Setup.record";

  std::vector<double> direct, directConsole, through, ownWork, beyondConsole, launcherCpu,
      standInCpu;
  e2e::WriteFileBytes(dir + "Setup.cfg", "");
  for (int i = 0; i < runs; ++i) {
    // Alternating keeps both series under the same machine load.
    const Run d = Start(setup, record);
    const Run l = Start(dir + "Launch.exe", record);
    direct.push_back(d.startMs);
    directConsole.push_back(d.consoleMs);
    through.push_back(l.startMs);
    ownWork.push_back(l.startMs - 2 * d.startMs);
    // The launcher waits for its console host like any process that touches its console.
    beyondConsole.push_back(l.startMs - d.consoleMs - d.startMs);
  }
  e2e::WriteFileBytes(dir + "Setup.cfg", "sleep_ms=" + idle + "\n");
  for (int i = 0; i < runs; ++i) {
    launcherCpu.push_back(Start(dir + "Launch.exe", record).cpuMs);
    standInCpu.push_back(Start(setup, record).cpuMs);
  }
  const std::string heading = "ms, " + std::to_string(runs) + " runs each";
  std::printf("| %-50s | %8s | %8s | %8s |\n", heading.c_str(), "min", "median", "max");
  std::printf("|%s|----------|----------|----------|\n", std::string(52, '-').c_str());
  Row("D: stand-in started directly", direct);
  Row("L: stand-in started through the launcher", through);
  Row("L - 2D: the launcher's own work (pairwise)", ownWork);
  Row("C: direct start until the console answers", directConsole);
  Row("L - C - D: own work beyond the console start", beyondConsole);
  Row(("CPU: launcher while the stand-in idles " + idle + " ms").c_str(), launcherCpu);
  Row(("CPU: the stand-in idling " + idle + " ms").c_str(), standInCpu);
  return 0;
}
