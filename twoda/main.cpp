// twoda: see what is in a table, what changed, and convert it. The commands
// live in the library; this only wires them to the console.
#include <cstdio>
#include <iostream>
#include <new>
#include <string>
#include <vector>

#include "fileio/fileio.h"
#include "twoda/commands.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

int main(int argc, char** argv) {
#ifdef _WIN32
    // The same bytes on every system: no CR added before each LF (CSV
    // brings its own CR LF).
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stdin), _O_BINARY);
#endif
    headlink::startProgram("twoda: not enough memory\n", 2, false);
    try {
        const std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
        if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
            std::cout << headlink::twodaUsage() << std::flush;
            return std::cout ? 0 : 2;
        }
        if (args.size() == 1 && args[0] == "--version") {
            std::cout << "twoda " HEADLINK_VERSION "\n" << std::flush;
            return std::cout ? 0 : 2;
        }
        return headlink::runTwoda(args, std::cin, std::cout, std::cerr);
    } catch (const std::bad_alloc&) {
        std::fputs("twoda: not enough memory\n", stderr);
        return 2;
    }
}
