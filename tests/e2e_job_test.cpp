// End to end: the whole job on a kit (the linked rows, the report, a second
// run on its own outputs), and the same outputs from every build.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/end_to_end.h"

namespace headlink::testing {
namespace {

TEST_F(EndToEnd, LinksTheNewRowsAndLeavesInputsUntouched) {
    auto kit = smallKit();
    putAll(kit);
    RunResult r = run();
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    for (const auto& [name, bytes] : kit) EXPECT_EQ(get(name), bytes) << name;
    Table heads = loadTable(get("heads_updated.2da"));
    Table appearance = loadTable(get("appearance_updated.2da"));
    Table portraits = loadTable(get("portraits_updated.2da"));
    EXPECT_EQ(heads.rowCount(), 4);
    EXPECT_EQ(cellText(heads, 3, 1), "mnew");
    ASSERT_EQ(appearance.rowCount(), 5);
    for (int32_t row = 2; row < 5; ++row) EXPECT_EQ(cellText(appearance, row, 10), "3");
    EXPECT_EQ(cellText(appearance, 3, 1), "b1");  // apphead2.txt copied row 1
    ASSERT_EQ(portraits.rowCount(), 2);
    EXPECT_EQ(cellText(portraits, 1, 2), "3");
    EXPECT_EQ(cellText(portraits, 1, 7), "2");
    EXPECT_EQ(cellText(portraits, 1, 8), "4");
}

// The host's own tables say where a link goes by the label of its column
// (case ignored, the first such column); a link whose label a table lacks
// goes into its fixed column. Every other cell of a new row is its
// template's, the fallback head and the texture names included, and the
// link check reads the same columns.
TEST_F(EndToEnd, LinksLandInTheColumnsTheirLabelsName) {
    struct Case {
        const char* what;
        int appearanceWidth;
        std::map<int, std::string> appearance;  // labels by column; the others ac0, ac1, ...
        int portraitsWidth;
        std::map<int, std::string> portraits;
        int32_t head;                   // the column of appearance that gets the head row
        std::array<int32_t, 3> bodies;  // the columns of portraits that get apphead1's, apphead2's, apphead3's row
    };
    const std::vector<Case> cases = {
        {"normalhead at 9 before backuphead; the bodies at 1 to 3, textures at 7 and 8", 12,
         {{9, "normalhead"}, {10, "backuphead"}}, 9,
         {{1, "appearancenumber"}, {2, "appearance_s"}, {3, "appearance_l"}, {7, "baseresrefve"}, {8, "baseresrefvve"}},
         9, {2, 1, 3}},
        {"normalhead at 10 before backuphead; labels elsewhere, in other cases", 12,
         {{10, "NormalHead"}, {11, "backuphead"}}, 10,
         {{5, "AppearanceNumber"}, {3, "APPEARANCE_S"}, {9, "Appearance_L"}},
         10, {3, 5, 9}},
        {"a label missing keeps its fixed column; a longer label is another", 11,
         {{3, "normalhead_x"}}, 9, {{1, "appearancenumber"}, {3, "appearance_s"}, {8, "appearance_l "}},
         10, {3, 1, 8}},
        {"the first of two normalhead columns", 12, {{4, "normalhead"}, {9, "NORMALHEAD"}}, 9, {}, 4, {7, 2, 8}},
        {"tables narrower than the fixed columns, labelled", 6, {{2, "normalhead"}}, 4,
         {{1, "appearancenumber"}, {2, "appearance_s"}, {3, "appearance_l"}}, 2, {2, 1, 3}},
    };
    const auto labelled = [](int width, const char* prefix, const std::map<int, std::string>& at) {
        std::vector<std::string> labels = names(prefix, width);
        for (const auto& [column, label] : at) labels[static_cast<std::size_t>(column)] = label;
        return labels;
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto kit = smallKit();
        // The rows there link to nothing yet ("****"), as the link check wants.
        std::vector<std::vector<std::string>> bodies = {names("a", c.appearanceWidth), names("b", c.appearanceWidth)};
        for (auto& row : bodies) row[static_cast<std::size_t>(c.head)] = "****";
        std::vector<std::string> portrait = names("p", c.portraitsWidth);
        for (const int32_t column : c.bodies) portrait[static_cast<std::size_t>(column)] = "****";
        kit["appearance.2da"] = gridTable(labelled(c.appearanceWidth, "ac", c.appearance), bodies);
        kit["portraits.2da"] = gridTable(labelled(c.portraitsWidth, "pc", c.portraits), {portrait});
        putAll(kit);
        RunResult r = run();
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, "");
        Table app = loadTable(get("appearance_updated.2da"));
        ASSERT_EQ(app.rowCount(), 5);
        // (apphead2.txt copies row 1, the others row 0.)
        const auto first = names("a", c.appearanceWidth), second = names("b", c.appearanceWidth);
        for (int32_t row = 2; row < 5; ++row)
            for (int32_t column = 1; column < c.appearanceWidth; ++column)
                EXPECT_EQ(cellText(app, row, column),
                          column == c.head ? "3" : (row == 3 ? second : first)[static_cast<std::size_t>(column)])
                    << "row " << row << ", column " << column;
        Table por = loadTable(get("portraits_updated.2da"));
        ASSERT_EQ(por.rowCount(), 2);
        for (int32_t column = 1; column < c.portraitsWidth; ++column) {
            const auto body = std::find(c.bodies.begin(), c.bodies.end(), column);
            EXPECT_EQ(cellText(por, 1, column),
                      body != c.bodies.end() ? std::to_string(2 + (body - c.bodies.begin()))
                                             : names("p", c.portraitsWidth)[static_cast<std::size_t>(column)])
                << "column " << column;
        }
        r = run("--check-links --outputs");
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.err, "");
    }

    // A script that sets the labelled link column is told so; the column
    // where the link would fall back is only a column.
    auto labelledKit = smallKit();
    labelledKit["appearance.2da"] = gridTable(labelled(12, "ac", {{9, "normalhead"}}), {names("a", 12), names("b", 12)});
    labelledKit["apphead1.txt"] = bytesOf("0 0 app1 9 x 10 y");
    putAll(labelledKit);
    RunResult warned = run();
    EXPECT_EQ(warned.status, 0);
    EXPECT_EQ(warned.err, "headlink: apphead1.txt: line 1: warning: column 9 is a link column: linking replaces this value "
                          "with a row number\n");
    EXPECT_EQ(cellText(loadTable(get("appearance_updated.2da")), 2, 10), "y");

    // A label can put one link where another, unlabelled, would fall back:
    // nothing is written, and the message says which label is wanted.
    auto kit = smallKit();
    kit["portraits.2da"] = gridTable(labelled(9, "pc", {{2, "appearance_s"}}), {names("p", 9)});
    fs::remove(dir_ / "portraits_updated.2da");
    putAll(kit);
    RunResult r = run();
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "headlink: portraits.2da: column 2 is labelled \"appearance_s\", for the apphead1 row, and no column "
                     "is labelled \"appearancenumber\", so the apphead2 row would go there too: label the column for it "
                     "\"appearancenumber\"\n");
    EXPECT_FALSE(has("portraits_updated.2da"));
}

TEST_F(EndToEnd, DoesTheWholeJobOnTheExampleKit) {
    Kit kit = exampleKit();
    putAll(kit);
    RunResult r = run();
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");  // not a warning on the example kit
    for (const auto& [name, bytes] : kit) EXPECT_EQ(get(name), bytes) << name;

    Table headsIn = loadTable(kit["heads.2da"]), heads = loadTable(get("heads_updated.2da"));
    Table appIn = loadTable(kit["appearance.2da"]), app = loadTable(get("appearance_updated.2da"));
    Table porIn = loadTable(kit["portraits.2da"]), por = loadTable(get("portraits_updated.2da"));

    // heads: one row appended from template row 1.
    ASSERT_EQ(heads.rowCount(), 31);
    EXPECT_EQ(cellText(heads, 30, 0), "head_elf_f_moonveil");
    EXPECT_EQ(cellText(heads, 30, 1), "hd_el_f_moon");
    EXPECT_EQ(cellText(heads, 30, 3), cellText(headsIn, 1, 3));  // unnamed cells follow the template
    // appearance: rows 40 and 41 appended; apphead3.txt found row 40 again.
    ASSERT_EQ(app.rowCount(), 42);
    EXPECT_EQ(cellText(app, 40, 0), "ElfFemaleMoonveil");
    EXPECT_EQ(cellText(app, 40, 11), "fast");
    EXPECT_EQ(cellText(app, 41, 0), "ElfFemaleMoonveilCloaked");
    EXPECT_EQ(cellText(app, 41, 4), "tex_el_moon");  // copied from row 40
    EXPECT_EQ(cellText(app, 40, 10), "30");
    EXPECT_EQ(cellText(app, 41, 10), "30");
    // portraits: row 32 linked to appearance rows 41 (main), 40 and 40.
    ASSERT_EQ(por.rowCount(), 33);
    EXPECT_EQ(cellText(por, 32, 2), "41");
    EXPECT_EQ(cellText(por, 32, 7), "40");
    EXPECT_EQ(cellText(por, 32, 8), "40");
    // Existing rows are untouched, the pools only grew, and the pool-size
    // fields, the pools' lengths in the inputs, still are.
    for (int32_t c = 0; c < app.columnCount(); ++c) EXPECT_EQ(cellText(app, 39, c), cellText(appIn, 39, c));
    for (const auto& [in, out] : {std::pair{&headsIn, &heads}, {&appIn, &app}, {&porIn, &por}}) {
        EXPECT_GT(out->pool().size(), in->pool().size());
        EXPECT_TRUE(std::equal(in->pool().begin(), in->pool().end(), out->pool().begin()));
        EXPECT_EQ(in->poolSizeField(), in->pool().size());
        EXPECT_EQ(out->poolSizeField(), out->pool().size());
    }
    const Bytes out = get("heads_updated.2da");
    // New row labels are the rows' own indexes.
    FileLayout layout;
    ASSERT_TRUE(readLayout(out, &layout));
    const std::string headerOut(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(layout.gridStart));
    EXPECT_EQ(headerOut.substr(headerOut.size() - 7), "\t29\t30\t");
}

TEST_F(EndToEnd, HeadScriptMatchingAnExistingRowIsLinked) {
    auto kit = smallKit();
    kit["head.txt"] = bytesOf("0 1 M1");  // first row whose model is "m1": row 1
    putAll(kit);
    ASSERT_EQ(run().status, 0);
    EXPECT_EQ(get("heads_updated.2da"), kit["heads.2da"]);  // found, not added
    Table app = loadTable(get("appearance_updated.2da"));
    for (int32_t row = 2; row < 5; ++row) EXPECT_EQ(cellText(app, row, 10), "1");
}

TEST_F(EndToEnd, AppearanceScriptsEndingOnOneRow) {
    auto kit = smallKit();
    kit["apphead1.txt"] = bytesOf("0 0 same");
    kit["apphead2.txt"] = bytesOf("1 0 SAME 3 x");
    kit["apphead3.txt"] = bytesOf("0 0 same\n");
    putAll(kit);
    ASSERT_EQ(run().status, 0);
    Table app = loadTable(get("appearance_updated.2da"));
    ASSERT_EQ(app.rowCount(), 3);
    EXPECT_EQ(cellText(app, 2, 3), "x");
    EXPECT_EQ(cellText(app, 2, 10), "3");
    Table por = loadTable(get("portraits_updated.2da"));
    for (int32_t column : {2, 7, 8}) EXPECT_EQ(cellText(por, 1, column), "2");
}

TEST_F(EndToEnd, ScriptReportingRowZeroContinues) {
    auto kit = smallKit();
    kit["apphead1.txt"] = bytesOf("1 1 a1");  // row 0 holds "a1" in column 1
    kit["head.txt"] = bytesOf("0 1 m0");      // row 0 holds "m0" in column 1
    putAll(kit);
    RunResult r = run();
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(loadTable(get("heads_updated.2da")).rowCount(), 3);
    Table app = loadTable(get("appearance_updated.2da"));
    EXPECT_EQ(cellText(app, 0, 10), "0");
    EXPECT_EQ(cellText(loadTable(get("portraits_updated.2da")), 1, 7), "0");
}

TEST_F(EndToEnd, SecondRunOnItsOwnOutputsAddsNothing) {
    putAll(smallKit());
    ASSERT_EQ(run().status, 0);
    std::map<std::string, Bytes> first;
    for (const char* name : {"appearance", "heads", "portraits"}) {
        first[name] = get(std::string(name) + "_updated.2da");
        fs::rename(dir_ / (std::string(name) + "_updated.2da"), dir_ / (std::string(name) + ".2da"));
    }
    RunResult r = run();
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");  // rows found whose links already hold these rows: nothing to warn of
    // Every script finds the row it appended the first time, and the link
    // values are already in the pools: the outputs equal the inputs.
    for (const auto& [name, bytes] : first) EXPECT_EQ(get(name + "_updated.2da"), bytes) << name;
}

TEST_F(EndToEnd, ReportsWhatItDidOnTheExampleKit) {
    fs::create_directory(dir_ / "kit");
    for (const auto& [name, bytes] : exampleKit()) put("kit/" + name, bytes);
    const Bytes expected = readBytes(HEADLINK_EXPECTED_DIR "/example-report.txt");
    RunResult r = run("-v -C kit");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, std::string(expected.begin(), expected.end()));
    EXPECT_TRUE(fs::exists(dir_ / "kit" / "heads_updated.2da"));
}

// With HEADLINK_REFERENCE_EXE set (the build of another platform), both
// builds must write identical bytes for the same inputs.
// A head pack: every head in name order on the tables the heads before it
// left, byte for byte what running them one by one on each other's outputs
// gives; each line and message naming its head.
std::map<std::string, std::string> headScripts(const std::string& key) {
    return {{"head.txt", "1 0 head_" + key + "\n1 hd_" + key + "\n"},
            {"apphead1.txt", "1 0 App" + key + "\n4 tex_" + key + "\n"},
            {"apphead2.txt", "1 0 App" + key + "Cloaked\n"},
            {"apphead3.txt", "1 0 App" + key + "\n11 fast\n"},
            {"portraits.txt", "1 0 po_" + key + "\n"}};
}

TEST_F(EndToEnd, HeadPacksEqualTheirHeadsRunOneByOne) {
    Kit kit = exampleKit();
    const std::vector<std::string> tables = {"appearance", "heads", "portraits"};
    for (const std::string& t : tables) {
        put(t + ".2da", kit[t + ".2da"]);
        put("seq/" + t + ".2da", kit[t + ".2da"]);
    }
    for (const std::string key : {"b", "c", "a"})
        for (const auto& [script, text] : headScripts(key)) put("pack/" + key + "/" + script, text);
    put("pack/notes/readme.txt", std::string("no scripts here"));
    for (const std::string key : {"a", "b", "c"}) {
        for (const auto& [script, text] : headScripts(key)) put("seq/" + script, text);
        ASSERT_EQ(run("-C seq").status, 0);
        for (const std::string& t : tables) put("seq/" + t + ".2da", get("seq/" + t + "_updated.2da"));
    }
    RunResult r = run("--heads pack -v");
    ASSERT_EQ(r.status, 0) << r.err;
    for (const std::string& t : tables) EXPECT_EQ(get(t + "_updated.2da"), get("seq/" + t + ".2da")) << t;
    EXPECT_EQ(r.out.find("notes: holds none of the five scripts: skipped\na/head.txt: heads row 30"), 0u) << r.out;
    EXPECT_NE(r.out.find("\nc: link: portraits row 34: 2 \"app_main\" = \"45\""), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\nb: appearance.2da: 42 -> 44 rows, "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\nappearance_updated.2da: 40 -> 46 rows"), std::string::npos) << r.out;

    // Run again on its own outputs, the pack adds nothing.
    for (const std::string& t : tables) put(t + ".2da", get(t + "_updated.2da"));
    ASSERT_EQ(run("--heads pack").status, 0);
    for (const std::string& t : tables) EXPECT_EQ(get(t + "_updated.2da"), get(t + ".2da")) << t;

    // Fifty heads add 150 appearance rows: the limit of added rows is each head's.
    fs::remove_all(dir_ / "pack");
    for (int i = 0; i < 50; ++i) {
        std::string key = "h";  // built piecewise: GCC 12 warns wrongly on "h" + std::string at -O3
        key += std::to_string(100 + i);
        for (const auto& [script, text] : headScripts(key)) put("pack/" + key + "/" + script, text);
    }
    for (const std::string& t : tables) put(t + ".2da", kit[t + ".2da"]);
    ASSERT_EQ(run("--heads pack").status, 0);
    EXPECT_EQ(loadTable(get("appearance_updated.2da")).rowCount(), 40 + 100);

    // Whatever is wrong in a pack, nothing is written, and the message
    // names the head (and its script or file).
    struct Case {
        const char* what;
        std::vector<std::pair<std::string, std::string>> files;  // put into a fresh pack with heads a and b
        std::string err;
    };
    const std::vector<Case> cases = {
        {"a head without all five scripts", {{"c/head.txt", "1 0 x\n"}, {"c/portraits.txt", "1 0 y\n"}},
         "headlink: c: holds head.txt and portraits.txt but not apphead1.txt, apphead2.txt and apphead3.txt: a head "
         "needs all five scripts\n"},
        {"a script that fails", {{"b/apphead2.txt", "1 99 x\n"}}, "headlink: b/apphead2.txt: "},
        {"a folder among a head's files", {{"a/override/sub/x.mdl", "x"}}, "headlink: a/override/sub: is a folder"},
        {"a table among a head's files", {{"a/Override/Heads.2da", "x"}},
         "headlink: a/Override/Heads.2da: is named like one of the three tables, which the scripts make\n"},
        {"one name, other bytes", {{"a/override/x.mdl", "one"}, {"b/OVERRIDE/X.MDL", "two"}},
         "headlink: b/OVERRIDE/X.MDL: has the name of a/override/x.mdl but other bytes: only one of them can be "
         "installed\n"},
    };
    for (const std::string& t : tables) put(t + ".2da", kit[t + ".2da"]);
    for (const Case& c : cases) {
        fs::remove_all(dir_ / "pack");
        fs::remove(dir_ / "heads_updated.2da");
        for (const std::string key : {"a", "b"})
            for (const auto& [script, text] : headScripts(key)) put("pack/" + key + "/" + script, text);
        for (const auto& [name, text] : c.files) put("pack/" + name, text);
        r = run("--heads pack");
        EXPECT_EQ(r.status, 1) << c.what;
        EXPECT_NE(r.err.find(c.err), std::string::npos) << c.what << "\n" << r.err;
        EXPECT_FALSE(has("heads_updated.2da")) << c.what;
    }
#ifndef _WIN32
    // A link among a head's files is refused, never followed (Wine shows a
    // link as the file it points to, as Windows has none of this kind).
    if (!underWine()) {
        fs::remove_all(dir_ / "pack");
        for (const auto& [script, text] : headScripts("a")) put("pack/a/" + script, text);
        fs::create_directories(dir_ / "pack" / "a" / "override");
        fs::create_symlink(dir_ / "heads.2da", dir_ / "pack" / "a" / "override" / "x.mdl");
        r = run("--heads pack");
        EXPECT_EQ(r.err, "headlink: a/override/x.mdl: is a link: links are not followed\n");
    }
#endif
}

TEST_F(EndToEnd, OutputsMatchTheReferenceBuild) {
    const std::string reference = env("HEADLINK_REFERENCE_EXE");
    if (reference.empty()) GTEST_SKIP() << "HEADLINK_REFERENCE_EXE is not set";
    const Kit example = exampleKit();
    // CR LF line ends, a NUL-cut value, and text after a 0x1A byte.
    auto crlf = smallKit();
    crlf["head.txt"] = bytesOf("0 0 newhead\r\n1 M0\r\n\x1A" "1 ignored\r\n");
    crlf["apphead1.txt"] = bytesOf(std::string("0 0 app1\r\n3 cut\0tail\r\n", 22));
    crlf["portraits.txt"] = bytesOf("0 0 p\r\n4 x\x1A");
    for (const auto& kit : {example, crlf}) {
        std::map<std::string, Bytes> outputs;
        for (const std::string& exe : {exe_, reference}) {
            fs::remove_all(dir_);
            fs::create_directories(dir_);
            putAll(kit);
            RunResult r;
            if (exe == reference) {
                std::string command = "cd '" + dir_.string() + "' && '" + reference + "' </dev/null";
                r.status = std::system(command.c_str());
            } else {
                r = run();
            }
            ASSERT_EQ(r.status, 0) << exe << ": " << r.err;
            for (const char* name : {"appearance_updated.2da", "heads_updated.2da", "portraits_updated.2da"}) {
                if (outputs.count(name)) EXPECT_EQ(get(name), outputs[name]) << name;
                else outputs[name] = get(name);
            }
        }
    }
}

}  // namespace
}  // namespace headlink::testing
