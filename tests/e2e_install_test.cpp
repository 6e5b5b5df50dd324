// End to end: installing into a game folder and undoing it, the names
// checked against what the game can load, tables deployed as links, and
// what happens around the install records.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/archive_builder.h"
#include "tests/support/end_to_end.h"
#include "tests/support/game_folder.h"

namespace headlink::testing {
namespace {

// Installing into a game folder and undoing it: each install undone
// exactly, newest first, and never over a file changed since.
TEST_F(GameFolders, InstallsIntoTheGameAndUndoesExactly) {
    Kit kit = exampleKit();
    ASSERT_TRUE(kitAndGame(kit));
    fs::remove_all(dir_ / "game" / "Override");
    const auto before = tree("game");

    // A dry run says what it would do; an install without an override
    // folder makes one and records that it did.
    RunResult r = run("--game game -n");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("would make the folder override\nwould write override/appearance.2da (new)\n"),
              std::string::npos) << r.out;
    EXPECT_EQ(tree("game"), before);
    r = run("--game game");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.find("installed override/appearance.2da, override/heads.2da and override/portraits.2da into game "),
              0u) << r.out;
    EXPECT_FALSE(has("heads_updated.2da"));  // installed instead
    const auto installed = tree("game");
    std::string record;
    for (const auto& [name, bytes] : installed)
        if (name.ends_with("/record.txt")) record = bytes;
    // The pack line: a checksum of the heads installed, and their folder.
    const std::string head = "headlink install record\ninstall 1\nheads " + dir_.filename().string() + "\npack ";
    ASSERT_TRUE(record.starts_with(head)) << record;
    EXPECT_EQ(record.find_first_not_of("0123456789abcdef", head.size()), head.size() + 32) << record;
    EXPECT_TRUE(record.substr(head.size() + 32).starts_with(
        (underWine() ? " Z:" : " ") + std::filesystem::canonical(dir_).string() +
        "\nmade override\nmade headlink-backups\nfile override/appearance.2da absent "))
        << record;
    EXPECT_TRUE(record.ends_with(".tmp\ncomplete\n")) << record;
    r = run("--game game");
    EXPECT_EQ(r.out, "nothing to install: the game's tables already hold every row and cell; game was not changed\n");
    EXPECT_EQ(tree("game"), installed);

    // A file changed by another hand stops the undo, which changes nothing.
    put("game/override/portraits.2da", "another mod's");
    r = run("--game game --uninstall");
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.err.starts_with("headlink: game: override/portraits.2da has changed since the install "
                                  "headlink-backups/")) << r.err;
    put("game/override/portraits.2da", installed.at("override/portraits.2da"));
    r = run("--game game --uninstall -n");
    EXPECT_NE(r.out.find("would remove override/portraits.2da\n"), std::string::npos) << r.out;
    EXPECT_EQ(tree("game"), installed);
    EXPECT_EQ(run("--game game --uninstall").status, 0);
    EXPECT_EQ(tree("game"), before);
    EXPECT_EQ(run("--game game --uninstall").out, "nothing to undo in game\n");

    // Two installs, the second over the first with the clock set back an
    // hour: its folder's name is the older, but its record's number is the
    // higher, and that is the one undone.
    ASSERT_EQ(run("--game game").status, 0);
    const auto first = tree("game");
    put("head.txt", std::string("1 0 head_elf_f_moonveil 1 hd_el_f_other\n"));
    const auto hourAgo = [] {
        const auto t = std::chrono::floor<std::chrono::hours>(std::chrono::system_clock::now() - std::chrono::hours(1));
        const auto day = std::chrono::floor<std::chrono::days>(t);
        const std::chrono::year_month_day date(day);
        char text[32];
        std::snprintf(text, sizeof text, "%04d%02u%02u-%02d", static_cast<int>(date.year()),
                      static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                      static_cast<int>((t - day).count()));
        return std::string(text);
    };
    const std::string before1 = hourAgo();
    // (libfaketime is preloaded, which the address sanitizer must be told is fine.)
    r = run("--game game", "ASAN_OPTIONS=\"${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0\" faketime -f -1h");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string after1 = hourAgo();
    std::vector<fs::path> folders;
    for (const auto& entry : fs::directory_iterator(dir_ / "game" / "headlink-backups")) folders.push_back(entry.path());
    ASSERT_EQ(folders.size(), 2u);
    std::sort(folders.begin(), folders.end());
    const std::string faked = folders[0].filename().string().substr(0, 11);
    EXPECT_TRUE(faked == before1 || faked == after1) << folders[0];
    r = run("--game game --uninstall");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.substr(r.out.find("undid")), "undid the install headlink-backups/" + folders[0].filename().string() +
                                                    " in game\n");
    EXPECT_EQ(tree("game"), first);

    // An install cut short (its record lacks "complete") blocks the next
    // until undone; a folder with no record is an install cut shorter.
    const fs::path recordPath = folders[1] / "record.txt";
    const Bytes complete = get(fs::relative(recordPath, dir_).string());
    put(fs::relative(recordPath, dir_).string(), Bytes(complete.begin(), complete.end() - 9));
    put("game/headlink-backups/20000101-000000/report.txt", std::string("cut short"));
    r = run("--game game");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "headlink: game: an earlier install was interrupted: run headlink --game game --uninstall first\n");
    ASSERT_EQ(run("--game game --uninstall").status, 0);
    EXPECT_EQ(tree("game"), before);

    // A pack installs the files its heads bring with the tables: one that
    // replaces other bytes warns (an error under --strict), and is undone.
    for (const char* script : {"head.txt", "apphead1.txt", "apphead2.txt", "apphead3.txt", "portraits.txt"})
        put(std::string("pack/moonveil/") + script, kit[script]);
    put("pack/moonveil/override/moon.mdl", std::string("a model"));
    put("game/override/MOON.MDL", std::string("another mod's model"));
    const auto withModel = tree("game");
    r = run("--game game --heads pack --strict");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("headlink: moonveil/override/moon.mdl: error: replaces override/MOON.MDL, which holds other "
                         "bytes (the install backs it up first)\n"),
              std::string::npos) << r.err;
    EXPECT_EQ(tree("game"), withModel);
    r = run("--game game --heads pack");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(tree("game").at("override/MOON.MDL"), "a model");
    ASSERT_EQ(run("--game game --uninstall").status, 0);
    EXPECT_EQ(tree("game"), withModel);
    fs::remove_all(dir_ / "game" / "override");
    ASSERT_EQ(tree("game"), before);

    // A record is read as untrusted: no path in it leads out of the game.
    ASSERT_EQ(run("--game game").status, 0);
    for (const auto& entry : fs::directory_iterator(dir_ / "game" / "headlink-backups"))
        put(fs::relative(entry.path() / "record.txt", dir_).string(),
            std::string("headlink install record\ntemporary ../outside\ncomplete\n"));
    r = run("--game game --uninstall");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("record.txt: line 2: not a record headlink wrote: a temporary that is not headlink's own "
                         "beside a file the record writes"),
              std::string::npos) << r.err;
    EXPECT_EQ(run("--uninstall").status, 2);
}

// The names a pack's head sets, checked against what the game can load:
// its models in data/models.bif, its textures as tpc in a texture pack.
// Whatever the head brings counts, a tga for a tpc; a name nowhere is
// warned, with the one name two edits away; a column whose template names
// nothing loadable (a skin, a number) is never looked at.
TEST_F(GameFolders, NamesTheGameCannotLoadAreWarned) {
    Kit kit = exampleKit();
    GameLayout game;
    game.archived = {{"appearance.2da", kit["appearance.2da"]}, {"portraits.2da", kit["portraits.2da"]},
                     {"heads.2da", kit["heads.2da"]}};
    game.models = {{"hd_el_f01", 2002}, {"mdl_el_b", 2002}, {"MDL_EL_CLOAK", 2002}, {"hd_el_f_moon", 2017}};
    game.texturePacks = {{"high.erf", {{"tx_el_01", 3007}, {"tex_el_f", 3007}}}};
    ASSERT_TRUE(writeGameFolder(path("game"), game));
    const std::string prefix = "headlink: moonveil/head.txt: line 2: warning: heads row 30, column 1 \"model\" = ";
    const std::string lacks = ": the game has no model of that name (the template's \"hd_el_f01\" is hd_el_f01.mdl in "
                              "data/models.bif)";
    struct Case {
        const char* what;
        std::vector<const char*> brought;  // files in moonveil/override
        const char* model;                 // the value head.txt gives column 1
        std::string err;
    };
    const std::vector<Case> cases = {
        {"all there, textures as tga", {"hd_el_f_moon.mdl", "tx_el_moon.tga", "TEX_EL_MOON.TGA"}, "hd_el_f_moon", ""},
        {"a missing model (a table of its name is no model)", {"tx_el_moon.tga", "tex_el_moon.tga"}, "hd_el_f_moon",
         prefix + "\"hd_el_f_moon\"" + lacks + "\n"},
        {"a typo", {"hd_el_f_moon.mdl", "tx_el_moon.tga", "tex_el_moon.tga"}, "hd_el_f_mon",
         prefix + "\"hd_el_f_mon\"" + lacks +
             "; did you mean \"hd_el_f_moon\" (override/hd_el_f_moon.mdl, brought by moonveil)?\n"},
        {"two names two edits away", {"hd_el_f_moon.mdl", "hd_el_f_mood.mdl", "tx_el_moon.tga", "tex_el_moon.tga"},
         "hd_el_f_mon", prefix + "\"hd_el_f_mon\"" + lacks + "\n"},
        {"17 characters", {"hd_el_f_moonveil1.mdl", "tx_el_moon.tga", "tex_el_moon.tga"}, "hd_el_f_moonveil1",
         prefix + "\"hd_el_f_moonveil1\": the game can never load a name longer than 16 characters\n"},
        {"a texture as a model", {"hd_el_f_moon.tga", "tx_el_moon.tga", "tex_el_moon.tga"}, "hd_el_f_moon",
         prefix + "\"hd_el_f_moon\"" + lacks + "\n"},
    };
    const auto pack = [&](const Case& c) {
        fs::remove_all(dir_ / "pack");
        for (const char* script : {"apphead1.txt", "apphead2.txt", "apphead3.txt", "portraits.txt"})
            put(std::string("pack/moonveil/") + script, kit[script]);
        // The skin's template is ****: "pale" is never looked up.
        put("pack/moonveil/head.txt", std::string("1 0 head_elf_f_moonveil\n1 ") + c.model + "\n2 tx_el_moon\n5 pale\n");
        for (const char* file : c.brought) put(std::string("pack/moonveil/override/") + file, std::string("art"));
    };
    for (const Case& c : cases) {
        pack(c);
        RunResult r = run("--game game --heads pack -n");
        EXPECT_EQ(r.status, 0) << c.what;
        EXPECT_EQ(r.err, c.err) << c.what;
    }
    // A model the game has only in a subfolder of its override folder is
    // there; the report says where.
    pack({"", {"tx_el_moon.tga", "tex_el_moon.tga"}, "hd_el_f_deep", ""});
    put("game/Override/mods/Deep/HD_EL_F_DEEP.mdl", std::string("art"));
    RunResult deep = run("--game game --heads pack -n");
    EXPECT_EQ(deep.err, "");
    EXPECT_NE(deep.out.find("\nmoonveil/head.txt: heads row 30, column 1 \"model\" = \"hd_el_f_deep\": found in "
                            "Override/mods/Deep/HD_EL_F_DEEP.mdl, a subfolder of the override folder\n"),
              std::string::npos) << deep.out;
    fs::remove_all(dir_ / "game/Override");
    pack(cases.back());  // a warning, for --strict below
    // --strict: an error, and nothing installed.
    const auto before = tree("game");
    RunResult r = run("--game game --heads pack --strict");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("headlink: moonveil/head.txt: line 2: error: heads row 30"), std::string::npos) << r.err;
    EXPECT_EQ(tree("game"), before);
    // Without --game, nothing is checked.
    for (const char* table : {"appearance.2da", "heads.2da", "portraits.2da"}) put(table, kit[table]);
    r = run("--heads pack -n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
}

// Tables a mod manager deployed as links: the install replaces the link
// itself (the manager's store untouched) and the undo gives back the same
// symbolic link, and the same file for one with other names while it
// still holds what it held (else the backup copy, said so). The
// emulator's symbolic links are a stub: there, hard links only.
TEST_F(GameFolders, LinkedTablesComeBackAsTheSameLinks) {
    Kit kit = exampleKit();
    ASSERT_TRUE(kitAndGame(kit));
    put("store/heads.2da", kit["heads.2da"]);
    put("store/portraits.2da", kit["portraits.2da"]);
    fs::create_directories(dir_ / "game" / "Override");
    fs::create_hard_link(dir_ / "store" / "portraits.2da", dir_ / "game" / "Override" / "portraits.2da");
    const bool symbolic = !underWine();
    if (symbolic) {
        fs::create_symlink("../../store/heads.2da", dir_ / "game" / "Override" / "heads.2da");
    }
    const auto store = tree("store");
    const auto before = tree("game");
    auto linkedBack = [&] {
        EXPECT_EQ(tree("game"), before);
        EXPECT_TRUE(fs::equivalent(dir_ / "store" / "portraits.2da", dir_ / "game" / "Override" / "portraits.2da"));
    };

    RunResult r = run("--game game -n");
    if (symbolic) {
        EXPECT_NE(r.out.find("would write Override/heads.2da (a symbolic link to ../../store/heads.2da: the link is "
                             "replaced, never written through)\n"),
                  std::string::npos) << r.out;
    }
    r = run("--game game");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("Override/portraits.2da had other names (hard links): only this name was replaced; the undo "
                         "gives it back that file\n"),
              std::string::npos) << r.out;
    if (symbolic) {
        EXPECT_NE(r.out.find("Override/heads.2da was a symbolic link to ../../store/heads.2da: the link was replaced, "
                             "not what it leads to; the undo puts the link back\n"),
                  std::string::npos) << r.out;
        EXPECT_FALSE(fs::is_symlink(dir_ / "game" / "Override" / "heads.2da"));
    }
    EXPECT_EQ(tree("store"), store);
    EXPECT_FALSE(fs::equivalent(dir_ / "store" / "portraits.2da", dir_ / "game" / "Override" / "portraits.2da"));
    if (symbolic) {
        r = run("--game game --uninstall -n");
        EXPECT_NE(r.out.find("would put back Override/heads.2da as the symbolic link to ../../store/heads.2da it was\n"),
                  std::string::npos) << r.out;
    }
    r = run("--game game --uninstall");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("put back Override/portraits.2da as the same file as before, which has other names too\n"),
              std::string::npos) << r.out;
    linkedBack();

    // The store's file changed in place meanwhile: the copy comes back.
    ASSERT_EQ(run("--game game").status, 0);
    put("store/portraits.2da", std::string("changed by the manager"));
    r = run("--game game --uninstall");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("put back Override/portraits.2da from the backup copy: the file it shared with other names "
                         "has changed since\n"),
              std::string::npos) << r.out;
    EXPECT_EQ(tree("game"), before);
    EXPECT_FALSE(fs::equivalent(dir_ / "store" / "portraits.2da", dir_ / "game" / "Override" / "portraits.2da"));

    // Where no link can be made again (another drive, no right to), the
    // install goes on and says the undo puts back a copy; and it does.
    if (!symbolic) return;
    put("store/portraits.2da", kit["portraits.2da"]);
    fs::remove(dir_ / "game" / "Override" / "portraits.2da");
    fs::create_hard_link(dir_ / "store" / "portraits.2da", dir_ / "game" / "Override" / "portraits.2da");
    // (The leak checker cannot work under a tracer, which the address sanitizer must be told.)
    const std::string refuse = "ASAN_OPTIONS=\"${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0\" "
                               "strace -f -qq -o /dev/null -e trace=link,linkat,symlink,symlinkat "
                               "-e inject=link,linkat:error=EXDEV -e inject=symlink,symlinkat:error=EPERM";
    r = run("--game game", refuse);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("Override/portraits.2da has other names (hard links), which cannot be made again here "
                         "(cannot make the link: Invalid cross-device link): the undo puts back a copy\n"),
              std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Override/heads.2da is a symbolic link, which cannot be made again here"), std::string::npos)
        << r.out;
    ASSERT_EQ(run("--game game --uninstall").status, 0);
    EXPECT_FALSE(fs::is_symlink(dir_ / "game" / "Override" / "heads.2da"));
    EXPECT_EQ(get("game/Override/heads.2da"), kit["heads.2da"]);
    EXPECT_FALSE(fs::equivalent(dir_ / "store" / "portraits.2da", dir_ / "game" / "Override" / "portraits.2da"));
}

// What happens around the records: an undo cut short is finished and no
// more, a record saved with CR LF or lost, a headlink-backups the user
// made, and names of files a head brings that no game could open.
TEST_F(EndToEnd, InstallRecordsHoldAgainstWhatHappensAroundThem) {
    Kit kit = exampleKit();
    for (const char* script : {"head.txt", "apphead1.txt", "apphead2.txt", "apphead3.txt", "portraits.txt"})
        put(script, kit[script]);
    GameLayout game;
    game.archived = {{"appearance.2da", kit["appearance.2da"]}, {"portraits.2da", kit["portraits.2da"]}};
    game.overridden = {{"heads.2da", kit["heads.2da"]}};
    auto fresh = [&] {
        fs::remove_all(dir_ / "game");
        fs::create_directory(dir_ / "game");
        EXPECT_TRUE(writeGameFolder(path("game"), game));
    };
    // The install folder whose record holds `line`.
    auto folderOf = [&](const std::string& line) {
        for (const auto& entry : fs::directory_iterator(dir_ / "game" / "headlink-backups")) {
            const Bytes record = readBytes(entry.path() / "record.txt");
            if (std::string(record.begin(), record.end()).find("\n" + line + "\n") != std::string::npos) return entry.path();
        }
        return fs::path();
    };
    fresh();
    const auto before = tree("game");

    // An undo cut short after it began (its record says "undoing", one file
    // already put back): a new install waits for it, and --uninstall
    // finishes it and stops, however many installs are older.
    ASSERT_EQ(run("--game game").status, 0);
    const auto first = tree("game");
    put("head.txt", std::string("1 0 head_elf_f_moonveil 1 hd_el_f_other\n"));
    ASSERT_EQ(run("--game game").status, 0);
    const fs::path second = folderOf("install 2");
    ASSERT_FALSE(second.empty());
    fs::copy_file(second / "Override" / "heads.2da", dir_ / "game" / "Override" / "heads.2da",
                  fs::copy_options::overwrite_existing);
    Bytes journal = get(fs::relative(second / "record.txt", dir_).string());
    for (const char c : std::string("undoing\n")) journal.push_back(static_cast<uint8_t>(c));
    put(fs::relative(second / "record.txt", dir_).string(), journal);
    RunResult r = run("--game game");
    EXPECT_EQ(r.err, "headlink: game: an earlier undo was interrupted: run headlink --game game --uninstall first\n");
    r = run("--game game --uninstall");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(tree("game"), first);
    EXPECT_NE(r.out.find("undid the install headlink-backups/" + second.filename().string() +
                         " in game\nthe install headlink-backups/" + folderOf("install 1").filename().string() +
                         " is still in place: to undo it too, run headlink --game game --uninstall again\n"),
              std::string::npos) << r.out;

    // The record saved by an editor with CR LF reads the same.
    const fs::path record = folderOf("install 1") / "record.txt";
    std::string crlf;
    for (const uint8_t c : get(fs::relative(record, dir_).string()))
        crlf += c == '\n' ? std::string("\r\n") : std::string(1, static_cast<char>(c));
    put(fs::relative(record, dir_).string(), crlf);
    ASSERT_EQ(run("--game game --uninstall").status, 0);
    EXPECT_EQ(tree("game"), before);

    // A record deleted by hand: the only backup of Override/heads.2da is
    // kept, named, never removed while the game holds other bytes.
    ASSERT_EQ(run("--game game").status, 0);
    const fs::path lost = folderOf("install 1");
    fs::remove(lost / "record.txt");
    const auto recordless = tree("game");
    r = run("--game game --uninstall");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "headlink: game: warning: headlink-backups/" + lost.filename().string() +
                         " has no record and holds a backup of Override/heads.2da that differs from the game's: "
                         "kept; compare it and remove the folder yourself\n");
    EXPECT_EQ(r.out, "nothing to undo in game\n");
    EXPECT_EQ(tree("game"), recordless);
    // Nor one holding a link (to the override folder, whose files it would
    // then seem to back up exactly). The emulator's links are a stub.
    fs::remove_all(lost);
    if (!underWine()) {
        fs::create_directories(lost);
        fs::create_directory_symlink(dir_ / "game" / "Override", lost / "Override");
        r = run("--game game --uninstall");
        EXPECT_NE(r.err.find("has no record and holds headlink-backups/" + lost.filename().string() +
                             "/Override, a link, which headlink never makes: kept"),
                  std::string::npos) << r.err;
        EXPECT_TRUE(fs::exists(dir_ / "game" / "Override" / "heads.2da"));
        fs::remove_all(lost);
    }

    // Install numbers that are used up are not wrapped round to none.
    put("game/headlink-backups/20000101-000000/record.txt",
        std::string("headlink install record\ninstall 18446744073709551615\ncomplete\n"));
    r = run("--game game");
    EXPECT_EQ(r.err, "headlink: game: the records' install numbers are used up\n");

    // A table edited by hand since the install: the undo names it and its
    // backup and changes nothing; with --force the edit is moved aside,
    // intact, and the rest undone.
    fresh();
    put("head.txt", kit["head.txt"]);
    const auto unedited = tree("game");
    ASSERT_EQ(run("--game game").status, 0);
    const std::string installed = "headlink-backups/" + folderOf("install 1").filename().string();
    put("game/Override/heads.2da", std::string("my edit"));
    r = run("--game game --uninstall");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "headlink: game: Override/heads.2da has changed since the install " + installed + ", its backup is " +
                         installed + "/Override/heads.2da: nothing was undone; to move the changed files aside and undo "
                         "the rest, run headlink --game game --uninstall --force\n");
    r = run("--game game --uninstall --force -n");
    EXPECT_NE(r.out.find("would move Override/heads.2da aside, as it was, into headlink-backups/set-aside-"),
              std::string::npos) << r.out;
    r = run("--game game --uninstall --force");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::size_t at = r.out.find("headlink-backups/set-aside-");
    ASSERT_NE(at, std::string::npos) << r.out;
    const std::string asideAt = r.out.substr(at, r.out.find('\n', at) - at);
    EXPECT_EQ(get("game/" + asideAt), bytesOf("my edit"));
    auto withAside = tree("game");
    for (const auto& [name, bytes] : unedited) EXPECT_EQ(withAside[name], bytes) << name;
    EXPECT_EQ(withAside.size(), unedited.size() + 4) << "headlink-backups, the set-aside folder, its Override, the edit";

    // What an undo moved aside, kept because the game changed since: the
    // run stops there, and the install before it is not undone.
    fresh();
    put("head.txt", kit["head.txt"]);
    ASSERT_EQ(run("--game game").status, 0);
    put("head.txt", std::string("1 0 head_elf_f_moonveil 1 hd_el_f_other\n"));
    ASSERT_EQ(run("--game game").status, 0);
    const fs::path aside = dir_ / "game" / "headlink-backups" / ("." + folderOf("install 2").filename().string() +
                                                                 ".headlink-0123456789abcdef.tmp");
    fs::rename(folderOf("install 2"), aside);
    const auto movedAside = tree("game");
    r = run("--game game --uninstall");
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(r.err.starts_with("headlink: game: warning: " + fs::relative(aside, dir_ / "game").generic_string() +
                                  " holds ") && r.err.ends_with(": kept; compare it and remove the folder yourself\n"))
        << r.err;
    EXPECT_EQ(r.out.find("undid"), std::string::npos) << r.out;
    EXPECT_EQ(tree("game"), movedAside);

    // A headlink-backups the user made stays after the last undo; a file
    // of that name stops an install before it begins.
    fresh();
    fs::create_directory(dir_ / "game" / "headlink-backups");
    const auto madeByUser = tree("game");
    ASSERT_EQ(run("--game game").status, 0);
    EXPECT_TRUE(folderOf("made headlink-backups").empty() && !folderOf("install 1").empty());
    ASSERT_EQ(run("--game game --uninstall").status, 0);
    EXPECT_EQ(tree("game"), madeByUser);
    fs::remove(dir_ / "game" / "headlink-backups");
    fs::create_directory(dir_ / "elsewhere");
    fs::create_directory_symlink(dir_ / "elsewhere", dir_ / "game" / "headlink-backups");
    ASSERT_EQ(run("--game game").status, 0);
    ASSERT_EQ(run("--game game --uninstall").status, 0);
    EXPECT_TRUE(fs::is_symlink(dir_ / "game" / "headlink-backups") && fs::is_empty(dir_ / "elsewhere"));
    fs::remove(dir_ / "game" / "headlink-backups");
    put("game/headlink-backups", std::string("mine"));
    r = run("--game game");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "headlink: game: headlink-backups is not a folder, and headlink keeps its backups there: move it "
                     "away first\n");

    // Names of files a head brings. A name the game cannot open is refused
    // before anything is written (under an emulator such names cannot even
    // be listed, which stops the run all the same); a name with spaces is
    // recorded escaped and undone. The crafted one would spell a line of
    // the record that makes an undo delete the key file.
    fresh();
    const auto game0 = tree("game");
    for (const char* script : {"head.txt", "apphead1.txt", "apphead2.txt", "apphead3.txt", "portraits.txt"})
        put(std::string("pack/moon veil/") + script, kit[script]);
    const struct {
        std::string name;
        const char* why;  // nullptr: installed
    } names[] = {
        {"hd moon.mdl", nullptr},
        {"x.mdl\ntemporary game.key", "its name holds a byte outside printable ASCII"},
        {"caf\xE9.mdl", "its name holds a byte outside printable ASCII"},
        {"hd:moon.mdl", "its name holds ':'"},
        {"hd\\moon.mdl", "its name holds '\\'"},
        {"hd_moon.", "its name ends in a dot or a space"},
        {"COM1.tga", "its name is a device's (COM1)"},
    };
    for (const auto& c : names) {
        fs::remove_all(dir_ / "pack" / "moon veil" / "override");
        put("pack/moon veil/override/" + c.name, std::string("a model"));
        r = run("--game game --heads pack");
        if (c.why == nullptr) {
            ASSERT_EQ(r.status, 0) << r.err;
            const Bytes text = get(fs::relative(folderOf("install 1") / "record.txt", dir_).string());
            EXPECT_NE(std::string(text.begin(), text.end()).find("\nheads moon\\x20veil\n"), std::string::npos);
            EXPECT_NE(std::string(text.begin(), text.end()).find("\nfile Override/hd\\x20moon.mdl absent "), std::string::npos);
            EXPECT_EQ(tree("game").at("Override/hd moon.mdl"), "a model");
            ASSERT_EQ(run("--game game --uninstall").status, 0);
        } else {
            EXPECT_EQ(r.status, 1) << c.name;
            if (!underWine()) {
                EXPECT_EQ(r.err, "headlink: moon veil/override/" + c.name + ": " + c.why +
                                     ": the game could not open it, so nothing was installed\n")
                    << c.name;
            }
        }
        EXPECT_EQ(tree("game"), game0) << c.name;
    }
}

}  // namespace
}  // namespace headlink::testing
