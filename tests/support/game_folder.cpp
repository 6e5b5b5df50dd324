#include "tests/support/game_folder.h"

#include <filesystem>

#include "tests/support/archive_builder.h"
#include "tests/support/fixtures.h"

namespace headlink::testing {

bool writeGameFolder(const std::string& dir, const GameLayout& game) {
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::create_directories(fs::path(dir) / "data", ec);
    if (!game.overridden.empty()) fs::create_directories(fs::path(dir) / "Override", ec);
    std::vector<KeyArchiveRecord> archives;
    std::vector<KeyEntryRecord> entries;
    std::vector<ArchiveResource> tables;
    for (const auto& [name, bytes] : game.archived) {
        entries.push_back({name.substr(0, name.rfind('.')), 2017, 0, static_cast<uint32_t>(tables.size())});
        tables.push_back({2017, bytes});
    }
    const std::vector<uint8_t> tableArchive = buildArchive(tables);
    archives.push_back({"data\\tables.bif", static_cast<uint32_t>(tableArchive.size())});
    bool ok = writeBytes(dir + "/data/tables.bif", tableArchive);
    for (std::size_t a = 0; a < game.otherArchives; ++a) {
        std::vector<ArchiveResource> others;
        for (std::size_t r = a; r < game.otherResources; r += game.otherArchives) {
            const std::string name = "res" + std::to_string(r);
            entries.push_back({name, 2002, static_cast<uint32_t>(a + 1), static_cast<uint32_t>(others.size())});
            others.push_back({2002, std::vector<uint8_t>(name.begin(), name.end())});
        }
        const std::vector<uint8_t> archive = buildArchive(others);
        const std::string name = "other" + std::to_string(a + 1) + ".bif";
        archives.push_back({"data\\" + name, static_cast<uint32_t>(archive.size())});
        ok = ok && writeBytes(dir + "/data/" + name, archive);
    }
    if (!game.models.empty()) {
        std::vector<ArchiveResource> models;
        for (const auto& [name, type] : game.models) {
            entries.push_back({name, type, static_cast<uint32_t>(archives.size()), static_cast<uint32_t>(models.size())});
            models.push_back({type, std::vector<uint8_t>(name.begin(), name.end())});
        }
        const std::vector<uint8_t> archive = buildArchive(models);
        archives.push_back({"data\\models.bif", static_cast<uint32_t>(archive.size())});
        ok = ok && writeBytes(dir + "/data/models.bif", archive);
    }
    if (!game.texturePacks.empty()) fs::create_directories(fs::path(dir) / "TexturePacks", ec);
    for (const auto& [file, listed] : game.texturePacks) {
        std::vector<PackKey> keys;
        for (const auto& [name, type] : listed) keys.push_back({name, type});
        ok = ok && writeBytes(dir + "/TexturePacks/" + file, buildPack(keys));
    }
    ok = ok && writeBytes(dir + "/game.key", buildKey(archives, entries));
    for (const auto& [name, bytes] : game.overridden) ok = ok && writeBytes(dir + "/Override/" + name, bytes);
    return ok;
}

}  // namespace headlink::testing
