// A game folder read as the application reads it: a folder picked that is
// not one, a folder known by the list of its paths (as the page knows it),
// and the index of every resource the game can load.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "game/folder.h"
#include "game/resources.h"
#include "tests/support/archive_builder.h"

namespace headlink {
namespace {

using Bytes = std::vector<uint8_t>;
using Files = std::map<std::string, Bytes>;

// Runs `use` on a Game over `files` listed by their paths alone, as the
// page lists a folder, again with every size and slice it asked for handed
// in, until it asks for none; what it asked for, in order.
std::vector<ListedGameFiles::Need> readListed(const Files& files, const std::function<void(Game&)>& use) {
    ListedGameFiles listed;
    for (const auto& [path, bytes] : files) listed.add(path);
    std::vector<ListedGameFiles::Need> asked;
    for (int round = 0; round < 10; ++round) {
        listed.clearNeeds();
        Game game("game", listed);
        use(game);
        if (listed.needs().empty()) return asked;
        for (const ListedGameFiles::Need& need : listed.needs()) {
            asked.push_back(need);
            const Bytes& bytes = files.at(need.path);
            const auto from = bytes.begin() + static_cast<std::ptrdiff_t>(need.offset);
            if (need.fileSize) listed.giveSize(need.path, bytes.size());
            else
                listed.give(need.path, need.offset, need.size, Bytes(from, from + static_cast<std::ptrdiff_t>(need.size)));
        }
    }
    ADD_FAILURE() << "still asking for slices after 10 rounds";
    return asked;
}

// A folder picked for the game folder that plainly is not one says what it
// is and what to pick instead; any other folder without the tables says
// where it looked.
TEST(GameFolderPicked, AnOverrideFolderOrAKitSaysWhatToPickInstead) {
    const struct {
        const char* dir;
        std::vector<const char*> files;
        const char* reason;
    } cases[] = {
        {"game/Override", {"heads.2da", "hd_moon.mdl"},
         "this is an override folder: pick the game folder that holds it and the game's .key file"},
        {"override", {}, "this is an override folder: pick the game folder that holds it and the game's .key file"},
        {"moonveil", {"head.txt", "Appearance.2DA", "heads.2da"},
         "this folder holds tables (Appearance.2DA, ...) but no .key file: pick the game folder, the one that holds the "
         "game's .key file"},
        {"notes", {"readme.txt"},
         "not in the game folder notes: looked in its override folder (it has none) and its key file (it has none)"},
    };
    for (const auto& c : cases) {
        ListedGameFiles listed;
        for (const char* file : c.files) listed.add(file);  // sizes unknown: none is read
        Game game(c.dir, listed);
        GameTable table;
        const Result read = game.read("portraits.2da", &table);
        EXPECT_FALSE(read) << c.dir;
        EXPECT_EQ(read.reason, c.reason) << c.dir;
    }
}

// A folder listed by paths alone, as the page lists it: a file's size is
// asked for the first time it is read, its bytes only the time after; a
// file that shrank after its size was read has changed since it was picked.
TEST(GameFolderPicked, AFileOfUnknownSizeIsAskedItsSizeThenItsBytes) {
    using Need = ListedGameFiles::Need;
    ListedGameFiles listed;
    listed.add("game.key");
    listed.add("data/a.bif", 100);
    EXPECT_EQ(listed.readAll("game.key").result.reason, "not read yet");
    EXPECT_FALSE(listed.readPart("data/a.bif", 90, 20).ok());  // its size known: its bytes, as far as it goes
    EXPECT_EQ(listed.needs(), (std::vector<Need>{{"game.key", 0, 0, true}, {"data/a.bif", 90, 10, false}}));
    listed.clearNeeds();
    listed.giveSize("game.key", 4);
    EXPECT_FALSE(listed.readAll("game.key").ok());
    EXPECT_FALSE(listed.readPart("game.key", 2, 4).ok());
    EXPECT_EQ(listed.needs(), (std::vector<Need>{{"game.key", 0, 4, false}, {"game.key", 2, 2, false}}));
    listed.give("game.key", 0, 4, {1, 2, 3, 4});
    listed.give("game.key", 2, 2, {3});
    EXPECT_EQ(listed.readAll("game.key").bytes, (Bytes{1, 2, 3, 4}));
    EXPECT_EQ(listed.readPart("game.key", 2, 4).result.reason, "changed since it was picked: pick the game folder again");
}

// A listed folder's entries, each once, as a folder's listing gives them:
// a folder of many files steps over them, never over the names beside it.
TEST(GameFolderPicked, AListedFolderGivesEachEntryOnce) {
    ListedGameFiles listed;
    for (const char* path : {"movies/a.dat", "movies/b.dat", "movies/deep/c.dat", "movies-old.txt", "movies0.txt",
                             "moviesz", "game.key", "data/x.bif", "data/sub/y.bif", "data/sub/z.bif"})
        listed.add(path);
    const auto names = [&](const std::string& folder) {
        std::vector<GameFiles::Entry> entries;
        (void)listed.list(folder, [](const std::string&) { return true; }, &entries);
        std::vector<std::string> shown;
        for (const GameFiles::Entry& e : entries) shown.push_back(e.name + (e.folder ? "/" : ""));
        return shown;
    };
    EXPECT_EQ(names(""), (std::vector<std::string>{"data/", "game.key", "movies/", "movies-old.txt", "movies0.txt",
                                                   "moviesz"}));
    EXPECT_EQ(names("data"), (std::vector<std::string>{"sub/", "x.bif"}));
    EXPECT_EQ(names("movies"), (std::vector<std::string>{"a.dat", "b.dat", "deep/"}));
}

// A game folder's index of resources, read as the page reads it: each
// resource is named by its name and its type's extension, wherever it is;
// every slice it asks for is handed in, and the slices asked for are the key
// file whole and each texture pack's header and key list, nothing else.
TEST(GameResources, TheOverrideFolderTheTexturePacksAndEveryKeyEntryWhateverTheirCase) {
    const Bytes key = testing::buildKey({{"data\\models.bif", 0}, {"data\\tables.bif", 0}},
                                        {{"hd_el_f01", 2002, 0, 0}, {"heads", 2017, 1, 0}, {"HD_EL_F01", 3, 0, 1}});
    const Bytes pack = testing::buildPack({{"tex_el_f01", 3007}, {"tex_el_f02", 2033}, {"hd_el_f01", 4}});
    const Files files = {
        {"chitin.key", key}, {"data/models.bif", Bytes(40)}, {"Override/hd_el_moon.MDL", Bytes(3)},
        {"Override/readme.txt", Bytes(3)}, {"Override/sub/x.tga", Bytes(3)},
        {"TexturePacks/tex_a.ERF", pack}, {"TexturePacks/notes.txt", Bytes(5)},
        {"TexturePacks/tex_b.erf", Bytes(pack.begin(), pack.begin() + 10)}};
    ResourceIndex index;
    std::vector<Warning> warnings;
    const std::vector<ListedGameFiles::Need> asked = readListed(files, [&](Game& game) {
        warnings.clear();
        ASSERT_TRUE(game.resources(&index, &warnings));
    });
    using Need = ListedGameFiles::Need;
    std::vector<Need> read;
    for (const Need& need : asked)
        if (!need.fileSize) read.push_back(need);
    std::sort(read.begin(), read.end(), [](const Need& a, const Need& b) { return std::tie(a.path, a.offset) < std::tie(b.path, b.offset); });
    EXPECT_EQ(read, (std::vector<Need>{{"TexturePacks/tex_a.ERF", 0, 160, false}, {"TexturePacks/tex_a.ERF", 160, 72, false},
                                       {"TexturePacks/tex_b.erf", 0, 10, false}, {"chitin.key", 0, key.size(), false}}));
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_EQ(warnings[0].describe(), "TexturePacks/tex_b.erf: warning: malformed: the texture pack ends inside its "
                                      "160-byte header, after 10 bytes; its textures are left out of the check of names");
    const auto where = [&](const std::string& name) {
        std::vector<std::string> found;
        for (const ResourceIndex::Found& f : index.find(name)) found.push_back(f.file + " " + f.where);
        return found;
    };
    EXPECT_EQ(where("hd_el_moon"), (std::vector<std::string>{"hd_el_moon.mdl Override/hd_el_moon.mdl"}));
    EXPECT_EQ(where("Hd_El_F01"), (std::vector<std::string>{"hd_el_f01.mdl data/models.bif",
        "HD_EL_F01.tga data/models.bif", "hd_el_f01.wav TexturePacks/tex_a.ERF"}));
    EXPECT_EQ(where("TEX_EL_F02"), (std::vector<std::string>{"tex_el_f02.dds TexturePacks/tex_a.ERF"}));
    EXPECT_EQ(where("heads"), (std::vector<std::string>{"heads.2da data/tables.bif"}));
    for (const char* none : {"readme", "x", "notes", "tex_el", "", "seventeen_chars_x"}) EXPECT_TRUE(where(none).empty()) << none;
    EXPECT_EQ(index.size(), 7u);
    // Names found beforehand in one pass are found as a lookup finds them.
    ResourceIndex fetched = index;
    fetched.prefetch({"hd_el_moon", "Hd_El_F01", "TEX_EL_F02", "heads", "readme", "hd_el_f01"});
    for (const char* name : {"HD_EL_MOON", "hd_el_f01", "tex_el_f02", "heads", "readme", "tex_el_f01"}) {
        std::vector<std::string> seen;
        for (const ResourceIndex::Found& f : fetched.find(name)) seen.push_back(f.file + " " + f.where);
        EXPECT_EQ(seen, where(name)) << name;
    }
    // As a file lists them, names come padded with whatever follows their
    // NUL; names that differ past their eighth byte, or only where a
    // byte's 0x20 bit sets '@' apart from '`', are told apart.
    ResourceIndex padded;
    Bytes records;
    for (const std::string& name : {std::string("hd\0junkjunk", 10), std::string("abcdefgh"),
                                    std::string("abcdefghijklmnop"), std::string("abcdefghijklmnoq"), std::string("x@y")}) {
        Bytes record(18, 0);
        std::copy(name.begin(), name.end(), record.begin());
        record[16] = 0xD2;  // 2002, a model
        record[17] = 0x07;
        records.insert(records.end(), record.begin(), record.end());
    }
    padded.add(ResourceIndex::Records{{}, records, 0, 5, 18, 16, -1, padded.addPlace("m.erf", false)});
    padded.prefetch({"HD", "ABCDEFGH", "abcdefghijklmnoP", "x`y", "abcdefghijklmno", "hd\0junkjunk"});
    for (const char* name : {"hd", "abcdefgh", "ABCDEFGHIJKLMNOP", "abcdefghijklmnoq", "x@y", "x`y", "abcdefghijklmno"}) {
        const std::vector<ResourceIndex::Found> found = padded.find(name);
        const bool there = std::string_view(name) != "x`y" && std::string_view(name) != "abcdefghijklmno";
        EXPECT_EQ(found.size(), there ? 1u : 0u) << name;
    }
    // Names one or two edits away, of one kind, nearest first; the name itself is not near.
    EXPECT_EQ(index.near("tex_el_f0", ResourceKind::texture), (std::vector<std::string>{"tex_el_f01", "tex_el_f02"}));
    EXPECT_EQ(index.near("TEX_EL_F03x", ResourceKind::texture), (std::vector<std::string>{"tex_el_f01", "tex_el_f02"}));
    EXPECT_EQ(index.near("hd_el_mon", ResourceKind::model), (std::vector<std::string>{"hd_el_moon"}));
    EXPECT_EQ(index.near("hd_el_f01", ResourceKind::model), (std::vector<std::string>{}));
    EXPECT_EQ(index.near("hd_xx_moonxx", ResourceKind::model), (std::vector<std::string>{}));
}

}  // namespace
}  // namespace headlink
