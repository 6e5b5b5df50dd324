// twoda: the text form both ways, check (with the names a game lacks),
// find and CSV.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "game/resources.h"
#include "patch/patch.h"
#include "table/table.h"
#include "tests/support/table_builder.h"
#include "tests/support/table_checks.h"
#include "tests/support/temp_dir.h"
#include "twoda/commands.h"
#include "twoda/textform.h"

namespace headlink {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes build(std::string_view text) {
    Bytes out;
    const Result why = buildFromText(text, &out);
    EXPECT_TRUE(why) << why.description();
    return out;
}

std::string textOf(const Bytes& bytes) {
    const Table table = testing::loadTable(bytes);
    std::ostringstream text;
    const Result why = writeTextForm(table, text);
    EXPECT_TRUE(why) << why.description();
    return text.str();
}

TEST(TextForm, BuildsTheBinaryLayout) {
    const char bytes[] = "2DA V2.b\nA\tB\t\0\1\0\0\0r\t\0\0\2\0\3\0x\0\0";
    const Bytes expected(bytes, bytes + sizeof bytes - 1);
    EXPECT_EQ(build("2DA V2.0\n\nA B\nr x ****\n"), expected);
}

// Text in, and the text form written back from the table it builds: the
// canonical spelling. Building that again must give the same bytes.
TEST(TextForm, RoundTrips) {
    const std::string longCell(300, 'w');
    const struct {
        std::string in, out;
    } cases[] = {
        {"2DA V2.0\n\n a b\n", "2DA V2.0\n\n\ta\tb\n"},
        {"2DA V2.0\n\nname desc\n0 \"two words\" ****\n1 \"****\" x\n",
         "2DA V2.0\n\n\tname\tdesc\n0\t\"two words\"\t****\n1\t\"****\"\tx\n"},
        {"\xEF\xBB\xBF" "2DA V2.0  \r\n \t\r\n  c\r\n\r\n   7   " + longCell + "\r\n\n",
         "2DA V2.0\n\n\tc\n7\t" + longCell + "\n"},
        {"2DA V2.0\n\n\"\" \"col b\"\n\"\" caf\xC3\xA9 a\"b\n", "2DA V2.0\n\n\t\"\"\t\"col b\"\n\"\"\tcaf\xC3\xA9\ta\"b\n"},
        {"2DA V2.0\n\nk\n0 same\n1 SAME\n2 same", "2DA V2.0\n\n\tk\n0\tsame\n1\tSAME\n2\tsame\n"},
    };
    for (const auto& c : cases) {
        const Bytes bytes = build(c.in);
        EXPECT_EQ(textOf(bytes), c.out) << c.in;
        EXPECT_EQ(build(c.out), bytes) << c.in;
    }
}

TEST(TextForm, RejectsWithTheLineAndWhatWasExpected) {
    std::string manyRows = "2DA V2.0\n\nc\n";
    for (int i = 0; i <= 65535; ++i) manyRows += "r x\n";
    std::string bigPool = "2DA V2.0\n\na b c\n0";
    for (char c : {'x', 'y', 'z'}) bigPool += " " + std::string(30000, c);
    const struct {
        std::string text, why;
    } cases[] = {
        {"", "line 1: expected \"2DA V2.0\", found \"\""},
        {std::string("2DA V2.b\nA\t\0", 12), "line 1: this is a table in binary form (2DA V2.b), not the text form"},
        {"2DA V2.0", "line 2: expected a blank line, found the end of the file"},
        {"2DA V2.0\nDEFAULT: ****\na\n",
         "line 2: a DEFAULT: line is not supported (the binary form has no default value); remove it"},
        {"2DA V2.0\nx\n", "line 2: expected a blank line, found \"x\""},
        {"2DA V2.0\n\n", "line 3: expected the column labels, found the end of the file"},
        {"2DA V2.0\n\n \n", "line 3: expected the column labels, found a blank line"},
        {"2DA V2.0\n\na \"b\tc\"\n", "line 3: column label \"b\\x09c\" holds a tab, which ends a label in the binary form"},
        {"2DA V2.0\n\na b\n0 x y z\n", "line 4: row \"0\": expected 2 values, one per column, found 3"},
        {"2DA V2.0\n\na\n0 \"x\"y\n", "line 4: expected white space after the closing quote"},
        {std::string("2DA V2.0\n\na\n0 x\0\n", 17), "line 4: a NUL byte, which no label or text may hold"},
        {"2DA V2.0\n\na\n\"r\ts\" x\n", "line 4: row label \"r\\x09s\" holds a tab, which ends a label in the binary form"},
        {manyRows, "line 65539: more than 65,535 rows, the most the binary form holds"},
        {bigPool, "line 4: the texts so far need a string pool of more than 65,535 bytes, the most 16-bit "
                  "offsets reach"},
        // The row that outgrows it, after a blank line: its own line.
        {"2DA V2.0\n\na b c\n0 p q r\n\n" + bigPool.substr(bigPool.find("\n0") + 1),
         "line 6: the texts so far need a string pool of more than 65,535 bytes, the most 16-bit offsets reach"},
    };
    for (const auto& c : cases) {
        Bytes out;
        const Result why = buildFromText(c.text, &out);
        EXPECT_FALSE(why) << c.why;
        EXPECT_EQ(why.description(), c.why);
        EXPECT_EQ(why.status, Status::malformed);
        EXPECT_EQ(why.line, std::stoi(c.why.substr(5)));  // the line the message names
    }
}

// What lenient readers accept is built as they read it, with a note each:
// short rows end in empty cells, an open quote runs to the end of its line.
TEST(TextForm, TakesShortRowsAndOpenQuotesWithANote) {
    const struct {
        std::string in;
        std::vector<std::string> notes;
        std::string out;  // the text form of the table built
    } cases[] = {
        {"2DA V2.0\n\na b c\n0 x\n1\n2 x y z\n",
         {"line 4: row \"0\" has 1 of 3 values; the last 2 are taken as empty",
          "line 5: row \"1\" has 0 of 3 values; the last 3 are taken as empty"},
         "2DA V2.0\n\n\ta\tb\tc\n0\tx\t****\t****\n1\t****\t****\t****\n2\tx\ty\tz\n"},
        {"2DA V2.0\n\na b\n0 x \"two words\r\n",
         {"line 4: a double quote is left open; the rest of the line is taken as the value"},
         "2DA V2.0\n\n\ta\tb\n0\tx\t\"two words\"\n"},
        {"2DA V2.0\n\na b\n0 \"x\n", {"line 4: a double quote is left open; the rest of the line is taken as the value",
                                   "line 4: row \"0\" has 1 of 2 values; the last 1 are taken as empty"},
         "2DA V2.0\n\n\ta\tb\n0\tx\t****\n"},
    };
    for (const auto& c : cases) {
        Bytes out;
        std::vector<std::string> notes;
        const Result why = buildFromText(c.in, &out, &notes);
        ASSERT_TRUE(why) << why.description();
        EXPECT_EQ(notes, c.notes) << c.in;
        EXPECT_EQ(textOf(out), c.out);
    }
}

TEST(TextForm, RefusesTextsItCannotWrite) {
    // A cell with a line break, one that needs quotes and holds one, and a
    // row label holding a NUL (the binary form allows it, no field can).
    const struct {
        std::string cell, label, why;
    } cases[] = {
        {"two\nlines", "1", "row 1, column 0: the te"},
        {"\"quoted\"", "1", "row 1, column 0: the te"},
        {"fine", std::string("a\0b", 3), "row 1's label: the text \""},
    };
    for (const auto& c : cases) {
        testing::TableLayout layout;
        layout.columns = {"a"};
        layout.rowLabels = {"0", c.label};
        layout.cells = {{"fine"}, {c.cell}};
        Table table;
        ASSERT_EQ(table.loadBytes(testing::buildTable(layout), "t"), 0);
        std::ostringstream text;
        const Result why = writeTextForm(table, text);
        EXPECT_FALSE(why);
        EXPECT_EQ(why.reason.substr(0, c.why.size()), c.why) << why.reason;
        EXPECT_EQ(why.status, Status::cannotWrite);
        EXPECT_EQ(text.str(), "");  // nothing, not the rows before it
    }
}

// checkTable says valid exactly when the loader takes the table, names
// every cell outside the pool, and only notes what headlink accepts. (The
// loader's tests check that it gives the loader's reason for every other
// malformed shape.)
TEST(Check, ReportsEveryProblem) {
    const testing::TableLayout good = testing::gridLayout({"a", "b"}, {{"x", "y"}, {"y", ""}});
    testing::TableLayout oddField = good;
    oddField.poolSizeField = 99;
    testing::TableLayout offsets = good;
    offsets.rawPool = Bytes{'x', 0, 'y', 0};
    offsets.rawGrid = {0, 9, 2, 4};
    testing::TableLayout noRows;
    noRows.columns = {"a"};
    testing::TableLayout many;
    many.columns = {"a"};
    many.rowLabels = testing::numberedLabels(25);
    many.rawPool = Bytes{'x', 0};
    many.rawGrid.assign(25, 7);
    const struct {
        Bytes bytes;
        std::string out;
    } cases[] = {
        {testing::buildTable(good), "t: valid: 2 rows, 2 columns, 5 pool bytes in 3 strings\n"},
        {testing::buildTable(oddField),
         "t: note: the pool-size field says 99 bytes and the pool holds 5; headlink reads the pool to the end "
         "of the file and writes such a field back as it is (only a field that matched the pool follows it as "
         "it grows)\n"
         "t: valid: 2 rows, 2 columns, 5 pool bytes in 3 strings\n"},
        // Without rows the pool is read from the pool-size field on: no note.
        {testing::buildTable(noRows), "t: valid: 0 rows, 1 column, 2 pool bytes in 2 strings\n"},
        {testing::buildTable(offsets),
         "t: malformed: row 0, column 1 points outside the string pool (offset 9, pool of 4 bytes)\n"
         "t: malformed: row 1, column 1 points outside the string pool (offset 4, pool of 4 bytes)\n"},
        {testing::buildTable(many),
         "t: malformed: row 0, column 0 points outside the string pool (offset 7, pool of 2 bytes)\n..."
         "t: and 5 more cells outside the string pool\n"},
    };
    for (const auto& c : cases) {
        std::ostringstream out;
        const bool valid = checkTable(c.bytes, "t", out);
        const std::string printed = out.str();
        const std::size_t cut = c.out.find("...");
        if (cut == std::string::npos) {
            EXPECT_EQ(printed, c.out);
        } else {  // the first line, the last, and how many there are
            EXPECT_EQ(printed.substr(0, cut), c.out.substr(0, cut));
            EXPECT_EQ(printed.substr(printed.size() - (c.out.size() - cut - 3)), c.out.substr(cut + 3));
            EXPECT_EQ(std::count(printed.begin(), printed.end(), '\n'), 21);
        }
        Table table;
        EXPECT_EQ(valid, table.loadBytes(c.bytes, "t") == 0) << c.out;
    }
}

// check --game: in a column where at least half the values name resources
// of one kind, every value naming none of that kind is warned, with the
// one name of that kind close to it; other columns are never checked.
TEST(Check, NamesTheGameCannotLoad) {
    ResourceIndex index;
    const uint32_t override = index.addPlace("Override", true);
    const uint32_t models = index.addPlace("data/models.bif", false);
    const uint32_t pack = index.addPlace("TexturePacks/faces.erf", false);
    const uint32_t sounds = index.addPlace("data/sounds.bif", false);
    index.add("hd_el_f01", 2002, models);
    index.add("hd_el_f02", 2002, models);
    index.add("HD_EL_M01", 2002, models);
    index.add("hd_el_f_moon", 2002, override);
    index.add("hd_el_f01", 3008, models);  // the model's mesh: no kind, and no model
    index.add("tx_el_01", 3007, pack);
    index.add("tx_el_moon", 3, override);
    index.add("tx_el_02", 2033, pack);
    index.add("tx_only", 3007, pack);
    index.add("snd_hi", 4, sounds);
    index.add("1", 2022, pack);  // a number that names something of no kind
    // Columns: a model's (two good, one differing in case, a typo, a
    // texture's name, a name too long, empties), a texture's (tga, tpc and
    // dds all count), numbers, under half found, exactly half found.
    const testing::TableLayout layout = testing::gridLayout(
        {"label", "model", "texture", "number", "mixed", "sound"},
        {{"a", "hd_el_f01", "tx_el_01", "1", "tx_el_01", "snd_hi"},
         {"b", "hd_el_m01", "tx_el_moon", "2", "nothing", "bell"},
         {"c", "hd_el_f_mon", "tx_el_02", "3", "nowhere", "****"},
         {"d", "tx_only", "****", "****", "snd_hi", ""},
         {"e", "hd_el_f_moonveil_x", "", "1", "hd_el_f01", ""},
         {"f", "****", "tx_el_01", "2", "****", ""},
         {"g", "", "tx_el_moon", "3", "", ""},
         {"h", "hd_el_f02", "tx_el_0", "4", "", ""}});
    Table table;
    ASSERT_EQ(table.loadBytes(testing::buildTable(layout), "t.2da"), 0);
    std::ostringstream out;
    EXPECT_EQ(checkResourceNames(table, index, "t.2da", out), 5u);
    EXPECT_EQ(out.str(),
              "t.2da: warning: row 2 (2), column 1 (model): \"hd_el_f_mon\": no model of that name in the game; "
              "did you mean \"hd_el_f_moon\" (Override/hd_el_f_moon.mdl)?\n"
              "t.2da: warning: row 3 (3), column 1 (model): \"tx_only\": no model of that name in the game\n"
              "t.2da: warning: row 4 (4), column 1 (model): \"hd_el_f_moonveil_x\": longer than 16 characters: the "
              "game can never load a model of that name\n"
              // Two textures are one edit away: no suggestion.
              "t.2da: warning: row 7 (7), column 2 (texture): \"tx_el_0\": no texture of that name in the game\n"
              "t.2da: warning: row 1 (1), column 5 (sound): \"bell\": no sound of that name in the game\n");
    // A game with none of these: nothing is checked.
    std::ostringstream none;
    EXPECT_EQ(checkResourceNames(table, ResourceIndex(), "t.2da", none), 0u);
    EXPECT_EQ(none.str(), "");
}

// twoda run in-process on files in a folder of their own.
class TwodaFiles : public testing::TempDir {
protected:
    int twoda(std::vector<std::string> args, std::string* out, const std::string& input = "") const {
        std::ostringstream o, e;
        std::istringstream in(input);
        const int status = runTwoda(args, in, o, e);
        *out = o.str() + e.str();
        return status;
    }
};

// find must name the row a script with the same key reuses, and say "no
// row" exactly when the script would append one.
TEST_F(TwodaFiles, FindAgreesWithWhatAScriptDoes) {
    // Pool: "first" at 0, "human" 6, "a" 12, "elf" 14, "x" 18, "b" 20, "Elf" 22.
    const testing::TableLayout layout =
        testing::gridLayout({"label", "race"}, {{"first", "human"}, {"a", "first"}, {"elf", "x"}, {"b", "Elf"}});
    const std::string file = put("t.2da", testing::buildTable(layout));
    const struct {
        std::string column, key;
        std::string says;  // how find's answer starts
    } cases[] = {
        {"0", "ELF", "row 2 (2): "},
        {"race", "human", "row 0 (0): "},
        {"1", "elf", "no row: a script keyed on column 1 (race) with \"elf\" appends a new row, because no "
                     "row's cell in that column points at the first copy of that text in the pool (offset 14)\n"
                     "row 3 (3) holds it in that column through pool offset 22, which lookups do not see\n"},
        {"0", "first", "no row: a script keyed on column 0 (label) with \"first\" appends a new row, because its "
                       "first copy in the pool is the pool's first string (offset 0), which lookups never match\n"
                       "row 0 (0) holds it in that column through pool offset 0, which lookups do not see\n"},
        {"1", "FIRST", "no row: "},
        {"01", "human", "row 0 (0): "},  // columns read as scripts read them: 01 is octal
        {"0x0", "ELF", "row 2 (2): "},
        {"0", "two words", "twoda: the key \"two words\" cannot be a script's key, which is one token: not "
                           "empty, without white space\n"},
        {"0", "none", "no row: a script keyed on column 0 (label) with \"none\" appends a new row, because no "
                      "pool string holds that text (the case of A-Z aside)\n"},
    };
    for (const auto& c : cases) {
        std::string out;
        const int status = twoda({"find", file, c.column, c.key}, &out);
        EXPECT_EQ(out.substr(0, c.says.size()), c.says);
        if (status == 2) continue;
        Table table;
        ASSERT_EQ(table.loadBytes(testing::buildTable(layout), "t"), 0);
        const std::string column = c.column == "race" ? "1" : c.column;  // scripts give numbers
        const std::string script = "0 " + column + " " + c.key;
        ScriptDetails details;
        const int32_t row = applyScriptBytes(table, Bytes(script.begin(), script.end()), "s", nullptr, {}, &details);
        EXPECT_EQ(status, details.added ? 1 : 0) << script;
        if (!details.added) {
            EXPECT_EQ(out.substr(0, 4 + std::to_string(row).size()), "row " + std::to_string(row));
        }
    }
}

// Every reading command takes the text form as well, read as build reads it.
TEST_F(TwodaFiles, EveryCommandReadsTheTextForm) {
    const std::string text = "2DA V2.0\n\nlabel race\n0 first human\n1 elf\n";
    const std::string file = put("t.txt", Bytes(text.begin(), text.end()));
    const std::string note = "twoda: " + file + ": note: line 5: row \"1\" has 1 of 2 values; the last 1 are taken as empty\n";
    const std::string built = put("t.2da", build(text));
    const struct {
        std::vector<std::string> args;
        int status;
        std::string out;
    } cases[] = {
        {{"columns", file}, 0, "0  label\n1  race\n" + note},
        {{"show", file}, 0, "row     label  race\n0    0  first  human\n1    1  elf    ****\n" + note},
        {{"csv", file}, 0, ",label,race\r\n0,first,human\r\n1,elf,\r\n" + note},
        {{"text", file}, 0, "2DA V2.0\n\n\tlabel\trace\n0\tfirst\thuman\n1\telf\t****\n" + note},
        {{"find", file, "0", "ELF"}, 0, file + " is in the text form: the answer is for the binary table \"twoda "
                                       "build\" makes of it\nrow 1 (1): a script keyed on column 0 (label) with \"ELF\" "
                                       "reuses this row; its cell holds \"elf\", the first copy of that text in the pool "
                                       "(offset 12)\n" + note},
        {{"diff", file, built}, 0, "no differences in rows or cells\n" + note},
        {{"check", file}, 0, file + ": note: line 5: row \"1\" has 1 of 2 values; the last 1 are taken as empty\n" +
                                 file + ": valid: 2 rows, 2 columns, 17 pool bytes in 4 strings\n"},
        {{"check", put("bad.txt", Bytes({'2', 'D', 'A', ' ', 'V', '2', '.', '0', '\n', 'x', '\n'}))}, 1,
         dir_.string() + "/bad.txt: line 2: expected a blank line, found \"x\"\n"},
    };
    for (const auto& c : cases) {
        std::string out;
        EXPECT_EQ(twoda(c.args, &out), c.status) << c.args[0];
        EXPECT_EQ(out, c.out) << c.args[0];
    }
    // build - reads the text form from standard input.
    std::string out;
    EXPECT_EQ(twoda({"build", "-", (dir_ / "in.2da").string()}, &out, text), 0);
    EXPECT_EQ(out, "twoda: standard input: note: line 5: row \"1\" has 1 of 2 values; the last 1 are taken as empty\n");
    std::ifstream in(dir_ / "in.2da", std::ios::binary);
    EXPECT_EQ(Bytes(std::istreambuf_iterator<char>(in), {}), build(text));
}

TEST_F(TwodaFiles, CsvQuotesWhatNeedsQuotes) {
    testing::TableLayout layout;
    layout.columns = {"name", "a,b"};
    layout.rowLabels = {"0", "r \"1\""};
    layout.cells = {{"plain", ""}, {"say \"hi\"", "two\r\nlines"}};
    const std::string file = put("t.2da", testing::buildTable(layout));
    std::string out;
    EXPECT_EQ(twoda({"csv", file}, &out), 0);
    EXPECT_EQ(out, ",name,\"a,b\"\r\n0,plain,\r\n\"r \"\"1\"\"\",\"say \"\"hi\"\"\",\"two\r\nlines\"\r\n");
}

TEST_F(TwodaFiles, ShowEscapesAndShortens) {
    testing::TableLayout layout;
    layout.columns = {"k", "v"};
    layout.rowLabels = {"0", "1", "2"};
    std::string accents;
    for (int i = 0; i < 20; ++i) accents += "\xC3\xA9";
    layout.cells = {{"caf\xC3\xA9", std::string(40, 'x')}, {"****", ""}, {"a\\b", accents}};
    const std::string file = put("t.2da", testing::buildTable(layout));
    std::string out;
    EXPECT_EQ(twoda({"show", file, "0,2-"}, &out), 0);
    EXPECT_EQ(out, "row     k            v\n"
                   "0    0  caf\\xC3\\xA9  xxxxxxxxxxxxxxxxxxxxxxxxxxxxx...\n"
                   "2    2  a\\x5Cb       \\xC3\\xA9\\xC3\\xA9\\xC3\\xA9\\xC3...\n");  // 7 whole escapes
    EXPECT_EQ(twoda({"show", file, "1"}, &out), 0);
    EXPECT_EQ(out, "row     k       v\n1    1  \"****\"  ****\n");
    EXPECT_EQ(twoda({"show", file, "1,3-"}, &out), 1);
    EXPECT_EQ(out, "twoda: rows from 3: the table has 3 rows (0 to 2)\n");
    // Rows that are no rows are a usage error, even before the file is read.
    EXPECT_EQ(twoda({"show", file, "2-1"}, &out), 2);
    EXPECT_EQ(twoda({"show", file + ".missing", "x"}, &out), 2);
}

}  // namespace
}  // namespace headlink
