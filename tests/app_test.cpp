// The program's own layer: its command line, the warnings a run gives and
// what says which head and script they are about, and names.
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
#include "tests/support/quiet_kit.h"
#include "tests/support/table_builder.h"

namespace headlink {
namespace {

using testing::Bytes;
using testing::quietKit;
using testing::table;
using testing::file;

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


// The warnings as the program prints them, less "headlink: ".
std::vector<std::string> lines(const RunOutcome& outcome) {
    std::vector<std::string> out;
    for (const Warning& warning : outcome.warnings) out.push_back(warning.describe(outcome.warningsAreErrors));
    return out;
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
    ASSERT_TRUE(quiet.ok()) << quiet.failures[0].description();
    EXPECT_EQ(lines(quiet), std::vector<std::string>{});
    for (const auto& c : cases) {
        RunInputs in = quietKit();
        in.scripts[c.script] = file(c.text);
        RunOutcome outcome = runInMemory(in);
        EXPECT_TRUE(outcome.ok()) << c.text;
        EXPECT_EQ(lines(outcome), c.warnings) << c.text;
        EXPECT_EQ(outcome.scriptWarnings, c.warnings.size()) << c.text;
        // Each is about its script, and about no head outside a pack.
        for (const testing::Message& said : testing::messagesOf(outcome)) {
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
    EXPECT_EQ(outcome.scriptWarnings, 1u);
    // A script full of slips gives a few warnings and a count, not thousands.
    in = quietKit();
    std::string many = "0 0 a";
    for (int i = 0; i < 50; ++i) many += " 01 v";
    in.scripts[2] = file(many);
    outcome = runInMemory(in);
    ASSERT_EQ(outcome.scriptWarnings, 9u);
    EXPECT_EQ(outcome.warnings.back().describe(), "apphead2.txt: warning: more warnings like these are not shown");
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
    std::vector<testing::Message> said;  // file, line, text, warning, head, script
};

TEST(Messages, NameTheHeadAndScriptOfAPack) {
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
        const std::vector<testing::Message> messages = testing::messagesOf(outcome);
        std::string all;
        for (const testing::Message& said : messages) all += said.text + "\n";
        ASSERT_EQ(messages.size(), c.said.size()) << c.what << "\n" << all;
        for (std::size_t i = 0; i < c.said.size(); ++i) {
            const testing::Message& said = messages[i];
            const testing::Message& expected = c.said[i];
            EXPECT_EQ(said.file, expected.file) << c.what;
            EXPECT_EQ(said.text, expected.text) << c.what;
            EXPECT_EQ(said.line, expected.line) << c.what;
            EXPECT_EQ(said.warning, expected.warning) << c.what;
            EXPECT_EQ(said.head, expected.head) << c.what;
            EXPECT_EQ(said.script, expected.script) << c.what;
        }
    }
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

}  // namespace
}  // namespace headlink