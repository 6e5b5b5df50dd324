// make_game FOLDER: writes the example game folder into FOLDER: the example
// kit's appearance and portraits tables in data/tables.bif, named by
// game.key, and its heads table in Override/, for the README's run with
// --game. Made by the tests' own archive writer, from the kit alone.
//
// Beside the tables, what the game can load for the example's rows: the
// game's own models (those the kit's rows name, the cloaks among them) in
// data/models.bif and its textures in a texture pack, and in Override/ the
// art of the example heads as a modder would have put it there, one model
// under a misspelt name: the kit's run warns about it, with the file it
// most likely meant, until that file is renamed.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/fixtures.h"
#include "tests/support/game_folder.h"

int main(int argc, char** argv) {
    using namespace headlink::testing;
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_game FOLDER\n");
        return 2;
    }
    GameLayout game;
    game.archived = {{"appearance.2da", exampleFile("appearance.2da")}, {"portraits.2da", exampleFile("portraits.2da")}};
    game.overridden = {{"heads.2da", exampleFile("heads.2da")}};
    // The kit's rows name their models and textures by race, sex and row:
    // "hd_el_f01", "tx_el_01", "mdl_el_a", "tex_el_f", "po_elf01".
    constexpr uint16_t kModel = 2002, kTexture = 3007;
    constexpr const char* kRaces[][2] = {{"hu", "m"}, {"el", "f"}, {"dw", "m"}, {"ha", "f"}, {"or", "m"}, {"gn", "f"}};
    std::vector<std::pair<std::string, uint16_t>> textures = {{"po_blank", kTexture}};
    for (int row = 0; row < 32; ++row) {
        const std::string race = kRaces[row % 6][0], sex = kRaces[row % 6][1];
        const std::string number = std::string(row < 10 ? "0" : "") + std::to_string(row);
        if (row < 30) game.models.emplace_back("hd_" + race + "_" + sex + number, kModel);
        if (row < 30) textures.emplace_back("tx_" + race + "_" + number, kTexture);
        textures.emplace_back("po_" + race + sex + number, kTexture);
        if (row >= 6) continue;
        game.models.emplace_back("mdl_" + race + "_a", kModel);
        game.models.emplace_back("mdl_" + race + "_b", kModel);
        textures.emplace_back("tex_" + race + "_" + sex, kTexture);
    }
    // Cloaks, for the kit's cloaked appearances.
    game.models.emplace_back("mdl_el_cloak", kModel);
    game.models.emplace_back("mdl_hu_cloak", kModel);
    game.texturePacks = {{"textures.erf", textures}};
    // The example heads' art as a modder copied it into Override/ (textures
    // as tga, models as mdl, a portrait for each), the moonveil head's
    // model misspelt.
    for (const char* file : {"tx_el_moon.tga", "tex_el_moon.tga", "hd_el_f_mon.mdl", "po_elf_moon.tga", "tx_el_ash.tga",
                             "tex_el_ash.tga", "po_elf_ash.tga", "hd_hu_f_storm.mdl", "tx_hu_storm.tga",
                             "tex_hu_storm.tga", "po_hum_storm.tga"})
        game.overridden.emplace_back(file, std::vector<uint8_t>{'a', 'r', 't', '\n'});
    std::error_code ec;
    std::filesystem::create_directories(argv[1], ec);
    if (!writeGameFolder(argv[1], game)) {
        std::fprintf(stderr, "make_game: cannot write into %s\n", argv[1]);
        return 1;
    }
    return 0;
}
