// Asks whether a file can be opened for writing with the same flags the
// launcher uses to decide if an installed exe is still running:
// GENERIC_WRITE, FILE_SHARE_READ|FILE_SHARE_WRITE, OPEN_EXISTING.
//   open_for_write.exe <path>
// Prints "ok" (exit 0) or "error=<GetLastError>" (exit 1).
#include <windows.h>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: open_for_write <path>\n");
        return 2;
    }
    HANDLE h = CreateFileA(argv[1], GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        std::printf("error=%lu\n", GetLastError());
        return 1;
    }
    CloseHandle(h);
    std::printf("ok\n");
    return 0;
}
