// Game folders laid out as the application's, written by the tests' own
// archive writer: for the end-to-end tests, the example and the benchmark.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace headlink::testing {

using NamedBytes = std::vector<std::pair<std::string, std::vector<uint8_t>>>;

struct GameLayout {
    NamedBytes archived;    // 2DA tables ("appearance.2da") in data/tables.bif, named by game.key
    NamedBytes overridden;  // files in Override/
    // Besides: this many more archives (data/other1.bif, ...) holding this
    // many more resources of another type between them, all in the key.
    std::size_t otherArchives = 0;
    std::size_t otherResources = 0;
    // Resources of other types (a model "hd_el_f01" of type 2002), in
    // data/models.bif, named by game.key.
    std::vector<std::pair<std::string, uint16_t>> models;
    // Texture packs, TexturePacks/FILE, each the names and types it lists.
    std::vector<std::pair<std::string, std::vector<std::pair<std::string, uint16_t>>>> texturePacks;
};

// Writes `game` into `dir` (which must exist); false when a file cannot be written.
bool writeGameFolder(const std::string& dir, const GameLayout& game);

}  // namespace headlink::testing
