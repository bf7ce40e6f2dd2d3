// Runs one command line exactly as given, the way the launcher will
// (CreateProcessA with no shell in between, then wait), and reports the exit
// code and wall time. Going through "wine cmd /c" instead would add cmd's own
// quoting rules, which is not what the launcher exercises.
//   run_wait.exe "<command line>"
// Prints: exit=<code> ms=<elapsed>   and exits with the child's exit code.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

struct Handle {
    HANDLE h;
    explicit Handle(HANDLE v) : h(v) {}
    ~Handle() {
        if (h != nullptr && h != INVALID_HANDLE_VALUE) CloseHandle(h);
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: run_wait \"<command line>\"\n");
        return 2;
    }
    // CreateProcessA may write into the command line buffer.
    std::string cmd = argv[1];
    std::vector<char> buf(cmd.begin(), cmd.end());
    buf.push_back('\0');

    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    const DWORD start = GetTickCount();
    if (!CreateProcessA(nullptr, buf.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &si, &pi)) {
        std::printf("CreateProcessA failed: %lu\n", GetLastError());
        return 1;
    }
    Handle process(pi.hProcess);
    Handle thread(pi.hThread);
    WaitForSingleObject(process.h, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process.h, &code);
    std::printf("exit=%lu ms=%lu\n", code, GetTickCount() - start);
    std::fflush(stdout);
    return static_cast<int>(code);
}
