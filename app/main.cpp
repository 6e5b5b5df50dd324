// headlink: run in a folder holding the three tables and five scripts; it
// writes the *_updated.2da tables beside them. Arguments are ignored, so
// files dropped onto the program make no difference.
#include <csignal>
#include <iostream>

#include "app/run.h"

int main() {
#ifdef SIGXFSZ
    // Past a file-size limit, report the failed write instead of dying
    // with a temporary file left behind.
    std::signal(SIGXFSZ, SIG_IGN);
#endif
    return headlink::runInDirectory(std::cerr);
}
