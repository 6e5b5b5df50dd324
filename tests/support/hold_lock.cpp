// Holds a folder's lock, as headlink takes it, until its standard input
// ends, so that a test decides when the holder lets go rather than a clock:
//   hold_lock FOLDER exclusive|shared
// It says "held" (or "busy", "reading", "unsupported", or why it failed)
// on a line of its own once it knows.
#include <cstdio>
#include <cstring>
#include <string>

#include "fileio/fileio.h"

int main(int argc, char** argv) {
    if (argc != 3) return 2;
    headlink::FolderLock lock;
    headlink::FolderLock::State state = headlink::FolderLock::State::held;
    const headlink::Result taken = lock.take(argv[1], std::strcmp(argv[2], "exclusive") == 0, 0, &state);
    const char* said = !taken                                           ? taken.reason.c_str()
                       : state == headlink::FolderLock::State::held    ? "held"
                       : state == headlink::FolderLock::State::busy    ? "busy"
                       : state == headlink::FolderLock::State::reading ? "reading"
                                                                       : "unsupported";
    std::printf("%s\n", said);
    std::fflush(stdout);
    while (std::getchar() != EOF) {
    }
    return 0;
}
