// End to end: inputs that stop a run before anything is written (missing,
// empty, malformed, near-miss names, failing scripts, too few link columns)
// and an input that is swapped for a pipe while it is read.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#ifndef _WIN32
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <thread>
#endif

#include "tests/support/end_to_end.h"
#include "tests/support/archive_builder.h"
#include "tests/support/game_folder.h"

namespace headlink::testing {
namespace {

TEST_F(EndToEnd, MissingInputWritesNothing) {
    auto kit = smallKit();
    kit.erase("heads.2da");
    kit.erase("portraits.2da");
    putAll(kit);
    RunResult r = run();
    EXPECT_EQ(r.status, 1);
    // Every table that cannot be read is reported, in order.
    EXPECT_EQ(r.err, "headlink: heads.2da: cannot open: No such file or directory\n"
                     "headlink: portraits.2da: cannot open: No such file or directory\n");
    EXPECT_EQ(listing(), (std::vector<std::string>{"appearance.2da", "apphead1.txt", "apphead2.txt",
                                                   "apphead3.txt", "head.txt", "portraits.txt"}));

    // Without the first table this is most likely the wrong folder: a hint
    // follows its error, and every missing script is listed too.
    fs::remove(dir_ / "appearance.2da");
    fs::remove(dir_ / "apphead2.txt");
    r = run();
    EXPECT_EQ(r.status, 1);
    const std::string hint = "headlink: hint: there is no appearance.2da in ";
    const std::string files = "; run headlink in the folder that holds appearance.2da, heads.2da, portraits.2da, "
                              "head.txt, apphead1.txt, apphead2.txt, apphead3.txt, and portraits.txt (or name that "
                              "folder with -C)\n";
    const std::string folder = underWine() ? r.err.substr(r.err.find(" in ") + 4, r.err.find("; run") - r.err.find(" in ") - 4)
                                           : fs::canonical(dir_).string();
    EXPECT_EQ(r.err, "headlink: appearance.2da: cannot open: No such file or directory\n" + hint + folder + files +
                         "headlink: heads.2da: cannot open: No such file or directory\n"
                         "headlink: portraits.2da: cannot open: No such file or directory\n"
                         "headlink: apphead2.txt: cannot open: No such file or directory\n");

    // A name that differs by an extension a file browser hid is named in a
    // hint, in place of the wrong-folder one.
    fs::remove(dir_ / "head.txt");
    kit = smallKit();
    kit["appearance.2da.txt"] = kit["appearance.2da"];
    kit["head.txt.txt"] = kit["head.txt"];
    kit.erase("appearance.2da");
    kit.erase("head.txt");
    putAll(kit);
    r = run();
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "headlink: appearance.2da: cannot open: No such file or directory\n"
                     "headlink: appearance.2da: hint: the folder holds \"appearance.2da.txt\"; headlink opens exactly "
                     "\"appearance.2da\" (a file browser may hide an extension), so rename it\n"
                     "headlink: head.txt: cannot open: No such file or directory\n"
                     "headlink: head.txt: hint: the folder holds \"head.txt.txt\"; headlink opens exactly \"head.txt\" "
                     "(a file browser may hide an extension), so rename it\n");
}

TEST_F(EndToEnd, MalformedInputWritesNothing) {
    TableLayout dangling = gridLayout({"label", "model"}, {});
    dangling.rowLabels = numberedLabels(2);
    dangling.rawPool = Bytes{'h', '0', 0, 'm', '0', 0};
    dangling.rawGrid = {0, 3, 0, 6};  // row 1's model points one past the pool
    TableLayout upper = gridLayout(names("ac", 11), {names("a", 11)});
    upper.upperRowCount = 1;  // 65,537 rows, which 16-bit offsets cannot hold
    Bytes cut = smallKit()["portraits.2da"];
    cut.resize(cut.size() - 40);  // into the grid
    const std::vector<std::tuple<std::string, Bytes, std::string>> cases = {
        {"portraits.2da", cut, "malformed: the cell grid of 1 rows x 9 columns runs past the end of the file"},
        {"heads.2da", testing::buildTable(dangling),
         "malformed: row 1, column 1 points outside the string pool (offset 6, pool of 6 bytes)"},
        {"appearance.2da", testing::buildTable(upper),
         "malformed: the row count's upper half is not zero (more than 65,535 rows, or a damaged file)"},
    };
    for (const auto& [name, bytes, reason] : cases) {
        auto kit = smallKit();
        kit[name] = bytes;
        putAll(kit);
        put("portraits_updated.2da", std::string("earlier output"));
        RunResult r = run();
        EXPECT_EQ(r.status, 1) << name;
        EXPECT_EQ(r.err, "headlink: " + name + ": " + reason + "\n");
        EXPECT_FALSE(has("appearance_updated.2da")) << name;
        EXPECT_FALSE(has("heads_updated.2da")) << name;
        EXPECT_EQ(get("portraits_updated.2da"), bytesOf("earlier output")) << name;
    }
}

TEST_F(EndToEnd, EmptyOrFolderInputsAreReported) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"heads.2da", "headlink: heads.2da: malformed: the file is empty\n"},
        {"apphead2.txt", "headlink: apphead2.txt: the script is empty\n"},
    };
    for (const auto& [name, message] : cases) {
        auto kit = smallKit();
        kit[name] = {};
        putAll(kit);
        RunResult r = run();
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, message);
        EXPECT_FALSE(has("heads_updated.2da"));
        EXPECT_FALSE(has("appearance_updated.2da"));
    }
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    auto kit = smallKit();
    kit.erase("appearance.2da");
    putAll(kit);
    fs::create_directory(dir_ / "appearance.2da");
    RunResult r = run();
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "headlink: appearance.2da: cannot open: it is a folder, not a file\n");
    EXPECT_EQ(listing().size(), 8u);
}

TEST_F(EndToEnd, FailedOrMissingScriptWritesNothing) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"apphead3.txt", "headlink: apphead3.txt: cannot open: No such file or directory\n"},
        {"head.txt", "headlink: head.txt: cannot open: No such file or directory\n"},
    };
    for (const auto& [missing, message] : cases) {
        auto kit = smallKit();
        kit.erase(missing);
        putAll(kit);
        RunResult r = run();
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, message);
        for (const char* out : {"appearance_updated.2da", "heads_updated.2da", "portraits_updated.2da"})
            EXPECT_FALSE(has(out)) << out;
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    auto kit = smallKit();
    kit["portraits.txt"] = bytesOf("0 0 p\n42 x\n");
    putAll(kit);
    RunResult r = run();
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "headlink: portraits.txt: line 2: column 42 is out of range (portraits.2da has 9 columns)\n");
    EXPECT_FALSE(has("heads_updated.2da"));
}

TEST_F(EndToEnd, TooFewLinkColumnsWritesNothing) {
    auto kit = smallKit();
    kit["portraits.2da"] = gridTable(names("pc", 8), {names("p", 8)});
    putAll(kit);
    RunResult r = run();
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "headlink: portraits.2da: has 8 columns, but linking writes into column 8 and so "
                     "needs at least 9\n");
    EXPECT_FALSE(has("heads_updated.2da"));

    kit = smallKit();
    kit["appearance.2da"] = gridTable(names("ac", 10), {names("a", 10)});
    putAll(kit);
    r = run();
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "headlink: appearance.2da: has 10 columns, but linking writes into column 10 and so "
                     "needs at least 11\n");
    EXPECT_FALSE(has("heads_updated.2da"));
}

#ifndef _WIN32
TEST_F(EndToEnd, FifoSwappedInForAnInputDoesNotHang) {
    // While headlink runs, heads.2da keeps changing between a regular file
    // and a pipe; whichever it opens, it must not wait for a writer that
    // never comes.
    putAll(smallKit());
    const fs::path regular = dir_ / "regular", pipe = dir_ / "pipe", spare = dir_ / "spare";
    fs::rename(dir_ / "heads.2da", regular);
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0644), 0);
    const int tries = runner_.empty() ? 40 : 5;
    for (int i = 0; i < tries; ++i) {
        std::atomic<bool> done = false;
        std::thread swapper([&] {
            std::error_code ec;
            for (bool toPipe = false; !done; toPipe = !toPipe) {
                fs::remove(spare, ec);  // left when it was already heads.2da's file
                fs::create_hard_link(toPipe ? pipe : regular, spare, ec);
                fs::rename(spare, dir_ / "heads.2da", ec);
            }
        });
        const pid_t pid = start();
        const int status = finish(pid, 10);
        done = true;
        swapper.join();
        ASSERT_TRUE(WIFEXITED(status)) << "status " << status;
        EXPECT_LE(WEXITSTATUS(status), 1);
    }
}
#endif

// The tables from a game folder: archived or overridden, whatever the
// letter case, with the same outputs as the same tables lying in the folder;
// and each way a game folder can be wrong, refused with its reason.
TEST_F(EndToEnd, TablesFromAGameFolder) {
    Kit kit = exampleKit();
    GameLayout game;
    game.archived = {{"Appearance.2da", kit["appearance.2da"]}, {"portraits.2da", kit["portraits.2da"]},
                     {"heads.2da", Bytes{'x'}}};  // shadowed by Override/
    game.overridden = {{"HEADS.2da", kit["heads.2da"]}};
    game.otherArchives = 2;
    game.otherResources = 5;
    ASSERT_TRUE(writeGameFolder(path("game"), game));
    for (const char* script : {"head.txt", "apphead1.txt", "apphead2.txt", "apphead3.txt", "portraits.txt"})
        put(script, kit[script]);
    const auto before = tree("game");
    RunResult r = run("--game game -v");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.substr(0, r.out.find("head.txt:")),
              "appearance.2da: from data/tables.bif (the key file)\n"
              "heads.2da: from Override/HEADS.2da\n"
              "portraits.2da: from data/tables.bif (the key file)\n");
    r = run("--check-links --game game");
    EXPECT_EQ(r.status, 0) << r.err;
    // Installed: the same bytes as the same tables give in a folder, the
    // overridden one under the name it had (never a second spelling).
    for (const char* table : {"appearance.2da", "heads.2da", "portraits.2da"}) put(table, kit[table]);
    ASSERT_EQ(run().status, 0);
    const auto installed = tree("game");
    for (const auto& [table, output] : {std::pair{"appearance", "appearance"}, {"HEADS", "heads"}, {"portraits", "portraits"}}) {
        const Bytes bytes = get(std::string(output) + "_updated.2da");
        EXPECT_EQ(installed.at(std::string("Override/") + table + ".2da"), std::string(bytes.begin(), bytes.end()));
    }
    EXPECT_EQ(installed.count("Override/heads.2da"), 0u);
    r = run("--game game --uninstall");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(tree("game"), before);

    // twoda finds them the same way, lists them and writes them out as stored.
    EXPECT_EQ(twoda("list --game game").out, "Appearance.2da: data/tables.bif\nHEADS.2da: Override/HEADS.2da\n"
                                             "portraits.2da: data/tables.bif\n");
    EXPECT_EQ(twoda("diff --game game appearance.2da appearance.2da").status, 0);
    EXPECT_EQ(twoda("show --game game heads.2da 1").out, twoda("show heads.2da 1").out);
    ASSERT_EQ(twoda("extract --game game portraits.2da heads.2da -o out").status, 0);  // made
    EXPECT_EQ(get("out/portraits.2da"), kit["portraits.2da"]);
    EXPECT_EQ(get("out/heads.2da"), kit["heads.2da"]);
    EXPECT_EQ(twoda("extract --game game ../heads.2da -o out").err, "twoda: \"../heads.2da\" is not a table's name\n");

    struct Case {
        const char* what;
        void (*spoil)(const fs::path& game);
        int status;
        std::string err;  // a part of the message
    };
    const std::vector<Case> cases = {
        {"two override folders", [](const fs::path& g) { fs::create_directory(g / "override"); }, 1,
         "\"Override\" and \"override\" differ only in letter case: which one the application reads is not ours to "
         "guess"},
        {"two key files", [](const fs::path& g) { fs::copy_file(g / "game.key", g / "more.KEY"); }, 1,
         "the game folder holds several key files (game.key, more.KEY)"},
        {"a table nowhere", [](const fs::path& g) { fs::remove(g / "data" / "tables.bif"); }, 1,
         "headlink: appearance.2da: game.key says it is in \"data/tables.bif\", which is not in the game folder"},
        {"a damaged archive", [](const fs::path& g) { fs::resize_file(g / "data" / "tables.bif", 30); }, 1,
         "headlink: appearance.2da: data/tables.bif: "},
        {"no game folder", [](const fs::path& g) { fs::remove_all(g); }, 2, "headlink: game: not a game folder: "},
        {"a key file that is a folder", [](const fs::path& g) { fs::create_directory(g / "old.key"); }, 1,
         "\"old.key\" is a folder, not a file"},
        {"an archive that is a folder",
         [](const fs::path& g) { fs::remove(g / "data" / "tables.bif"); fs::create_directory(g / "data" / "tables.bif"); }, 1,
         "headlink: appearance.2da: data: \"tables.bif\" is a folder, not a file"},
        {"a file for a game folder", [](const fs::path& g) { fs::remove_all(g); std::ofstream(g.string()) << "x"; }, 2,
         "headlink: game: not a game folder: it is a file, not a folder\n"},
        {"another mod's heads table in a subfolder of override",
         [](const fs::path& g) {
             fs::create_directories(g / "Override/mods/moon");
             std::ofstream((g / "Override/mods/moon/Heads.2da").string()) << "x";
         },
         0, "headlink: heads.2da: warning: Override/mods/moon/Heads.2da is another heads.2da, in a subfolder of the "
            "override folder, which the game may read too: rows another mod added there would collide with the rows "
            "numbered here; merge them into Override/HEADS.2da or move it out\n"},
    };
    for (const Case& c : cases) {
        fs::remove_all(dir_ / "game");
        ASSERT_TRUE(writeGameFolder(path("game"), game));
        c.spoil(dir_ / "game");
        r = run("--game game -n");
        EXPECT_EQ(r.status, c.status) << c.what << "\n" << r.err;
        EXPECT_NE(r.err.find(c.err), std::string::npos) << c.what << "\n" << r.err;
    }

    // A key naming an archive outside the game folder, and one naming a table twice.
    fs::remove_all(dir_ / "game");
    ASSERT_TRUE(writeGameFolder(path("game"), game));
    put("game/game.key", buildKey({{"..\\data\\tables.bif", 0}}, {{"appearance", 2017, 0, 0}}));
    r = run("--game game -n");
    EXPECT_NE(r.err.find("headlink: appearance.2da: game.key: names the archive \"../data/tables.bif\", which is "
                         "not a path inside the game folder: refused"),
              std::string::npos)
        << r.err;
    put("game/game.key", buildKey({{"data\\tables.bif", 0}}, {{"appearance", 2017, 0, 2}, {"APPEARANCE", 2017, 0, 0},
                                                               {"portraits", 2017, 0, 1}}));
    r = run("--game game -n --strict");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("headlink: appearance.2da: error: game.key names appearance more than once; the later "
                         "entry is taken\n"),
              std::string::npos)
        << r.err;

    // A path with "." and a doubled separator still names the archive in
    // the game folder; a missing one is listed with '/' like every path.
    put("game/game.key", buildKey({{".\\data\\\\tables.bif", 0}, {"data\\none.bif", 0}},
                                  {{"appearance", 2017, 0, 0}, {"portraits", 2017, 0, 1}, {"extra", 2017, 1, 0}}));
    EXPECT_EQ(run("--game game -n").status, 0);
    EXPECT_EQ(twoda("list --game game").out, "appearance.2da: data/tables.bif\nextra.2da: data/none.bif (missing)\n"
                                             "HEADS.2da: Override/HEADS.2da\nportraits.2da: data/tables.bif\n");

    // The scripts in the wrong place: none here is said once, with the ways
    // to the right folder; one head's folder given as a pack is told apart.
    for (const char* script : {"head.txt", "apphead1.txt", "apphead2.txt", "apphead3.txt", "portraits.txt"}) {
        put(std::string("moonveil/") + script, kit[script]);
        fs::remove(dir_ / script);
    }
    r = run("--game game -n");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "headlink: none of the five scripts is in this folder (head.txt, apphead1.txt, apphead2.txt, "
                     "apphead3.txt and portraits.txt): run headlink where they are, name their folder with -C FOLDER, "
                     "or a pack of heads with --heads PACK\n");
    r = run("--game game -n --heads moonveil");
    EXPECT_NE(r.err.find("headlink: moonveil: holds the scripts of one head, not folders of heads: run headlink -C "
                         "moonveil for that head alone\n"),
              std::string::npos) << r.err;
}

}  // namespace
}  // namespace headlink::testing
