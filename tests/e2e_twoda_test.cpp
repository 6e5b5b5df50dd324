// End to end: the twoda executable, on its own and on what headlink wrote.
#include <gtest/gtest.h>

#include <string>

#include "tests/support/end_to_end.h"
#include "tests/support/game_folder.h"

namespace headlink::testing {
namespace {

// What twoda diff sees after a run on the example kit: exactly the rows
// headlink added and the cells it linked, as the README's worked example says.
TEST_F(EndToEnd, TwodaDiffShowsWhatHeadlinkDid) {
    putAll(exampleKit());
    ASSERT_EQ(run().status, 0);
    std::string seen;
    for (const char* name : {"heads", "appearance", "portraits"}) {
        const std::string table = name;
        RunResult r = twoda("diff " + table + ".2da " + table + "_updated.2da");
        EXPECT_EQ(r.status, 1) << name;
        EXPECT_EQ(r.err, "") << name;
        seen += "twoda diff " + table + ".2da " + table + "_updated.2da\n" + r.out;
    }
    const Bytes expected = readBytes(HEADLINK_EXPECTED_DIR "/example-diff.txt");
    EXPECT_EQ(seen, std::string(expected.begin(), expected.end()));
    RunResult same = twoda("diff heads.2da heads.2da");
    EXPECT_EQ(same.status, 0);
    EXPECT_EQ(same.out, "no differences in rows or cells\n");
}

// Every twoda command on one small table, and build writing safely.
TEST_F(EndToEnd, TwodaCommands) {
    TableLayout layout = gridLayout({"name", "note"}, {{"a", "two words"}, {"caf\xC3\xA9", ""}});
    const Bytes table = testing::buildTable(layout);
    put("t.2da", table);
    const std::string text = "2DA V2.0\n\n\tname\tnote\n0\ta\t\"two words\"\n1\tcaf\xC3\xA9\t****\n";
    put("t.txt", "2DA V2.0\n\nname note\n  0 a \"two words\"\n1 caf\xC3\xA9 ****\n");
    put("bad.txt", "2DA V2.0\n\nname note\n0 a b c\n");
    layout.rawPool = Bytes{'a', 0};
    layout.rawGrid = {0, 0, 0, 5};
    put("offsets.2da", testing::buildTable(layout));
    // headlink's own tables by name: where it writes its links.
    put("Portraits_updated.2da", gridTable({"label", "Appearance_S", "x", "y", "z", "w", "v", "u", "t"}, {}));
    put("sub/appearance.2da", gridTable({"label", "normalhead", "x"}, {}));
    const struct {
        std::string args;
        int status;
        std::string out, err;
    } cases[] = {
        {"columns t.2da", 0, "0  name\n1  note\n", ""},
        {"columns Portraits_updated.2da", 0, "0  label\n1  Appearance_S  (link: headlink writes the apphead1 row here)\n"
         "2  x  (link: headlink writes the apphead2 row here)\n3  y\n4  z\n5  w\n6  v\n7  u\n"
         "8  t  (link: headlink writes the apphead3 row here)\n", ""},
        {"columns sub/appearance.2da", 0, "0  label\n1  normalhead  (link: headlink writes the head row here)\n2  x\n", ""},
        {"show t.2da", 0, "row     name         note\n0    0  a            two words\n"
                          "1    1  caf\\xC3\\xA9  ****\n", ""},
        {"find t.2da name A", 1, "no row: a script keyed on column 0 (name) with \"A\" appends a new row, because "
         "its first copy in the pool is the pool's first string (offset 0), which lookups never match\n"
         "row 0 (0) holds it in that column through pool offset 0, which lookups do not see\n", ""},
        {"find t.2da note 'two words'", 2, "", "twoda: the key \"two words\" cannot be a script's key, which is "
         "one token: not empty, without white space\n"},
        {"csv t.2da", 0, ",name,note\r\n0,a,two words\r\n1,caf\xC3\xA9,\r\n", ""},
        {"text t.2da", 0, text, ""},
        {"build t.txt built.2da", 0, "", ""},
        {"build bad.txt nothing.2da", 1, "",
         "twoda: bad.txt: line 4: row \"0\": expected 2 values, one per column, found 3\n"},
        {"check t.2da", 0, "t.2da: valid: 2 rows, 2 columns, 19 pool bytes in 4 strings\n", ""},
        {"check offsets.2da", 1,
         "offsets.2da: malformed: row 1, column 1 points outside the string pool (offset 5, pool of 2 bytes)\n", ""},
        {"show offsets.2da", 1, "",
         "twoda: offsets.2da: malformed: row 1, column 1 points outside the string pool (offset 5, pool of 2 "
         "bytes)\n"},
        {"diff t.2da offsets.2da", 2, "",
         "twoda: offsets.2da: malformed: row 1, column 1 points outside the string pool (offset 5, pool of 2 "
         "bytes)\n"},
        {"--version", 0, "twoda " HEADLINK_VERSION "\n", ""},
        {"show", 2, "", "twoda: usage: twoda show FILE [ROWS]\nTry 'twoda --help'.\n"},
        {"frob t.2da", 2, "", "twoda: unknown command \"frob\"\nTry 'twoda --help'.\n"},
    };
    for (const auto& c : cases) {
        RunResult r = twoda(c.args);
        EXPECT_EQ(r.status, c.status) << c.args;
        EXPECT_EQ(r.out, c.out) << c.args;
        EXPECT_EQ(r.err, c.err) << c.args;
    }
    EXPECT_EQ(get("built.2da"), table);
    EXPECT_EQ(listing(), (std::vector<std::string>{"Portraits_updated.2da", "bad.txt", "built.2da", "offsets.2da", "sub", "t.2da",
                                                  "t.txt"}));
}

// With a game folder, check also lists the names the game cannot load, in
// the columns whose values mostly name one kind of resource; list --all
// shows every resource the game can load, and where.
TEST_F(EndToEnd, TwodaChecksNamesAgainstTheGame) {
    GameLayout game;
    // Models: two of four found (checked), one in a subfolder of Override;
    // textures: tga, tpc and dds and a name in other letters, all found;
    // numbers; a note naming a model once in three values (not checked).
    game.archived = {{"heads.2da", buildTable(gridLayout({"label", "model", "texture", "race", "note"},
                                                         {{"head_a", "hd_el_f01", "tx_el_01", "1", "hello"},
                                                          {"head_b", "hd_gone", "tx_el_moon", "2", "****"},
                                                          {"head_c", "hd_el_f_mon", "tx_el_02", "3", "hd_el_f01"},
                                                          {"head_d", "hd_lost", "TX_EL_01", "4", "nothing"}}))}};
    game.models = {{"hd_el_f01", 2002}, {"hd_el_f01", 3008}, {"hd_el_f01", 9999}, {"hd_el_f02", 2002}};
    game.texturePacks = {{"faces.erf", {{"tx_el_01", 3007}, {"tx_el_02", 2033}}}};
    game.overridden = {{"hd_el_f_moon.mdl", bytesOf("m")}, {"tx_el_moon.tga", bytesOf("t")}, {"readme.txt", bytesOf("r")}};
    ASSERT_TRUE(writeGameFolder(path("game"), game));
    put("game/Override/old/hd_gone.mdl", "m");  // the game reads subfolders there too
    const std::string warned =
        "heads.2da: warning: row 2 (2), column 1 (model): \"hd_el_f_mon\": no model of that name in the game; did "
        "you mean \"hd_el_f_moon\" (Override/hd_el_f_moon.mdl)?\n"
        "heads.2da: warning: row 3 (3), column 1 (model): \"hd_lost\": no model of that name in the game\n";
    // Without --game, nothing is looked up; with it, the same verdict, then the warnings.
    put("heads.2da", game.archived[0].second);
    const std::string valid = twoda("check heads.2da").out;
    EXPECT_EQ(valid.rfind("heads.2da: valid: 4 rows, 5 columns, ", 0), 0u) << valid;
    RunResult r = twoda("check --game game heads.2da");
    EXPECT_EQ(r.status, 0);  // warnings, as every warning of check, leave it valid
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, valid + warned);

    r = twoda("list --game game --all");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "hd_el_f01.9999: data/models.bif\n"  // a type of no known extension, by its number
                     "hd_el_f01.mdl: data/models.bif\n"
                     "hd_el_f01.mdx: data/models.bif\n"
                     "hd_el_f02.mdl: data/models.bif\n"
                     "hd_el_f_moon.mdl: Override/hd_el_f_moon.mdl\n"
                     "hd_gone.mdl: Override/old/hd_gone.mdl\n"
                     "heads.2da: data/tables.bif\n"
                     "tx_el_01.tpc: TexturePacks/faces.erf\n"
                     "tx_el_02.dds: TexturePacks/faces.erf\n"
                     "tx_el_moon.tga: Override/tx_el_moon.tga\n");
    EXPECT_EQ(twoda("list --game game --frob").err, "twoda: usage: twoda list --game DIR [--all]\nTry 'twoda --help'.\n");
    EXPECT_EQ(twoda("list --all").status, 2);

    // A damaged texture pack is a warning naming it, and left out: the
    // texture column, now mostly names found nowhere, is no longer checked.
    put("game/TexturePacks/faces.erf", "ERF V1.0 but short");
    r = twoda("check --game game heads.2da");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err.rfind("twoda: TexturePacks/faces.erf: warning: malformed: ", 0), 0u) << r.err;
    EXPECT_EQ(r.out, valid + warned);
    // A game folder that cannot be read is trouble, as for any table.
    fs::create_directory(dir_ / "game" / "override");
    r = twoda("check --game game heads.2da");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("differ only in letter case"), std::string::npos) << r.err;
}

}  // namespace
}  // namespace headlink::testing
