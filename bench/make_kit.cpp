// make_kit realistic|largest FOLDER: writes a generated kit (three tables,
// five scripts) into FOLDER, for the whole-run benchmark.
#include <cstdio>
#include <string>

#include "bench/kit.h"

int main(int argc, char** argv) {
    using namespace headlink::bench;
    const std::string kind = argc == 3 ? argv[1] : "";
    if (kind != "realistic" && kind != "largest") {
        std::fprintf(stderr, "usage: make_kit realistic|largest FOLDER\n");
        return 2;
    }
    for (const auto& [name, bytes] : makeKit(kind == "largest" ? kLargestKit : kRealisticKit)) {
        if (!headlink::testing::writeBytes(std::string(argv[2]) + "/" + name, bytes)) {
            std::fprintf(stderr, "make_kit: cannot write %s/%s\n", argv[2], name.c_str());
            return 1;
        }
    }
    return 0;
}
