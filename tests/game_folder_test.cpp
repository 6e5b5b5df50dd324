// A game folder read as the application reads it: a folder picked that is
// not one, a folder known by the list of its paths (as the page knows it),
// the override folder's subfolders, and the index of every resource the
// game can load. The subfolder cases run on a folder on disk and on the
// same folder listed by its paths.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <span>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "game/folder.h"
#include "game/install.h"
#include "game/resources.h"
#include "tests/support/archive_builder.h"
#include "tests/support/temp_dir.h"

namespace headlink {
namespace {

using Bytes = std::vector<uint8_t>;
using Files = std::map<std::string, Bytes>;

// Runs `use` on a Game over `files` listed by their paths alone, as the
// page lists a folder, again with every size and slice it asked for handed
// in, until it asks for none; what it asked for, in order.
std::vector<ListedFiles::Need> readListed(const Files& files, const std::function<void(Game&)>& use) {
    ListedFiles listed;
    for (const auto& [path, bytes] : files) listed.add(path);
    std::vector<ListedFiles::Need> asked;
    for (int round = 0; round < 10; ++round) {
        listed.clearNeeds();
        Game game("game", listed);
        use(game);
        if (listed.needs().empty()) return asked;
        for (const ListedFiles::Need& need : listed.needs()) {
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
        ListedFiles listed;
        for (const char* file : c.files) listed.add(file);  // sizes unknown: none is read
        Game game(c.dir, listed);
        FoundTable table;
        const Result read = game.read("portraits.2da", &table);
        EXPECT_FALSE(read) << c.dir;
        EXPECT_EQ(read.reason, c.reason) << c.dir;
    }
}

// A folder listed by paths alone, as the page lists it: a file's size is
// asked for the first time it is read, its bytes only the time after; a
// file that shrank after its size was read has changed since it was picked.
TEST(GameFolderPicked, AFileOfUnknownSizeIsAskedItsSizeThenItsBytes) {
    using Need = ListedFiles::Need;
    ListedFiles listed;
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
    ListedFiles listed;
    for (const char* path : {"movies/a.dat", "movies/b.dat", "movies/deep/c.dat", "movies/deep/er/d.dat",
                             "movies/deep-x.dat", "movies-old.txt", "movies0.txt", "moviesz", "game.key", "data/x.bif",
                             "data/sub/y.bif", "data/sub/z.bif"})
        listed.add(path);
    const auto names = [&](const std::string& folder) {
        std::vector<FolderFiles::Entry> entries;
        (void)listed.list(folder, [](const std::string&) { return true; }, &entries);
        std::vector<std::string> shown;
        for (const FolderFiles::Entry& e : entries) shown.push_back(e.name + (e.folder ? "/" : ""));
        return shown;
    };
    EXPECT_EQ(names(""), (std::vector<std::string>{"data/", "game.key", "movies/", "movies-old.txt", "movies0.txt",
                                                   "moviesz"}));
    EXPECT_EQ(names("data"), (std::vector<std::string>{"sub/", "x.bif"}));
    EXPECT_EQ(names("movies"), (std::vector<std::string>{"a.dat", "b.dat", "deep/", "deep-x.dat"}));
    // A folder inside a folder lists as the game folder does, at any depth.
    EXPECT_EQ(names("movies/deep"), (std::vector<std::string>{"c.dat", "er/"}));
    EXPECT_EQ(names("movies/deep/er"), (std::vector<std::string>{"d.dat"}));
    EXPECT_EQ(names("data/sub"), (std::vector<std::string>{"y.bif", "z.bif"}));
    EXPECT_EQ(names("movies/none"), (std::vector<std::string>{}));
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
    const std::vector<ListedFiles::Need> asked = readListed(files, [&](Game& game) {
        warnings.clear();
        ASSERT_TRUE(game.resources(&index, &warnings));
    });
    using Need = ListedFiles::Need;
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
    EXPECT_EQ(where("X"), (std::vector<std::string>{"x.tga Override/sub/x.tga"}));  // a subfolder's, listed alone
    for (const char* none : {"readme", "notes", "tex_el", "", "seventeen_chars_x"}) EXPECT_TRUE(where(none).empty()) << none;
    EXPECT_EQ(index.size(), 8u);
    // Only A-Z fold: '@' is not '`'; names alike up to their last byte, or
    // whose hashes are alike (tx_416 and tx_14214 share 32 bits of theirs),
    // are told apart; a name with a NUL in it is none the game can load.
    ResourceIndex close;
    const uint32_t erf = close.addPlace("m.erf", false);
    for (const char* name : {"abcdefgh", "abcdefghijklmnop", "abcdefghijklmnoq", "x@y", "tx_416", "tx_14214"})
        close.add(name, 2002, erf);
    close.add(std::string_view("hd\0junk", 7), 2002, erf);
    for (const char* name : {"ABCDEFGH", "ABCDEFGHIJKLMNOP", "abcdefghijklmnoq", "x@y", "x`y", "abcdefghijklmno", "hd"}) {
        const std::string_view n = name;
        EXPECT_EQ(close.find(name).size(), n != "x`y" && n != "abcdefghijklmno" && n != "hd" ? 1u : 0u) << name;
    }
    for (const auto& [name, file] : {std::pair{"tx_416", "tx_416.mdl"}, {"TX_14214", "tx_14214.mdl"}}) {
        ASSERT_EQ(close.find(name).size(), 1u) << name;
        EXPECT_EQ(close.find(name)[0].file, file);
    }
    EXPECT_EQ(close.size(), 6u);
    // Names one or two edits away, of one kind, nearest first; the name itself is not near.
    EXPECT_EQ(index.near("tex_el_f0", ResourceKind::texture), (std::vector<std::string>{"tex_el_f01", "tex_el_f02"}));
    EXPECT_EQ(index.near("TEX_EL_F03x", ResourceKind::texture), (std::vector<std::string>{"tex_el_f01", "tex_el_f02"}));
    EXPECT_EQ(index.near("hd_el_mon", ResourceKind::model), (std::vector<std::string>{"hd_el_moon"}));
    EXPECT_EQ(index.near("hd_el_f01", ResourceKind::model), (std::vector<std::string>{}));
    EXPECT_EQ(index.near("hd_xx_moonxx", ResourceKind::model), (std::vector<std::string>{}));
}

// The key and the archive the override cases share: heads and appearance
// archived, and a model hd_el_f01 in data/models.bif (never read: the key
// lists it).
Files archivedTables() {
    return {{"game.key", testing::buildKey({{"data\\tables.bif", 0}, {"data\\models.bif", 0}},
                                           {{"heads", 2017, 0, 0}, {"appearance", 2017, 0, 1}, {"hd_el_f01", 2002, 1, 0}})},
            {"data/tables.bif", testing::buildArchive({{2017, {'h'}}, {2017, {'a'}}})}};
}

// The warning for `copy`, another copy of `table` deeper in the override
// folder, to be merged into `into`.
std::string another(const std::string& table, const std::string& copy, const std::string& into) {
    return table + ": warning: " + copy + " is another " + table + ", in a subfolder of the override folder, which the "
           "game may read too: rows another mod added there would collide with the rows numbered here; merge them "
           "into " + into + " or move it out";
}

// What a Game says of one table and of a few names: where the table came
// from and its warnings, and each name as "file place", first found first.
struct Seen {
    Result read;
    std::string from;
    std::vector<std::string> warnings;
    std::map<std::string, std::vector<std::string>> found;
};
Seen look(Game& game, const std::string& table, const std::vector<std::string>& names) {
    Seen seen;
    FoundTable read;
    seen.read = game.read(table, &read);
    seen.from = read.from;
    for (const Warning& warning : read.warnings) seen.warnings.push_back(warning.describe());
    ResourceIndex index;
    std::vector<Warning> ignored;
    (void)game.resources(&index, &ignored);
    for (const std::string& name : names) {
        std::vector<std::string>& found = seen.found[name];
        for (const ResourceIndex::Found& f : index.find(name)) found.push_back(f.file + " " + f.where);
    }
    return seen;
}

using GameOverride = testing::TempDir;

// The override folder's subfolders, at any depth down to eight levels:
// another copy of one of the three tables there is warned with its path
// (whichever copy the table itself is read from), and the files there are
// resources, each in its folder, after those directly in the override
// folder and before any archive's. On disk and listed by paths alike.
TEST_F(GameOverride, SubfoldersWarnOfAnotherTableAndHoldResources) {
    using Found = std::map<std::string, std::vector<std::string>>;
    const struct {
        const char* what;
        std::vector<const char*> added;  // files beside the key and its archive
        const char* table;               // read
        const char* from;
        std::vector<std::string> warnings;
        Found found;
    } cases[] = {
        {"a copy two levels down, in another case, and a model beside it",
         {"Override/heads.2da", "Override/mods/Moon/HEADS.2DA", "Override/mods/Moon/hd_el_moon.mdl"},
         "heads.2da", "Override/heads.2da",
         {another("heads.2da", "Override/mods/Moon/HEADS.2DA", "Override/heads.2da")},
         {{"hd_el_moon", {"hd_el_moon.mdl Override/mods/Moon/hd_el_moon.mdl"}}}},
        {"copies in two subfolders of the table archived; a name in the override folder, a subfolder and the key",
         {"Override/b/Appearance.2da", "Override/a/appearance.2DA", "Override/a/heads.2da", "Override/HD_EL_F01.mdl",
          "Override/a/hd_el_f01.tga"},
         "appearance.2da", "data/tables.bif (the key file)",
         {another("appearance.2da", "Override/a/appearance.2DA", "Override/appearance.2da"),
          another("appearance.2da", "Override/b/Appearance.2da", "Override/appearance.2da")},
         {{"hd_el_f01", {"HD_EL_F01.mdl Override/HD_EL_F01.mdl", "hd_el_f01.tga Override/a/hd_el_f01.tga",
                         "hd_el_f01.mdl data/models.bif"}}}},
        {"eight levels down are looked into, nine are not; a folder of a table's name, other tables",
         {"Override/1/2/3/4/5/6/7/8/heads.2da", "Override/1/2/3/4/5/6/7/8/deep.tga",
          "Override/1/2/3/4/5/6/7/8/9/heads.2da", "Override/1/2/3/4/5/6/7/8/9/deeper.tga",
          "Override/x/heads.2da/readme.txt", "Override/x/spells.2da", "Override/x/heads.2da.bak"},
         "HEADS.2DA", "data/tables.bif (the key file)",
         {another("HEADS.2DA", "Override/1/2/3/4/5/6/7/8/heads.2da", "Override/HEADS.2DA")},
         {{"deep", {"deep.tga Override/1/2/3/4/5/6/7/8/deep.tga"}}, {"deeper", {}}}},
        {"a table headlink does not number, in a subfolder too", {"override/spells.2da", "override/sub/spells.2da"},
         "spells.2da", "override/spells.2da", {}, {}},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const auto& c = cases[i];
        Files files = archivedTables();
        for (const char* path : c.added) files[path] = {'x'};
        std::vector<std::string> names;
        for (const auto& [name, found] : c.found) names.push_back(name);
        const std::string dir = "game" + std::to_string(i);
        for (const auto& [path, bytes] : files) put(dir + "/" + path, bytes);
        Game onDisk(path(dir));
        Seen listed;
        readListed(files, [&](Game& game) { listed = look(game, c.table, names); });
        for (const Seen& seen : {look(onDisk, c.table, names), listed}) {
            EXPECT_TRUE(seen.read) << c.what << ": " << seen.read.reason;
            EXPECT_EQ(seen.from, c.from) << c.what;
            EXPECT_EQ(seen.warnings, c.warnings) << c.what;
            EXPECT_EQ(seen.found, c.found) << c.what;
        }
    }
}

#ifndef _WIN32
// A symbolic link to a folder, out of the game folder or back up into the
// override folder, is never followed: what lies behind it is neither warned
// nor a resource, and the walk ends.
TEST_F(GameOverride, ASymbolicLinkToAFolderIsNeverFollowed) {
    Files files = archivedTables();
    files["Override/heads.2da"] = {'x'};
    files["Override/real/near.tga"] = {'x'};
    for (const auto& [path, bytes] : files) put("game/" + path, bytes);
    put("elsewhere/heads.2da", "x");
    put("elsewhere/far.tga", "x");
    std::filesystem::create_directory_symlink(dir_ / "elsewhere", dir_ / "game/Override/away");
    std::filesystem::create_directory_symlink(".", dir_ / "game/Override/loop");
    std::filesystem::create_directory_symlink("..", dir_ / "game/Override/real/up");
    Game game(path("game"));
    const Seen seen = look(game, "heads.2da", {"far", "near"});
    EXPECT_TRUE(seen.read) << seen.read.reason;
    EXPECT_EQ(seen.from, "Override/heads.2da");
    EXPECT_EQ(seen.warnings, std::vector<std::string>{});
    EXPECT_EQ(seen.found, (std::map<std::string, std::vector<std::string>>{
                              {"far", {}}, {"near", {"near.tga Override/real/near.tga"}}}));
}
#endif

}  // namespace
}  // namespace headlink

namespace headlink {
namespace {

// Before an install writes anything: a name longer than the folder allows,
// and two names of one file (a second name, as a Windows short name is too,
// or one name in two letter cases), are refused, with the game unchanged.
namespace fs = std::filesystem;

class InstallPaths : public testing::TempDir {};

TEST_F(InstallPaths, NamesTooLongAndOneFileUnderTwoNamesAreRefused) {
    put("game/Override/x.mdl", std::string("a model"));
    fs::create_hard_link(dir_ / "game" / "Override" / "x.mdl", dir_ / "game" / "Override" / "y.mdl");
    const auto before = tree("game");
    const std::string text = "new bytes";
    const std::span<const uint8_t> bytes(reinterpret_cast<const uint8_t*>(text.data()), text.size());
    const NamedFolder game{path("game"), "game"};
    const std::string oneFile = " are one file in the game folder (one is another name of the other): nothing was "
                                "installed; give the pack's file another name";
    const struct {
        std::vector<FileToInstall> files;
        std::string says;
    } cases[] = {
        {{{"x.mdl", bytes}, {"y.mdl", bytes}}, "Override/x.mdl and Override/y.mdl" + oneFile},
        {{{"z.mdl", bytes}, {"Z.MDL", bytes}}, "Override/z.mdl and Override/Z.MDL" + oneFile},
        {{{std::string(300, 'n') + ".mdl", bytes}},
         "Override/" + std::string(300, 'n') + ".mdl: its name is 304 bytes long, and the game folder's file system "
                                               "allows at most 255: nothing was installed; shorten it"},
    };
    for (const auto& c : cases) {
        std::ostringstream out;
        std::vector<Warning> warnings;
        const Result r = install(game, c.files, {}, "a report", {}, out, &warnings);
        EXPECT_FALSE(r);
        EXPECT_EQ(r.reason, c.says);
        EXPECT_TRUE(tree("game") == before) << c.says;
    }
}

}  // namespace
}  // namespace headlink
