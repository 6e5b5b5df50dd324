// make_game FOLDER: writes the example game folder into FOLDER: the example
// kit's appearance and portraits tables in data/tables.bif, named by
// game.key, and its heads table in Override/, for the README's run with
// --game. Made by the tests' own archive writer, from the kit alone.
#include <cstdio>
#include <filesystem>
#include <string>

#include "tests/support/fixtures.h"
#include "tests/support/game_folder.h"

int main(int argc, char** argv) {
    using namespace headlink::testing;
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_game FOLDER\n");
        return 2;
    }
    GameFolder game;
    game.archived = {{"appearance.2da", exampleFile("appearance.2da")}, {"portraits.2da", exampleFile("portraits.2da")}};
    game.overridden = {{"heads.2da", exampleFile("heads.2da")}};
    std::error_code ec;
    std::filesystem::create_directories(argv[1], ec);
    if (!writeGameFolder(argv[1], game)) {
        std::fprintf(stderr, "make_game: cannot write into %s\n", argv[1]);
        return 1;
    }
    return 0;
}
