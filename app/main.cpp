// headlink: run in a folder holding the three tables and five scripts; it
// writes the *_updated.2da tables beside them. Arguments that are not
// options are ignored, so files dropped onto the program make no difference.
#include <iostream>
#include <string>
#include <vector>

#include "app/options.h"
#include "app/player.h"
#include "app/run.h"
#include "fileio/fileio.h"

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

namespace {

// Started by a double-click, the program gets a console window of its own
// that closes the moment it exits, taking any message with it. Then the
// report is shown and the window kept open until Enter. A program started
// from an existing console, or with its input or messages redirected (by a
// script or another program), behaves as usual.
bool ownsConsoleWindow() {
    DWORD processes[2];
    DWORD mode = 0;
    return GetConsoleProcessList(processes, 2) == 1 &&
           GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) &&
           GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode);
}

}  // namespace
#endif

int main(int argc, char** argv) {
    // A closed pipe loses the messages, but the exit status must still say
    // how the run went.
    headlink::startProgram("headlink: not enough memory\n", 1, true);
#ifdef _WIN32
    const bool window = ownsConsoleWindow();
#else
    const bool window = false;
#endif
    // Running out of memory in the job is reported by runInDirectory;
    // anywhere else, by the terminate handler set above.
    int status = 1;
    const std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    headlink::Options options;
    if (const headlink::Result parsed = headlink::parseOptions(args, &options); !parsed) {
        std::cerr << "headlink: " << parsed.description() << "\nTry 'headlink --help'.\n";
        status = 2;
    } else if (options.help) {
        std::cout << headlink::usage();
        status = 0;
    } else if (options.version) {
        std::cout << "headlink " HEADLINK_VERSION "\n";
        status = 0;
    } else if (options.findGames) {
        status = headlink::printGames(std::cout);
    } else if (headlink::startedInPack(args)) {
        // A player's double-click in a pack: asked only when someone is there.
        if (headlink::personAtConsole()) {
            status = headlink::playerTrip(std::cout, std::cerr, headlink::readAnswer);
        } else {
            std::cerr << headlink::packWithoutPerson();
            status = 1;
        }
    } else {
        if (window) options.verbose = true;
        status = headlink::runInDirectory(options, std::cout, std::cerr);
    }
    if (window) {
        std::cerr << "Press Enter to close this window.";
        std::cin.get();
    }
    return status;
}
