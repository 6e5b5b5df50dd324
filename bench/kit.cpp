#include "bench/kit.h"

#include <string>
#include <utility>
#include <vector>

namespace headlink::bench {

using testing::bytesOf;

Kit makeKit(const KitShape& s) {
    const std::string firstNew = std::to_string(s.appearanceRows);
    return {
        {"appearance.2da", tableWithPoolStrings(s.appearanceRows, s.appearanceColumns, s.distinct)},
        {"heads.2da", tableWithPoolStrings(s.headRows, s.headColumns, s.distinct)},
        {"portraits.2da", tableWithPoolStrings(s.portraitRows, s.portraitColumns, s.distinct)},
        {"head.txt", bytesOf("1 0 head_new_model 1 hd_new 2 tx_new 5 pale\n")},
        {"apphead1.txt", bytesOf("1 0 AppearanceNew 4 tex_new 11 fast\n")},
        {"apphead2.txt", bytesOf(firstNew + " 0 AppearanceNewCloaked 3 mdl_cloak\n")},
        {"apphead3.txt", bytesOf("1 0 appearancenew 12 walk\n")},
        {"portraits.txt", bytesOf("1 0 po_new 4 0\n")},
    };
}

testing::GameLayout benchGame(const Kit& realistic) {
    testing::GameLayout game;
    for (const char* table : {"appearance.2da", "heads.2da", "portraits.2da"})
        game.archived.push_back({table, realistic.at(table)});
    for (int i = static_cast<int>(game.archived.size()); i < 600; ++i)
        game.archived.push_back({"table" + std::to_string(i) + ".2da", tableWithPoolStrings(36, 36, 250)});
    game.otherArchives = 19;
    game.otherResources = 29400;
    // Textures, each with the settings file most of them come with.
    std::vector<std::pair<std::string, uint16_t>> textures;
    for (int i = 0; i < kPackEntries; ++i)
        textures.push_back({"tx_pack_" + std::to_string(i / 2), static_cast<uint16_t>(i % 2 == 0 ? 3007 : 2022)});
    game.texturePacks.push_back({"textures.erf", std::move(textures)});
    return game;
}

}  // namespace headlink::bench
