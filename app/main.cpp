// headlink: run in a folder holding the three tables and five scripts; it
// writes the *_updated.2da tables beside them. Arguments are ignored, so
// files dropped onto the program make no difference.
#include <csignal>
#include <cstdio>
#include <iostream>
#include <new>

#include "app/run.h"
#include "table/fileio.h"

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

namespace {

// Started by a double-click, the program gets a console window of its own
// that closes the moment it exits, taking any message with it. Keep it open
// after a failure so the user can read why. A program started from an
// existing console, or with its input or messages redirected (by a script
// or another program), exits at once as usual.
void holdOwnConsoleOnFailure() {
    DWORD processes[2];
    DWORD mode = 0;
    if (GetConsoleProcessList(processes, 2) != 1) return;
    if (!GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode)) return;
    if (!GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode)) return;
    std::cerr << "Press Enter to close this window.";
    std::cin.get();
}

}  // namespace
#endif

int main() {
#ifdef SIGXFSZ
    // Past a file-size limit, report the failed write instead of dying
    // with a temporary file left behind.
    std::signal(SIGXFSZ, SIG_IGN);
#endif
#ifdef SIGPIPE
    // Messages to a pipe whose reader has gone are lost, but the exit
    // status must still say how the run went.
    std::signal(SIGPIPE, SIG_IGN);
#endif
    headlink::removeTemporaryOnInterrupt();
    int status = 1;
    try {
        status = headlink::runInDirectory(std::cerr);
    } catch (const std::bad_alloc&) {
        // Out of memory even for the message: no allocation from here on.
        std::fputs("headlink: not enough memory\n", stderr);
    }
#ifdef _WIN32
    if (status != 0) holdOwnConsoleOnFailure();
#endif
    return status;
}
