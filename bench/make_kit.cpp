// make_kit realistic|largest FOLDER: writes a generated kit (three tables,
// five scripts) into FOLDER, for the whole-run benchmark.
// make_kit game FOLDER: the realistic kit in FOLDER/kit, its five scripts
// alone in FOLDER/scripts, and in FOLDER/game the benchmarks' game folder
// (bench/kit.h: a key of about 30,000 entries naming 20 archives, the kit's
// three tables among 600 in one of them, a texture pack of 10,000 entries).
#include <cstdio>
#include <filesystem>
#include <string>

#include "bench/kit.h"
#include "tests/support/game_folder.h"

namespace {

int writeGame(const std::string& folder) {
    using namespace headlink;
    const testing::Kit kit = bench::makeKit(bench::kRealisticKit);
    const testing::GameLayout game = bench::benchGame(kit);
    bool ok = true;
    for (const char* sub : {"kit", "scripts", "game"}) std::filesystem::create_directories(folder + "/" + sub);
    for (const auto& [name, bytes] : kit) {
        ok = ok && testing::writeBytes(folder + "/kit/" + name, bytes);
        if (name.size() > 4 && name.substr(name.size() - 4) == ".txt")
            ok = ok && testing::writeBytes(folder + "/scripts/" + name, bytes);
    }
    ok = ok && testing::writeGameFolder(folder + "/game", game);
    if (!ok) std::fprintf(stderr, "make_kit: cannot write into %s\n", folder.c_str());
    return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace headlink::bench;
    const std::string kind = argc == 3 ? argv[1] : "";
    if (kind == "game") return writeGame(argv[2]);
    if (kind != "realistic" && kind != "largest") {
        std::fprintf(stderr, "usage: make_kit realistic|largest|game FOLDER\n");
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
