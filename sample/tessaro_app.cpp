// Stand-in for the real product executable packaged as Tessaro.exe in the
// test MSIs. Tests need a process that keeps the installed file busy for a
// controlled time: it exits 0 as soon as "Tessaro.stop" appears next to the
// executable, or after a timeout (argv[1], milliseconds, default 60000), so a
// failing test can never leave it running forever.
#include <windows.h>

#include <cstdlib>
#include <string>

namespace {

std::string stop_file_path() {
  // GetModuleFileNameA truncates silently, so grow until the result fits.
  std::string buf(MAX_PATH, '\0');
  for (;;) {
    DWORD n = GetModuleFileNameA(nullptr, &buf[0], static_cast<DWORD>(buf.size()));
    if (n == 0) return "Tessaro.stop";
    if (n < buf.size()) {
      buf.resize(n);
      break;
    }
    buf.resize(buf.size() * 2);
  }
  std::string::size_type slash = buf.find_last_of("\\/");
  if (slash == std::string::npos) return "Tessaro.stop";
  return buf.substr(0, slash + 1) + "Tessaro.stop";
}

bool file_exists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace

int main(int argc, char** argv) {
  unsigned long timeout_ms = 60000;
  if (argc > 1) {
    char* end = nullptr;
    unsigned long v = std::strtoul(argv[1], &end, 10);
    if (end != argv[1] && *end == '\0') timeout_ms = v;
  }

  const std::string stop = stop_file_path();
  // GetTickCount wraps after ~49 days; unsigned subtraction keeps the
  // elapsed time correct across the wrap.
  const DWORD start = GetTickCount();
  while (!file_exists(stop)) {
    if (GetTickCount() - start >= timeout_ms) break;
    Sleep(50);
  }
  return 0;
}
