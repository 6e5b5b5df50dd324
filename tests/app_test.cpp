// The program's own layer: its command line, and the warnings a run gives.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <tuple>

#include "app/options.h"
#include "app/run.h"
#include "patch/patch.h"
#include "game/folder.h"
#include "game/install.h"
#include "tests/support/failing_new.h"
#include "tests/support/game_folder.h"
#include "tests/support/temp_dir.h"
#include "tests/support/fixtures.h"
#include "tests/support/table_builder.h"

// The page's API (web/api.cpp), built natively for these tests.
extern "C" {
const char* hl_error();
const uint8_t* hl_pack_plan(const char* listing);
int hl_pack_begin(const char* listing);
int hl_set_input(int index, const uint8_t* data, int size);
int hl_set_head_script(int head, int script, const uint8_t* data, int size);
int hl_run(int strict);
const uint8_t* hl_run_answer();
int hl_open(const uint8_t* data, int size, const char* name);
const uint8_t* hl_view_window(int v, int r0, int r1, int c0, int c1);
int hl_export(int v, int kind);
int hl_output_size(int index);
const uint8_t* hl_output(int index);
int hl_game_begin(const char* name, const char* listing);
int hl_game_read();
const char* hl_game_need_path(int i);
double hl_game_need_offset(int i);
int hl_game_need_size(int i);
int hl_game_give_size(int i, double size);
int hl_game_give(int i, const uint8_t* data, int size);
const char* hl_table_source(int index);
const uint8_t* hl_exported();
}

namespace headlink {
namespace {

// The page's packed answers read back as the page reads them: 32-bit
// little-endian numbers, texts as a length and bytes.
struct Unpacked {
    const uint8_t* at;
    int32_t number() {
        uint32_t value = 0;
        for (int i = 0; i < 4; ++i) value |= static_cast<uint32_t>(at[i]) << (8 * i);
        at += 4;
        return static_cast<int32_t>(value);
    }
    std::string text() {
        const auto size = static_cast<std::size_t>(number());
        std::string value(reinterpret_cast<const char*>(at), size);
        at += size;
        return value;
    }
};

// What these tests read of a run's answer.
struct PageRun {
    int status = 0;
    bool worked = false;
    std::string out, err;
    std::vector<std::string> heads;
    std::vector<Said> said;  // text, line, warning, head, script
    std::vector<std::array<int32_t, 3>> outputs;  // rows, rows before, columns
    std::vector<std::array<int32_t, 5>> marks;    // table, row, column, link, head
    std::string chains;  // each head's: "head: title row (label), ... > title ..." a line
};
PageRun pageRun() {
    Unpacked r{hl_run_answer()};
    PageRun run;
    run.status = r.number();
    run.worked = r.number() != 0;
    r.number();
    run.out = r.text();
    run.err = r.text();
    for (int n = r.number(); n > 0; --n) run.heads.push_back(r.text());
    for (int n = r.number(); n > 0; --n) {
        Said said;
        said.text = r.text();
        said.line = r.number();
        said.warning = r.number() != 0;
        said.head = r.number();
        said.script = r.number();
        run.said.push_back(said);
    }
    for (int n = r.number(); n > 0; --n) run.outputs.push_back({r.number(), r.number(), r.number()});
    for (int n = r.number(); n > 0; --n) run.marks.push_back({r.number(), r.number(), r.number(), r.number(), r.number()});
    // Appended piece by piece: GCC 12 sees overlaps in chains of "+" that are not there.
    std::ostringstream chains;
    for (int n = r.number(); n > 0; --n) {
        chains << r.text() << ':';
        for (int boxes = r.number(); boxes > 0; --boxes) {
            chains << ' ' << r.text();
            for (int rows = r.number(); rows > 0; --rows) {
                const int32_t row = r.number();
                chains << ' ' << row << " (" << r.text() << ')';
            }
            if (boxes > 1) chains << " >";
        }
        chains << '\n';
    }
    run.chains = chains.str();
    return run;
}

// A view's cell (text and mark) from a window of one cell, and its shape.
struct PageCell {
    int32_t rows = 0, columns = 0;
    int32_t link = -1;  // the script whose row its column's link cells get
    std::string text;
    int32_t mark = 0;
    std::string was;
};
PageCell pageCell(const uint8_t* window, int row, int column) {
    Unpacked r{window};
    PageCell cell;
    cell.rows = r.number();
    cell.columns = r.number();
    for (int i = 0; i < 5; ++i) r.number();  // rows before, the window
    if (row < 0 || row >= cell.rows || column < 0 || column >= cell.columns) return cell;
    r.text();  // the column's label
    cell.link = r.number();
    r.text();  // the row's
    cell.text = r.text();
    cell.mark = r.number();
    if (cell.mark != 0) cell.was = r.text();
    return cell;
}
PageCell pageCell(int v, int row, int column) { return pageCell(hl_view_window(v, row, row + 1, column, column + 1), row, column); }

struct OptionCase {
    std::vector<std::string> args;
    const char* error;  // nullptr: accepted
    std::string directory;
    std::string flags;  // n v q s (strict) l o (check links, outputs) h V (version) u (uninstall) f (force) for each switch set
    std::string game = {};
    std::string heads = {};
};

TEST(Options, ParsedByTable) {
    const std::vector<OptionCase> cases = {
        {{}, nullptr, "", ""},
        {{"heads.2da", "C:\\kit\\x.txt", "-"}, nullptr, "", ""},  // dropped files are ignored
        {{"-n", "-v", "-q"}, nullptr, "", "nvq"},
        {{"--strict", "-q"}, nullptr, "", "qs"},
        {{"--check-links", "--outputs"}, nullptr, "", "lo"},
        {{"--outputs"}, "option '--outputs' needs '--check-links'", "", ""},
        {{"--dry-run", "--verbose", "--quiet", "--help", "--version"}, nullptr, "", "nvqhV"},
        {{"-nvq"}, nullptr, "", "nvq"},
        {{"-h"}, nullptr, "", "h"},
        {{"-C", "kit"}, nullptr, "kit", ""},
        {{"-Ckit", "-v"}, nullptr, "kit", "v"},
        {{"-vC", "kit"}, nullptr, "kit", "v"},
        {{"--directory", "a b"}, nullptr, "a b", ""},
        {{"--directory=kit"}, nullptr, "kit", ""},
        {{"-C", "one", "-C", "two"}, nullptr, "two", ""},
        {{"--", "--frob", "-C"}, nullptr, "", ""},  // nothing after -- counts
        {{"-v", "--", "-n"}, nullptr, "", "v"},
        {{"--frob"}, "unknown option '--frob'", "", ""},
        {{"-x"}, "unknown option '-x'", "", ""},
        {{"-vx"}, "unknown option '-x'", "", ""},
        {{"file", "--verbose=1"}, "option '--verbose' takes no value", "", ""},
        {{"-C"}, "option '-C' needs a folder", "", ""},
        {{"-v", "--directory"}, "option '--directory' needs a folder", "", ""},
        {{"--directory="}, "option '--directory' needs a folder", "", ""},
        {{"--dry"}, "unknown option '--dry'", "", ""},  // no abbreviations
        {{"--game", "C:\\Games\\Host", "-Ckit"}, nullptr, "kit", "", "C:\\Games\\Host"},
        {{"--game=../game", "-n"}, nullptr, "", "n", "../game"},
        {{"-n", "--game"}, "option '--game' needs a folder", "", ""},
        {{"--game="}, "option '--game' needs a folder", "", ""},
        {{"--game", "g", "--uninstall", "-n"}, nullptr, "", "nu", "g"},
        {{"--uninstall"}, "option '--uninstall' needs '--game'", "", ""},
        {{"--game", "g", "--force"}, "option '--force' needs '--uninstall'", "", ""},
        {{"--game", "g", "--uninstall", "--force"}, nullptr, "", "uf", "g"},
        {{"--heads", "pack", "--game=g"}, nullptr, "", "", "g", "pack"},
        {{"--heads"}, "option '--heads' needs a folder", "", ""},
    };
    for (const auto& c : cases) {
        std::string label;
        for (const auto& a : c.args) label += a + " ";
        Options options;
        const Result parsed = parseOptions(c.args, &options);
        const bool ok = static_cast<bool>(parsed);
        EXPECT_EQ(ok, c.error == nullptr) << label << parsed.description();
        if (!ok) {
            EXPECT_EQ(parsed.description(), c.error) << label;
            EXPECT_EQ(parsed.status, Status::usage) << label;
            continue;
        }
        std::string flags;
        if (options.dryRun) flags += 'n';
        if (options.verbose) flags += 'v';
        if (options.quiet) flags += 'q';
        if (options.strict) flags += 's';
        if (options.checkLinks) flags += 'l';
        if (options.outputs) flags += 'o';
        if (options.help) flags += 'h';
        if (options.version) flags += 'V';
        if (options.uninstall) flags += 'u';
        if (options.force) flags += 'f';
        EXPECT_EQ(flags, c.flags) << label;
        EXPECT_EQ(options.directory, c.directory) << label;
        EXPECT_EQ(options.game, c.game) << label;
        EXPECT_EQ(options.heads, c.heads) << label;
    }
}

using testing::Bytes;

Bytes table(std::size_t columns, std::size_t rows, const std::string& signature = "2DA V2.b\n") {
    testing::TableLayout layout;
    layout.signature = signature;
    layout.columns = testing::names("c", static_cast<int>(columns));
    layout.rowLabels = testing::numberedLabels(rows);
    for (std::size_t r = 0; r < rows; ++r) {
        layout.cells.emplace_back();
        for (std::size_t c = 0; c < columns; ++c) {
            std::string cell = "v";
            cell += std::to_string(r);
            cell += '_';
            cell += std::to_string(c);
            layout.cells.back().push_back(cell);
        }
    }
    return testing::buildTable(layout);
}

FileBytes file(const std::string& text) { return {testing::bytesOf(text), {}}; }

// The warnings as the program prints them, less "headlink: ".
std::vector<std::string> lines(const RunOutcome& outcome) {
    std::vector<std::string> out;
    for (const Said& said : outcome.said)
        if (said.warning) out.push_back(said.text);
    return out;
}

// A kit whose scripts give no warning; each case changes one file.
RunInputs quietKit() {
    RunInputs in;
    in.tables = {FileBytes{table(12, 2), {}}, FileBytes{table(2, 2), {}},
                 FileBytes{table(9, 1), {}}};
    in.scripts = {file("0 0 head 1 model"), file("0 0 app1 11 fast"), file("0 0 app2"), file("0 0 app3"),
                  file("0 0 portrait 4 x end: a note")};
    return in;
}

struct WarningCase {
    std::size_t script;  // which of the five, in run order
    std::string text;
    std::vector<std::string> warnings;
};

TEST(Warnings, EachPatternOnceAndNoneOnAQuietKit) {
    const std::vector<WarningCase> cases = {
        {1, "0 0 app1 08 fast",  // column 0 is the key column, too
         {"apphead1.txt: line 1: warning: \"08\" reads as column 0 followed by the value \"8\"; a leading 0 means octal",
          "apphead1.txt: line 1: warning: this sets key column 0 to \"8\": the next run will not find the row by "
          "\"app1\" and adds another"}},
        {1, "0 0 app1 4x tex", {"apphead1.txt: line 1: warning: \"4x\" reads as column 4 followed by the value \"x\""}},
        // A word on the last value's line ends the pairs; what reads as more
        // pairs after it, there or on the next line, is lost.
        {1, "0 0 app1 5 Moon Elf Portrait 2 tx",
         {"apphead1.txt: line 1: warning: \"Elf\" is not a column number, so the pairs end here and the rest of the "
          "script is ignored, from \"Elf Portrait 2 tx\" on; a value cannot hold a space"}},
        {1, "0 0 app1\n5 tex ; set texture\r\n9 1.7\n",
         {"apphead1.txt: line 2: warning: \";\" is not a column number, so the pairs end here and the rest of the "
          "script is ignored, from \"; set texture\" on, line 3 (\"9 1.7\") included; a value cannot hold a space"}},
        {1, "0 0 app1 5 tex\nend: row 40, the 2 rows above", {}},  // a note on a line of its own
        // A plain word right after the last value is the rest of a value;
        // what starts like a note stays quiet.
        {1, "0 0 app1 5 Moon Elf",
         {"apphead1.txt: line 1: warning: \"Elf\" is not a column number, so the pairs end here and the rest of the "
          "script is ignored, from \"Elf\" on; a value cannot hold a space"}},
        {1, "0 0 app1 5 tex\t\xC3\x89lan vital\r\n",
         {"apphead1.txt: line 1: warning: \"\\xC3\\x89lan\" is not a column number, so the pairs end here and the rest "
          "of the script is ignored, from \"\\xC3\\x89lan vital\" on; a value cannot hold a space"}},
        {1, "0 0 app1 5 tex end: a note", {}},
        {1, "0 0 app1 5 tex # a note", {}},
        {1, "0 0 app1 5 tex // a note", {}},
        {1, "0 0 app1 5 tex (a note)", {}},
        {1, "0 0 app1 5 tex ; a note\n\n9 1.7", {}},
        {3, "0 0 a 5 \"Moon Elf\"",
         {"apphead3.txt: line 1: warning: the value \"Moon\" has a double quote before it, which is stored as part of "
          "the text: scripts have no quoting, and a value cannot hold a space"}},
        {3, "0 0 a 5 5'2\"x", {}},
        {0, "0 0 h\n1 m\n0xg 1 n",
         {"head.txt: line 3: warning: \"0xg\" is not a number (0x needs a hexadecimal digit after it), so the pairs "
          "end here and the rest of the script is ignored"}},
        {1, "0 0 a 11abc", {"apphead1.txt: line 1: warning: \"11abc\" reads as column 11 followed by the value \"abc\""}},
        {2, "0 0 a\n011 v", {"apphead2.txt: line 2: warning: \"011\" is octal and reads as column 9 (a leading 0 means octal)"}},
        {2, "00 0 a 0 A", {}},
        {0, "0 0 h 0 x 0 H", {}},  // the key cell ends as the key: still found  // 0 is 0 however written; the key set again in another case is still found
        {0, "0 0 V0_0", {"head.txt: line 1: warning: the key value \"V0_0\" is never found: the table's first text "
                         "is never matched, so this run adds a row, and every later run will add another"}},
        {0, "0 0 h\n0 other", {"head.txt: line 2: warning: this sets key column 0 to \"other\": the next run will not "
                               "find the row by \"h\" and adds another"}},
        {1, "0 10 k", {"apphead1.txt: warning: linking writes \"2\" into key column 10 of appearance row 2: the next "
                       "run will not find the row by \"k\" and adds another"}},
        {1, "0 0 a 10 v", {"apphead1.txt: line 1: warning: column 10 is a link column: linking replaces this value "
                           "with a row number"}},
        {4, "0 0 p 7 v", {"portraits.txt: line 1: warning: column 7 is a link column: linking replaces this value "
                          "with a row number"}},
        // A row found, not added, is the game's or another mod's: its link cells changed are said, with what they held.
        {4, "0 1 v0_1", {"portraits.txt: warning: linking changes portraits row 0 (label \"0\"), a row the script found "
                         "rather than added: 2 \"c2\" was \"v0_2\", now \"3\"; 7 \"c7\" was \"v0_7\", now \"2\"; 8 \"c8\" "
                         "was \"v0_8\", now \"4\"; such a row is the game's or another mod's, and everything that uses it "
                         "changes with it: give the script a key value no row has, so that it adds a row of its own"}},
        {1, "0 1 v0_1", {"apphead1.txt: warning: linking changes appearance row 0 (label \"0\"), a row the script found "
                         "rather than added: 10 \"c10\" was \"v0_10\", now \"2\"; such a row is the game's or another "
                         "mod's, and everything that uses it changes with it: give the script a key value no row has, so "
                         "that it adds a row of its own"}},
        {3, "0 0 a 5 ****", {"apphead3.txt: line 1: warning: the value \"****\" is stored as those four characters; "
                             "in binary tables an empty cell is an empty text"}},
    };
    RunOutcome quiet = runInMemory(quietKit());
    ASSERT_TRUE(quiet.ok()) << quiet.said[0].text;
    EXPECT_EQ(lines(quiet), std::vector<std::string>{});
    for (const auto& c : cases) {
        RunInputs in = quietKit();
        in.scripts[c.script] = file(c.text);
        RunOutcome outcome = runInMemory(in);
        EXPECT_TRUE(outcome.ok()) << c.text;
        EXPECT_EQ(lines(outcome), c.warnings) << c.text;
        EXPECT_EQ(outcome.warnings, c.warnings.size()) << c.text;
        // Each is about its script, and about no head outside a pack.
        for (const Said& said : outcome.said) {
            EXPECT_EQ(said.script, static_cast<int>(c.script)) << said.text;
            EXPECT_EQ(said.head, -1) << said.text;
        }
    }

    // A table without the binary signature is read as it is, with a warning.
    RunInputs in = quietKit();
    in.tables[1] = FileBytes{table(2, 2, "2DA BIN1\n"), {}};
    RunOutcome outcome = runInMemory(in);
    EXPECT_TRUE(outcome.ok());
    EXPECT_EQ(lines(outcome), std::vector<std::string>{"heads.2da: warning: the first line is \"2DA BIN1\", not "
                                                         "the binary signature \"2DA V2.b\"; the table is read as it is"});
    // Printed as they arise, a script's warnings follow its report lines.
    in = quietKit();
    in.scripts[3] = file("0 0 a 5 ****");
    std::ostringstream both;
    outcome = runInMemory(in, &both, LiveWarnings{&both, true});
    const std::string shown = both.str();
    const std::size_t step = shown.find("apphead3.txt: appearance row 4: 5 \"c5\" = \"****\" (was \"v0_5\")\n");
    const std::size_t error = shown.find("headlink: apphead3.txt: line 1: error: the value \"****\" is stored");
    const std::size_t next = shown.find("link: appearance row 4:");
    EXPECT_TRUE(step < error && error < next && next != std::string::npos) << shown;
    EXPECT_EQ(outcome.warnings, 1u);
    // A script full of slips gives a few warnings and a count, not thousands.
    in = quietKit();
    std::string many = "0 0 a";
    for (int i = 0; i < 50; ++i) many += " 01 v";
    in.scripts[2] = file(many);
    outcome = runInMemory(in);
    ASSERT_EQ(outcome.warnings, 9u);
    EXPECT_EQ(outcome.said.back().text, "apphead2.txt: warning: more warnings like these are not shown");
}

// In a pack, each warning and failure says which head and which script it
// is about, by number, as the run knows them; a table's failure names its
// head before the table and is about no script.
// What a game can load: the model v0_1 in data/models.bif, the kit's
// template value in heads' column 1, and `more` in its Override folder.
std::shared_ptr<const ResourceIndex> gameWith(const std::vector<std::pair<std::string, uint16_t>>& more) {
    auto index = std::make_shared<ResourceIndex>();
    const uint32_t archive = index->addPlace("data/models.bif", false);
    const uint32_t folder = index->addPlace("Override", true);
    index->add("v0_1", 2002, archive);
    for (const auto& [name, type] : more) index->add(name, type, name == "v0_4" ? archive : folder);
    return index;
}

struct PackSaidCase {
    const char* what;
    void (*change)(RunInputs&);
    std::vector<Said> said;  // file, line, text, warning, head, script
};

TEST(Said, NamesTheHeadAndScriptOfAPack) {
    const std::vector<PackSaidCase> cases = {
        {"a quiet pack", [](RunInputs&) {}, {}},
        {"a warning of the second head",
         [](RunInputs& in) { in.heads[1].scripts[2] = file("0 0 a\n011 v"); },
         {{"two/apphead2.txt", 2, "two/apphead2.txt: line 2: warning: \"011\" is octal and reads as column 9 (a leading 0 means octal)", true, 1, 2},
          // So its appearance row is a new one, which its portrait, found as the first head's, is linked to.
          {"two/portraits.txt", 0, "two/portraits.txt: warning: linking changes portraits row 1 (label \"1\"), a row the "
           "script found rather than added: 2 \"c2\" was \"3\", now \"5\"; such a row is the game's or another mod's, and "
           "everything that uses it changes with it: give the script a key value no row has, so that it adds a row of its own",
           true, 1, 4}}},
        {"a link warning of the first head",
         [](RunInputs& in) { in.heads[0].scripts[1] = file("0 10 k"); },
         {{"one/apphead1.txt", 0, "one/apphead1.txt: warning: linking writes \"2\" into key column 10 of appearance row 2: the next run will not find the row by \"k\" and adds another", true, 0, 1},
          {"two/portraits.txt", 0, "two/portraits.txt: warning: linking changes portraits row 1 (label \"1\"), a row the "
           "script found rather than added: 7 \"c7\" was \"2\", now \"5\"; such a row is the game's or another mod's, and "
           "everything that uses it changes with it: give the script a key value no row has, so that it adds a row of its own",
           true, 1, 4}}},
        {"a failure of the second head's script",
         [](RunInputs& in) { in.heads[1].scripts[0] = file("0 0 head\n1"); },
         {{"two/head.txt", 2, "two/head.txt: line 2: column 1 has no value after it", false, 1, 0}}},
        {"a script of the second head that cannot be read",
         [](RunInputs& in) { in.heads[1].scripts[3].result = missingFile("apphead3.txt"); },
         {{"two/apphead3.txt", 0, "two/apphead3.txt: cannot open: No such file or directory", false, 1, 3}}},
        {"a table too narrow for its links",
         [](RunInputs& in) { in.tables[kPortraits] = FileBytes{table(8, 1), {}}; },
         {{"one: portraits.2da", 0, "one: portraits.2da: has 8 columns, but linking writes into column 8 and so needs at least 9", false, 0, -1}}},
        // With what the game can load: heads' template value v0_1 is a
        // model; each head sets column 1 of one row (the second finds it).
        {"names the game can load",
         [](RunInputs& in) { in.resources = gameWith({{"model", 2002}}); },
         {}},
        {"an added row's key cell is a name like the cells set: a near miss, and a name too long",
         [](RunInputs& in) {
             in.resources = gameWith({{"v1_0", 2002}, {"heads", 2002}});
             for (HeadInputs& head : in.heads) head.scripts[0] = file("1 0 head");
             in.heads[1].scripts[1] = file("1 0 hd_app1_seventeen");  // two's own row; its template's key is a model
         },
         {{"two/portraits.txt", 0, "two/portraits.txt: warning: linking changes portraits row 1 (label \"1\"), a row the "
           "script found rather than added: 7 \"c7\" was \"2\", now \"5\"; such a row is the game's or another mod's, and "
           "everything that uses it changes with it: give the script a key value no row has, so that it adds a row of its own",
           true, 1, 4},
          {"one/head.txt", 1, "one/head.txt: line 1: warning: heads row 2, column 0 \"c0\" = \"head\": the game has no "
           "model of that name (the template's \"v1_0\" is Override/v1_0.mdl); did you mean \"heads\" "
           "(Override/heads.mdl)?", true, 0, 0},
          {"two/apphead1.txt", 1, "two/apphead1.txt: line 1: warning: appearance row 5, column 0 \"c0\" = "
           "\"hd_app1_seventeen\": the game can never load a name longer than 16 characters", true, 1, 1}}},
        {"a name the game lacks: a found row's template is its value before",
         [](RunInputs& in) {
             in.resources = gameWith({{"model", 2002}, {"modle", 3}});
             in.heads[1].scripts[0] = file("0 0 head\n\n1 modle");
         },
         {{"two/head.txt", 3, "two/head.txt: line 3: warning: heads row 2, column 1 \"c1\" = \"modle\": the game has no "
           "model of that name (the template's \"model\" is Override/model.mdl); did you mean \"model\" "
           "(Override/model.mdl)?", true, 1, 0}}},
        {"a file one head brings is there for the other",
         [](RunInputs& in) {
             in.resources = gameWith({});
             in.heads[1].files = {{"MODEL.Mdl", "two/Override/MODEL.Mdl", {}}};
         },
         {}},
        {"set twice by one script: its last value over the template's",
         [](RunInputs& in) {
             in.resources = gameWith({{"model", 2002}, {"v1_1", 2017}});
             in.heads[0].scripts[0] = file("0 0 head 1 model\n1 v1_1");
             in.heads[1].scripts[0] = file("0 0 head 1 model");
         },
         {{"one/head.txt", 2, "one/head.txt: line 2: warning: heads row 2, column 1 \"c1\" = \"v1_1\": the game has no "
           "model of that name (the template's \"v0_1\" is v0_1.mdl in data/models.bif); did you mean \"v0_1\" "
           "(v0_1.mdl in data/models.bif)?", true, 0, 0}}},
        {"a template naming a table, a texture or a model (in two tables), a link column",
         [](RunInputs& in) {
             in.resources = gameWith({{"v1_1", 2017}, {"v0_4", 3007}, {"V0_4", 2002}, {"v0_10", 2002}, {"snd", 4}});
             in.heads[0].scripts[0] = file("1 0 head 1 anything");
             in.heads[0].scripts[1] = file("0 0 app1 4 snd 10 nothing");
         },
         {{"one/apphead1.txt", 1, "one/apphead1.txt: line 1: warning: column 10 is a link column: linking replaces "
           "this value with a row number", true, 0, 1},
          {"one/apphead1.txt", 1, "one/apphead1.txt: line 1: warning: appearance row 2, column 4 \"c4\" = \"snd\": the "
           "game has no texture or model of that name (the template's \"v0_4\" is Override/V0_4.mdl)", true,
           0, 1},
          {"one/portraits.txt", 1, "one/portraits.txt: line 1: warning: portraits row 1, column 4 \"c4\" = \"x\": the "
           "game has no texture or model of that name (the template's \"v0_4\" is Override/V0_4.mdl)", true,
           0, 4}}},
    };
    for (const PackSaidCase& c : cases) {
        RunInputs in = quietKit();
        in.heads = {{"one", in.scripts, {}}, {"two", in.scripts, {}}};
        c.change(in);
        const RunOutcome outcome = runInMemory(std::move(in));
        std::string all;
        for (const Said& said : outcome.said) all += said.text + "\n";
        ASSERT_EQ(outcome.said.size(), c.said.size()) << c.what << "\n" << all;
        for (std::size_t i = 0; i < c.said.size(); ++i) {
            const Said& said = outcome.said[i];
            const Said& expected = c.said[i];
            EXPECT_EQ(said.file, expected.file) << c.what;
            EXPECT_EQ(said.text, expected.text) << c.what;
            EXPECT_EQ(said.line, expected.line) << c.what;
            EXPECT_EQ(said.warning, expected.warning) << c.what;
            EXPECT_EQ(said.head, expected.head) << c.what;
            EXPECT_EQ(said.script, expected.script) << c.what;
        }
    }
}

// A pack given to the page by its paths: the engine says what to read (the
// tables, then the heads in byte order, each with its scripts and the files
// its override folder brings in any letter case, in byte order); folders
// holding no script are skipped. A run answers whole: the heads, each
// head's chain of links from the table no link points into, and windows
// whose cells carry their marks (a link cell's first mark, else a script's
// latest).
TEST(PageAnswers, APackByItsPathsAndTheRunWhole) {
    const char* listing = "heads.2da\nappearance.2da\nportraits.2da\nzeta/head.txt\nalpha/head.txt\nalpha/OverRide/hd.mdl\n"
                          "alpha/notes/x.txt\nextras/readme.txt\nzeta/override/b.tga\nzeta/override/a.tga\nhead.txt\n"
                          "zeta/override\n";
    Unpacked r{hl_pack_plan(listing)};
    std::vector<std::string> read;
    for (int i = 0; i < 3; ++i) read.push_back(r.text());
    EXPECT_EQ(read, (std::vector<std::string>{"appearance.2da", "heads.2da", "portraits.2da"}));
    read.clear();
    for (int heads = r.number(); heads > 0; --heads) {
        std::string head = r.text();
        head += ':';
        for (int s = 0; s < 5; ++s) head.append(" ").append(r.text());
        for (int files = r.number(); files > 0; --files) head.append(" ").append(r.text());
        read.push_back(head);
    }
    EXPECT_EQ(read, (std::vector<std::string>{"alpha: alpha/head.txt     alpha/OverRide/hd.mdl",
                                              "zeta: zeta/head.txt     zeta/override/a.tga zeta/override/b.tga"}));
    EXPECT_EQ(r.number(), 1);  // a pack

    ASSERT_EQ(hl_pack_begin(listing), 0);
    const RunInputs kit = quietKit();
    for (int i = 0; i < 3; ++i)
        ASSERT_EQ(hl_set_input(i, kit.tables[static_cast<std::size_t>(i)].bytes.data(),
                               static_cast<int>(kit.tables[static_cast<std::size_t>(i)].bytes.size())), 0);
    for (int h = 0; h < 2; ++h)
        for (int s = 0; s < 5; ++s) {
            const Bytes& script = kit.scripts[static_cast<std::size_t>(s)].bytes;
            ASSERT_EQ(hl_set_head_script(h, s, script.data(), static_cast<int>(script.size())), 0);
        }
    ASSERT_EQ(hl_run(0), 0) << pageRun().err;
    const PageRun run = pageRun();
    EXPECT_EQ(run.heads, (std::vector<std::string>{"alpha", "zeta"}));
    EXPECT_NE(run.out.find("extras: holds none of the five scripts: skipped\n"), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find("notes"), std::string::npos) << run.out;
    EXPECT_EQ(run.chains, "alpha: portraits 1 (1) > appearance 2 (2) 3 (3) 4 (4) > heads 2 (2)\n"
                          "zeta: portraits 1 (1) > appearance 2 (2) 3 (3) 4 (4) > heads 2 (2)\n");
    EXPECT_EQ(run.outputs[0], (std::array<int32_t, 3>{5, 2, 12}));
    const PageCell link = pageCell(0, 2, 10), set = pageCell(0, 2, 11), out = pageCell(0, 9, 0);
    EXPECT_EQ(std::tie(link.text, link.mark, link.was), std::make_tuple(std::string("2"), 2, std::string("v0_10")));
    EXPECT_EQ(std::tie(set.text, set.mark, set.was), std::make_tuple(std::string("fast"), 1, std::string("fast")));
    // Each column's link, in the outputs and in the tables as given (views
    // 4 to 6): no column is labelled, so appearance's 10 gets the head row
    // and portraits' 8 apphead3's.
    EXPECT_EQ(std::make_tuple(link.link, set.link, pageCell(4, 0, 10).link, pageCell(6, 0, 8).link, pageCell(5, 0, 1).link),
              std::make_tuple(0, -1, 0, 3, -1));
    EXPECT_EQ(std::tie(out.rows, out.text), std::make_tuple(5, std::string()));
    // Windows out of the table come back cut to it: nothing outside, and
    // no view at all for a number out of range.
    for (const auto& [v, r0, r1, c0, c1, rows, columns] : std::vector<std::array<int, 7>>{
             {0, -5, 2, -1, 1, 2, 1}, {0, 4, 99, 11, 99, 1, 1}, {0, 3, 1, 5, 2, 0, 0}, {-1, 0, 1, 0, 1, 0, 0},
             {7, 0, 1, 0, 1, 0, 0}, {6, 0, 9, 0, 99, 1, 9}}) {
        Unpacked w{hl_view_window(v, r0, r1, c0, c1)};
        for (int i = 0; i < 3; ++i) w.number();  // the table's shape
        const int32_t w0 = w.number(), w1 = w.number(), x0 = w.number(), x1 = w.number();
        EXPECT_EQ(std::make_pair(w1 - w0, x1 - x0), std::make_pair(rows, columns)) << v << " " << r0 << ".." << r1;
        EXPECT_GE(w0, 0);
        EXPECT_GE(x0, 0);
    }
    hl_pack_begin("");
}

// Running out of memory at any one allocation: the run names the file it
// was working on by its fixed name, and nothing escapes the page's API as
// an exception; the call fails with "not enough memory" instead.
TEST(OutOfMemory, EveryAllocationOfTheRunAndThePageApi) {
    const Bytes opened = table(2, 3);  // 2 columns, 3 rows
    const auto open = [&] { return hl_open(opened.data(), static_cast<int>(opened.size()), "mine.2da"); };
    // Calls a guarded API function with each of its allocations failing in
    // turn: it must fail softly every time, then work.
    const auto sweep = [](const char* what, auto call, auto worked) {
        for (long n = 0;; ++n) {
            testing::failAllocation(n);
            const auto answer = call();
            if (!testing::allocationFailed()) {
                EXPECT_TRUE(worked(answer)) << what;
                return;
            }
            EXPECT_STREQ(hl_error(), "not enough memory") << what << ", allocation " << n;
        }
    };
    sweep("hl_open", open, [](int status) { return status == 0; });
    ASSERT_EQ(open(), 0);
    sweep("hl_export", [] { return hl_export(3, 1); }, [](int size) { return size > 0; });
    sweep("hl_view_window", [] {
              const uint8_t* window = hl_view_window(3, 2, 3, 1, 2);
              return window != nullptr ? pageCell(window, 2, 1).text : "";
          },
          [](const std::string& text) { return text == "v2_1"; });

    const RunInputs kit = quietKit();
    const std::vector<std::string> files = {"appearance.2da", "heads.2da", "portraits.2da", "head.txt", "apphead1.txt",
                                            "apphead2.txt", "apphead3.txt", "portraits.txt", "the outputs"};
    for (long n = 0;; ++n) {
        hl_pack_begin("");
        int at = 0;
        for (const FileBytes& input : kit.tables)
            ASSERT_EQ(hl_set_input(at++, input.bytes.data(), static_cast<int>(input.bytes.size())), 0);
        for (const FileBytes& input : kit.scripts)
            ASSERT_EQ(hl_set_input(at++, input.bytes.data(), static_cast<int>(input.bytes.size())), 0);
        testing::failAllocation(n);
        const int status = hl_run(0);
        if (!testing::allocationFailed()) {
            EXPECT_EQ(status, 0) << pageRun().err;
            break;
        }
        EXPECT_EQ(status, 1) << "allocation " << n;
        bool named = std::string(hl_error()) == "not enough memory";  // asked first: the answer is a call too
        const PageRun failed = pageRun();
        EXPECT_EQ(failed.status, 1) << "allocation " << n;  // the answer never says a failed run worked
        const std::string err = failed.err;
        for (const std::string& name : files) named = named || err == "headlink: " + name + ": not enough memory\n";
        EXPECT_TRUE(named) << "allocation " << n << ": " << err;
    }
    // The outputs are serialised only when saved, and that may fail too.
    sweep("hl_output_size", [] { return hl_output_size(0); }, [](int size) { return size > 0; });
    sweep("hl_run_answer", [] { return hl_run_answer(); }, [](const uint8_t* answer) { return answer != nullptr; });
    // The job never touches the opened table; a new job forgets the marks.
    EXPECT_EQ(pageCell(3, 2, 1).rows, 3);
    EXPECT_EQ(pageCell(3, 2, 1).text, "v2_1");
    EXPECT_FALSE(pageRun().marks.empty());
    hl_pack_begin("");
    EXPECT_TRUE(pageRun().marks.empty());
    EXPECT_EQ(pageCell(3, 2, 1).rows, 3);
}

// A name's stem and extension: the extension runs from the last dot of the
// last step, and a dot that begins a step starts no extension.
TEST(Names, StemAndExtension) {
    struct Case {
        const char* name;
        const char* stem;
        const char* extension;
    };
    const std::vector<Case> cases = {
        {"heads.2da", "heads", ".2da"},       {"heads.2da.txt", "heads.2da", ".txt"},
        {"heads", "heads", ""},               {".2da", ".2da", ""},
        {"heads.", "heads", "."},             {"data.v2/heads", "data.v2/heads", ""},
        {"data\\x.BIF", "data\\x", ".BIF"}, {"data/.key", "data/.key", ""},
        {"", "", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(stem(c.name), c.stem) << c.name;
        EXPECT_EQ(extension(c.name), c.extension) << c.name;
    }
    // Only A-Z fold: bytes past ASCII stay as they are.
    EXPECT_EQ(foldedCase("HEADS.2DA \xC3\x89[Z]@"), "heads.2da \xC3\x89[z]@");
}

TEST(NearMisses, CaseAndExtraExtensionsOnly) {
    const std::vector<std::string> names = {"Appearance.2DA", "appearance.2da.txt", "appearance.txt", "appearance.2d",
                                            "xappearance.2da", "appearance.2da.", "APPEARANCE.2DA.BAK", "appearance.2da"};
    EXPECT_EQ(nearMisses("appearance.2da", names),
              (std::vector<std::string>{"Appearance.2DA", "appearance.2da.txt", "APPEARANCE.2DA.BAK"}));
    EXPECT_TRUE(nearMisses("heads.2da", names).empty());
}

// The page reads a game folder from the list of its files, asking for the
// slices it needs: the same tables and sources as the program reads from
// disk, for a fraction of the folder's bytes. Then runs on the tables it
// keeps: a half-typed script fails at its line, the grids keep the last
// run that worked, and nothing can be saved until a run works again.
using PageGame = testing::TempDir;
TEST_F(PageGame, ReadsTheTablesSliceBySliceAndRunsOnThemKeystrokeByKeystroke) {
    const RunInputs kit = quietKit();
    testing::GameFolder layout;
    layout.archived = {{"appearance.2da", kit.tables[0].bytes}, {"portraits.2da", kit.tables[2].bytes}};
    layout.overridden = {{"HEADS.2da", kit.tables[1].bytes}, {"x.tga", {'x'}}};
    layout.otherArchives = 3;
    layout.otherResources = 40;
    // What the game can load besides: heads' template value v0_1 is a
    // model, portraits' v0_4 a texture in a texture pack.
    layout.models = {{"v0_1", 2002}};
    layout.texturePacks = {{"textures.erf", {{"v0_4", 3007}, {"tex", 3007}, {"mdl_x", 3008}}}};
    const std::string dir = path("game");
    std::filesystem::create_directories(dir);
    ASSERT_TRUE(testing::writeGameFolder(dir, layout));
    // The folder listed as the page lists it: paths alone.
    std::string listing;
    uint64_t total = 0;
    const auto relist = [&] {
        listing.clear();
        total = 0;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(dir))
            if (entry.is_regular_file()) {
                listing += std::filesystem::relative(entry.path(), dir).generic_string() + "\n";
                total += entry.file_size();
            }
    };
    relist();
    // Reads the folder as the page does; `shorten` bytes fewer of the
    // archive, as when it changed since its size was read. A file's size
    // is asked for before its bytes.
    uint64_t given = 0;
    std::set<std::string> sized;
    std::set<std::tuple<std::string, uint64_t, int>> slices;
    const auto pull = [&](std::size_t shorten) {
        given = 0;
        sized.clear();
        slices.clear();
        ASSERT_EQ(hl_game_begin("game", listing.c_str()), 0);
        int rounds = 0;
        for (int needed; (needed = hl_game_read()) > 0; ++rounds) {
            ASSERT_LT(rounds, 6);
            for (int i = 0; i < needed; ++i) {
                const std::string at = hl_game_need_path(i);
                if (hl_game_need_size(i) == -1) {
                    EXPECT_TRUE(sized.insert(at).second) << at << ": its size asked for twice";
                    ASSERT_EQ(hl_game_give_size(i, static_cast<double>(std::filesystem::file_size(dir + "/" + at))), 0);
                    continue;
                }
                EXPECT_EQ(sized.count(at), 1u) << at << ": its bytes asked for before its size";
                slices.emplace(at, static_cast<uint64_t>(hl_game_need_offset(i)), hl_game_need_size(i));
                FilePart part = readFilePart(dir + "/" + at, static_cast<uint64_t>(hl_game_need_offset(i)),
                                             static_cast<std::size_t>(hl_game_need_size(i)));
                ASSERT_TRUE(part.ok());
                if (at == "data/tables.bif")
                    part.bytes.resize(part.bytes.size() - std::min(shorten, part.bytes.size()));
                given += part.bytes.size();
                ASSERT_EQ(hl_game_give(i, part.bytes.data(), static_cast<int>(part.bytes.size())), 0);
            }
        }
    };
    pull(1);
    EXPECT_EQ(hl_run(0), 1);
    EXPECT_NE(pageRun().err.find("data/tables.bif: changed since it was picked"), std::string::npos) << pageRun().err;
    pull(0);
    // The key file, the overriding table, the header of the archive both
    // other tables are in, and of each its entry's record and its bytes;
    // the texture pack's header and its key list of three, nothing more.
    EXPECT_EQ(given, std::filesystem::file_size(dir + "/game.key") + kit.tables[1].bytes.size() + 20 + 2 * 16 +
                         kit.tables[0].bytes.size() + kit.tables[2].bytes.size() + 160 + 3 * 24);
    EXPECT_LT(given, total);
    std::set<std::tuple<std::string, uint64_t, int>> packSlices;
    for (const auto& slice : slices)
        if (std::get<0>(slice) == "TexturePacks/textures.erf") packSlices.insert(slice);
    EXPECT_EQ(packSlices, (std::set<std::tuple<std::string, uint64_t, int>>{{"TexturePacks/textures.erf", 0, 160},
                                                                           {"TexturePacks/textures.erf", 160, 72}}));
    // Of all the folder's files, only those four are asked their size.
    EXPECT_EQ(sized, (std::set<std::string>{"game.key", "Override/HEADS.2da", "data/tables.bif",
                                            "TexturePacks/textures.erf"}));
    Game onDisk(dir);
    for (int i = 0; i < 3; ++i) {
        GameTable table;
        ASSERT_TRUE(onDisk.read(kTableFiles[static_cast<std::size_t>(i)], &table));
        EXPECT_EQ(hl_table_source(i), table.from);
        const int size = hl_export(4 + i, 2);
        EXPECT_EQ(std::vector<uint8_t>(hl_exported(), hl_exported() + size), table.bytes) << kTableFiles[static_cast<std::size_t>(i)];
    }
    EXPECT_EQ(std::string(hl_table_source(1)), "Override/HEADS.2da");

    const auto setScript = [](int script, const std::string& text) {
        return hl_set_input(3 + script, reinterpret_cast<const uint8_t*>(text.data()), static_cast<int>(text.size()));
    };
    for (int i = 0; i < 5; ++i)
        ASSERT_EQ(hl_set_input(3 + i, kit.scripts[static_cast<std::size_t>(i)].bytes.data(),
                               static_cast<int>(kit.scripts[static_cast<std::size_t>(i)].bytes.size())), 0);
    ASSERT_EQ(hl_run(0), 0) << pageRun().err;
    // The names the scripts set, checked as the program checks them: the
    // model "model" is nowhere; portraits' "x" is Override/x.tga, a texture
    // as the template's tpc is.
    const PageRun checked = pageRun();
    ASSERT_EQ(checked.said.size(), 1u) << checked.err;
    EXPECT_EQ(checked.said[0].text, "head.txt: line 1: warning: heads row 2, column 1 \"c1\" = \"model\": the game has "
                                    "no model of that name (the template's \"v0_1\" is v0_1.mdl in data/models.bif)");
    EXPECT_EQ(checked.said[0].script, 0);
    EXPECT_EQ(checked.said[0].line, 1);
    EXPECT_EQ(hl_run(1), 1);
    const int rows = pageCell(1, 0, 0).rows;
    // Half typed: the program's message at its line; the grids stay.
    ASSERT_EQ(setScript(0, "0 0 head\n1"), 0);
    EXPECT_EQ(hl_run(0), 1);
    const PageRun half = pageRun();
    EXPECT_FALSE(half.worked);
    ASSERT_EQ(half.said.size(), 1u);
    EXPECT_EQ(half.said[0].script, 0);
    EXPECT_EQ(half.said[0].line, 2);
    EXPECT_EQ(half.said[0].text, "head.txt: line 2: column 1 has no value after it");
    EXPECT_EQ(pageCell(1, 0, 0).rows, rows);
    EXPECT_EQ(half.outputs[1][0], rows);
    EXPECT_EQ(hl_output_size(1), 0);
    // Typed on: the outputs are the program's on the same tables.
    ASSERT_EQ(setScript(0, "0 0 head\n1 model2"), 0);
    ASSERT_EQ(hl_run(0), 0) << pageRun().err;
    RunInputs same = quietKit();
    same.scripts[0] = file("0 0 head\n1 model2");
    RunOutcome expected = runInMemory(std::move(same));
    ASSERT_TRUE(expected.ok());
    for (int i = 0; i < 3; ++i) {
        const int size = hl_output_size(i);
        EXPECT_EQ(std::vector<uint8_t>(hl_output(i), hl_output(i) + size), expected.tables[static_cast<std::size_t>(i)].bytes());
    }
    // The run is the install's dry run: it looks at the installs there,
    // through the list of files, as the program looks on disk.
    EXPECT_NE(pageRun().out.find("would write Override/HEADS.2da (the file there now backed up first)\n"), std::string::npos)
        << pageRun().out;
    const std::vector<uint8_t> model = {'m'};
    const FileToInstall brought[] = {{"hd.mdl", model}};
    std::ostringstream said;
    std::vector<Warning> warnings;
    ASSERT_TRUE(install({dir, "game"}, brought, {"h"}, "", {}, said, &warnings));
    relist();
    pull(0);
    ASSERT_EQ(hl_run(0), 0) << pageRun().err;
    // The outputs installed: each table is then what the run makes of it,
    // and there is nothing to install.
    std::array<std::vector<uint8_t>, 3> made;
    std::vector<FileToInstall> tables;
    for (int i = 0; i < 3; ++i) {
        const int size = hl_output_size(i);
        made[static_cast<std::size_t>(i)].assign(hl_output(i), hl_output(i) + size);
        tables.push_back({kTableFiles[static_cast<std::size_t>(i)], made[static_cast<std::size_t>(i)]});
    }
    ASSERT_TRUE(install({dir, "game"}, tables, {"h"}, "", {}, said, &warnings));
    relist();
    pull(0);
    ASSERT_EQ(hl_run(0), 0) << pageRun().err;
    EXPECT_NE(pageRun().out.find("\nnothing to install: the game's tables already hold every row and cell"),
              std::string::npos) << pageRun().out;
    std::string record;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir))
        if (entry.path().filename() == "record.txt") record = entry.path().string();
    const Bytes complete = testing::readBytes(record);
    testing::writeBytes(record, Bytes(complete.begin(), complete.end() - 9));  // no "complete"
    relist();
    pull(0);
    EXPECT_EQ(hl_run(0), 1);
    EXPECT_EQ(pageRun().err, "headlink: game: an earlier install was interrupted: run headlink --game game --uninstall "
                             "first\n");
    hl_pack_begin("");
}

}  // namespace
}  // namespace headlink
