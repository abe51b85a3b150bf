// Holds a file open as another program would (a viewer that has the file
// open, a running program), for the end-to-end runs of the installer:
//   holdfile PATH [STOP]
// opens PATH for reading with no sharing at all, so that no other process
// may open, replace or delete it, prints "holding PATH" once it holds it,
// and keeps it until it is killed or, with STOP, until a file of that name
// appears. Exit code 0 after STOP appeared, 1 when PATH cannot be opened,
// 2 on bad usage.
#include <windows.h>
#include <stdio.h>

int main(int argc, char** argv) {
    if (argc != 2 && argc != 3) {
        fprintf(stderr, "usage: holdfile PATH [STOP]\n");
        return 2;
    }
    HANDLE held = CreateFileA(argv[1], GENERIC_READ, 0 /* no sharing */, NULL, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (held == INVALID_HANDLE_VALUE) {
        fprintf(stderr, "holdfile: cannot open %s (error %lu)\n", argv[1],
                static_cast<unsigned long>(GetLastError()));
        return 1;
    }
    printf("holding %s\n", argv[1]);
    fflush(stdout);
    const char* stop = argc == 3 ? argv[2] : NULL;
    while (!stop || GetFileAttributesA(stop) == INVALID_FILE_ATTRIBUTES) Sleep(100);
    CloseHandle(held);
    return 0;
}
