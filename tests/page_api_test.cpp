// The page's API (web/api.cpp), built natively: a pack by its paths, a run's
// whole answer, running out of memory, and a game folder read slice by slice.
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

#include <nlohmann/json.hpp>

// The page's API (web/api.cpp), built natively for these tests: each call
// answers a JSON document.
extern "C" {
const char* hl_pack_plan(const char* listing);
const char* hl_pack_begin(const char* listing);
const char* hl_set_input(int index, const uint8_t* data, int size);
const char* hl_set_head_script(int head, int script, const uint8_t* data, int size);
const char* hl_inputs();
const char* hl_run(int strict);
const char* hl_open(const uint8_t* data, int size, const char* name);
const char* hl_view_window(int v, int r0, int r1, int c0, int c1);
const char* hl_export(int v, int kind);
const char* hl_output(int index);
const char* hl_script_form(const uint8_t* data, int size);
const char* hl_word_at(const uint8_t* data, int size, int offset);
const char* hl_game_begin(const char* name, const char* listing);
const char* hl_game_read();
const char* hl_game_give_size(int i, double size);
const char* hl_game_give(int i, const uint8_t* data, int size);
}

namespace headlink {
namespace {

using nlohmann::json;

// An answer, parsed as the page parses it.
json parsed(const char* answer) { return json::parse(answer); }
// Whether a call that takes something in took it.
bool took(const char* answer) { return parsed(answer) == json::object(); }
// The bytes an answer points to in the engine's memory.
std::vector<uint8_t> bytesOf(const char* answer) {
    const json bytes = parsed(answer);
    if (bytes.contains("error")) return {};
    const auto* at = reinterpret_cast<const uint8_t*>(bytes["at"].get<uintptr_t>());
    return {at, at + bytes["size"].get<std::size_t>()};
}

// What these tests read of a run's answer.
struct PageRun {
    int status = 0;
    bool worked = false;
    std::string out, err;
    std::vector<std::string> heads;
    std::vector<testing::Message> said;  // text, line, warning, head, script
    std::vector<std::array<int32_t, 3>> outputs;  // rows, rows before, columns
    std::vector<std::array<int32_t, 5>> marks;    // table, row, column, link, head
    std::string chains;  // each head's: "head: title row (label), ... > title ..." a line
    std::string error;   // why the call failed, or ""
};
PageRun pageRun(const char* answer) {
    const json r = parsed(answer);
    PageRun run;
    if (r.contains("error")) {
        run.status = 1;
        run.error = r["error"];
        return run;
    }
    run.status = r["status"];
    run.worked = r["worked"];
    run.out = r["out"];
    run.err = r["err"];
    run.heads = r["heads"].get<std::vector<std::string>>();
    for (const json& m : r["said"]) run.said.push_back({"", m["line"], m["text"], m["warning"], m["head"], m["script"]});
    for (const json& o : r["outputs"]) run.outputs.push_back({o["rows"], o["rowsBefore"], o["columns"]});
    for (const json& m : r["marks"])
        run.marks.push_back({m["table"], m["row"], m["column"], m["link"].get<bool>() ? 1 : 0, m["head"]});
    // Appended piece by piece: GCC 12 sees overlaps in chains of "+" that are not there.
    std::ostringstream chains;
    for (const json& chain : r["chains"]) {
        chains << chain["head"].get<std::string>() << ':';
        for (std::size_t b = 0; b < chain["boxes"].size(); ++b) {
            const json& box = chain["boxes"][b];
            chains << ' ' << box["title"].get<std::string>();
            for (const json& row : box["rows"]) chains << ' ' << row["row"].get<int>() << " (" << row["label"].get<std::string>() << ')';
            if (b + 1 < chain["boxes"].size()) chains << " >";
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
PageCell pageCell(const char* window, int row, int column) {
    const json w = parsed(window);
    PageCell cell;
    if (w.contains("error")) return cell;
    cell.rows = w["rows"];
    cell.columns = w["columns"];
    if (row < 0 || row >= cell.rows || column < 0 || column >= cell.columns) return cell;
    cell.link = w["columnLinks"][0];
    const json& c = w["cells"][0][0];
    cell.text = c["text"];
    cell.mark = c["mark"];
    if (cell.mark != 0) cell.was = c["was"];
    return cell;
}
PageCell pageCell(int v, int row, int column) { return pageCell(hl_view_window(v, row, row + 1, column, column + 1), row, column); }

using testing::Bytes;
using testing::quietKit;
using testing::table;
using testing::file;

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
    const json plan = parsed(hl_pack_plan(listing));
    EXPECT_EQ(plan["tables"], json({"appearance.2da", "heads.2da", "portraits.2da"}));
    std::vector<std::string> read;
    for (const json& h : plan["heads"]) {
        std::string head = h["name"];
        head += ':';
        for (const json& script : h["scripts"]) head.append(" ").append(script.get<std::string>());
        for (const json& brought : h["files"]) head.append(" ").append(brought.get<std::string>());
        read.push_back(head);
    }
    EXPECT_EQ(read, (std::vector<std::string>{"alpha: alpha/head.txt     alpha/OverRide/hd.mdl",
                                              "zeta: zeta/head.txt     zeta/override/a.tga zeta/override/b.tga"}));
    EXPECT_EQ(plan["pack"], true);

    ASSERT_TRUE(took(hl_pack_begin(listing)));
    const RunInputs kit = quietKit();
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(took(hl_set_input(i, kit.tables[static_cast<std::size_t>(i)].bytes.data(),
                                      static_cast<int>(kit.tables[static_cast<std::size_t>(i)].bytes.size()))));
    for (int h = 0; h < 2; ++h)
        for (int s = 0; s < 5; ++s) {
            const Bytes& script = kit.scripts[static_cast<std::size_t>(s)].bytes;
            ASSERT_TRUE(took(hl_set_head_script(h, s, script.data(), static_cast<int>(script.size()))));
        }
    EXPECT_EQ(parsed(hl_set_head_script(2, 0, nullptr, -1))["error"], "no such head or script");
    const PageRun run = pageRun(hl_run(0));
    ASSERT_EQ(run.status, 0) << run.err;
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
        const json w = parsed(hl_view_window(v, r0, r1, c0, c1));
        const int32_t w0 = w["r0"], w1 = w["r1"], x0 = w["c0"], x1 = w["c1"];
        EXPECT_EQ(std::make_pair(w1 - w0, x1 - x0), std::make_pair(rows, columns)) << v << " " << r0 << ".." << r1;
        EXPECT_EQ(w["cells"].size(), static_cast<std::size_t>(rows));
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
    // Calls an API function with each of its allocations failing in turn:
    // it must answer the failure every time, then work.
    const auto sweep = [](const char* what, auto call, auto worked) {
        for (long n = 0;; ++n) {
            testing::failAllocation(n);
            const char* answer = call();
            if (!testing::allocationFailed()) {
                EXPECT_TRUE(worked(parsed(answer))) << what;
                return;
            }
            EXPECT_EQ(parsed(answer), json({{"error", "not enough memory"}})) << what << ", allocation " << n;
        }
    };
    sweep("hl_open", open, [](const json& a) { return a["loaded"] == true; });
    sweep("hl_export", [] { return hl_export(3, 1); }, [](const json& a) { return a["size"] > 0; });
    sweep("hl_view_window", [] { return hl_view_window(3, 2, 3, 1, 2); },
          [](const json& a) { return a["cells"][0][0]["text"] == "v2_1"; });

    const RunInputs kit = quietKit();
    const std::vector<std::string> files = {"appearance.2da", "heads.2da", "portraits.2da", "head.txt", "apphead1.txt",
                                            "apphead2.txt", "apphead3.txt", "portraits.txt", "the outputs"};
    for (long n = 0;; ++n) {
        hl_pack_begin("");
        int at = 0;
        for (const FileBytes& input : kit.tables)
            ASSERT_TRUE(took(hl_set_input(at++, input.bytes.data(), static_cast<int>(input.bytes.size()))));
        for (const FileBytes& input : kit.scripts)
            ASSERT_TRUE(took(hl_set_input(at++, input.bytes.data(), static_cast<int>(input.bytes.size()))));
        testing::failAllocation(n);
        const char* answer = hl_run(0);
        const bool failed = testing::allocationFailed();
        const PageRun run = pageRun(answer);
        if (!failed) {
            EXPECT_EQ(run.status, 0) << run.err;
            break;
        }
        // Said as the call's failure, or by the run naming what it worked on;
        // never a run that worked.
        EXPECT_EQ(run.status, 1) << "allocation " << n;
        EXPECT_FALSE(run.worked) << "allocation " << n;
        bool named = run.error == "not enough memory";
        for (const std::string& name : files) named = named || run.err == "headlink: " + name + ": not enough memory\n";
        EXPECT_TRUE(named) << "allocation " << n << ": " << run.error << run.err;
    }
    // The outputs are serialised only when saved, and that may fail too.
    sweep("hl_output", [] { return hl_output(0); }, [](const json& a) { return a["size"] > 0; });
    // The job never touches the opened table; a new job forgets the last run.
    EXPECT_EQ(pageCell(3, 2, 1).rows, 3);
    EXPECT_EQ(pageCell(3, 2, 1).text, "v2_1");
    EXPECT_EQ(pageCell(0, 2, 10).mark, 2);
    hl_pack_begin("");
    EXPECT_EQ(pageCell(0, 2, 10).rows, 0);
    EXPECT_TRUE(parsed(hl_output(0)).contains("error"));
    EXPECT_EQ(pageCell(3, 2, 1).rows, 3);
}

// What the page is told besides the run: how a script is encoded (UTF-16
// only shown), the word under a caret, and a near miss among the names
// given with the program's hint for it.
TEST(PageAnswers, ScriptFormsWordsAndNearMisses) {
    for (const auto& [bytes, form] : std::vector<std::pair<std::string, std::string>>{
             {std::string("\xFF\xFE" "1\0", 4), "utf-16le"}, {std::string("\0" "1\0 ", 4), "utf-16be"},
             {"1 0 x", ""}, {std::string("1\0", 2), "utf-16le"}, {"", ""}, {"\xEF\xBB\xBF" "1", ""}}) {
        const auto* data = reinterpret_cast<const uint8_t*>(bytes.data());
        EXPECT_EQ(parsed(hl_script_form(data, static_cast<int>(bytes.size())))["utf16"], form) << bytes;
    }
    const std::string script = "12 0 name 4 x";
    const auto* data = reinterpret_cast<const uint8_t*>(script.data());
    EXPECT_EQ(parsed(hl_word_at(data, static_cast<int>(script.size()), 11)),
              json({{"word", {{"role", 3}, {"begin", 10}, {"end", 11}, {"number", 4}}}}));
    EXPECT_EQ(parsed(hl_word_at(data, static_cast<int>(script.size()), 7))["word"]["number"], nullptr);
    EXPECT_EQ(parsed(hl_word_at(data, -1, 0)), json({{"word", nullptr}}));

    ASSERT_TRUE(took(hl_pack_begin("Heads.2DA\nhead.txt.txt\nportraits.2da\n")));
    const json inputs = parsed(hl_inputs())["inputs"];
    ASSERT_EQ(inputs.size(), 8u);
    EXPECT_EQ(inputs[1]["nearMisses"], json({"Heads.2DA"}));
    EXPECT_EQ(inputs[1]["hint"], "the folder holds \"Heads.2DA\"; headlink opens exactly \"heads.2da\" (a file "
                                 "browser may hide an extension), so rename it");
    EXPECT_EQ(inputs[3]["name"], "head.txt");
    EXPECT_EQ(inputs[3]["nearMisses"], json({"head.txt.txt"}));
    for (const int i : {0, 2, 4}) EXPECT_EQ(inputs[static_cast<std::size_t>(i)]["hint"], "") << i;
    hl_pack_begin("");
}

// The page reads a game folder from the list of its files, asking for the
// slices it needs: the same tables and sources as the program reads from
// disk, for a fraction of the folder's bytes. Then runs on the tables it
// keeps: a half-typed script fails at its line, the grids keep the last
// run that worked, and nothing can be saved until a run works again.
using PageGame = testing::TempDir;
TEST_F(PageGame, ReadsTheTablesSliceBySliceAndRunsOnThemKeystrokeByKeystroke) {
    const RunInputs kit = quietKit();
    testing::GameLayout layout;
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
        ASSERT_TRUE(took(hl_game_begin("game", listing.c_str())));
        int rounds = 0;
        for (json read; !(read = parsed(hl_game_read()))["needs"].empty(); ++rounds) {
            ASSERT_LT(rounds, 6);
            EXPECT_EQ(read["reading"].get<std::string>().rfind("Reading the game folder game: ", 0), 0u) << read;
            for (int i = 0; i < static_cast<int>(read["needs"].size()); ++i) {
                const json& need = read["needs"][static_cast<std::size_t>(i)];
                const std::string at = need["path"];
                const long long size = need["size"];
                const auto offset = need["offset"].get<uint64_t>();
                if (size == -1) {
                    EXPECT_TRUE(sized.insert(at).second) << at << ": its size asked for twice";
                    ASSERT_TRUE(took(hl_game_give_size(i, static_cast<double>(std::filesystem::file_size(dir + "/" + at)))));
                    continue;
                }
                EXPECT_EQ(sized.count(at), 1u) << at << ": its bytes asked for before its size";
                slices.emplace(at, offset, static_cast<int>(size));
                FilePart part = readFilePart(dir + "/" + at, offset, static_cast<std::size_t>(size));
                ASSERT_TRUE(part.ok());
                if (at == "data/tables.bif")
                    part.bytes.resize(part.bytes.size() - std::min(shorten, part.bytes.size()));
                given += part.bytes.size();
                ASSERT_TRUE(took(hl_game_give(i, part.bytes.data(), static_cast<int>(part.bytes.size()))));
            }
        }
    };
    pull(1);
    const PageRun changed = pageRun(hl_run(0));
    EXPECT_EQ(changed.status, 1);
    EXPECT_NE(changed.err.find("data/tables.bif: changed since it was picked"), std::string::npos) << changed.err;
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
    const json inputs = parsed(hl_inputs())["inputs"];
    for (int i = 0; i < 3; ++i) {
        FoundTable table;
        ASSERT_TRUE(onDisk.read(kTableFiles[static_cast<std::size_t>(i)], &table));
        EXPECT_EQ(inputs[static_cast<std::size_t>(i)]["source"], table.from);
        EXPECT_EQ(bytesOf(hl_export(4 + i, 2)), table.bytes) << kTableFiles[static_cast<std::size_t>(i)];
    }
    EXPECT_EQ(inputs[1]["source"], "Override/HEADS.2da");

    const auto setScript = [](int script, const std::string& text) {
        return took(hl_set_input(3 + script, reinterpret_cast<const uint8_t*>(text.data()), static_cast<int>(text.size())));
    };
    for (int i = 0; i < 5; ++i)
        ASSERT_TRUE(took(hl_set_input(3 + i, kit.scripts[static_cast<std::size_t>(i)].bytes.data(),
                                      static_cast<int>(kit.scripts[static_cast<std::size_t>(i)].bytes.size()))));
    // The names the scripts set, checked as the program checks them: the
    // model "model" is nowhere; portraits' "x" is Override/x.tga, a texture
    // as the template's tpc is.
    const PageRun checked = pageRun(hl_run(0));
    ASSERT_EQ(checked.status, 0) << checked.err;
    ASSERT_EQ(checked.said.size(), 1u) << checked.err;
    EXPECT_EQ(checked.said[0].text, "head.txt: line 1: warning: heads row 2, column 1 \"c1\" = \"model\": the game has "
                                    "no model of that name (the template's \"v0_1\" is v0_1.mdl in data/models.bif)");
    EXPECT_EQ(checked.said[0].script, 0);
    EXPECT_EQ(checked.said[0].line, 1);
    EXPECT_EQ(pageRun(hl_run(1)).status, 1);
    const int rows = pageCell(1, 0, 0).rows;
    // Half typed: the program's message at its line; the grids stay.
    ASSERT_TRUE(setScript(0, "0 0 head\n1"));
    const PageRun half = pageRun(hl_run(0));
    EXPECT_EQ(half.status, 1);
    EXPECT_FALSE(half.worked);
    ASSERT_EQ(half.said.size(), 1u);
    EXPECT_EQ(half.said[0].script, 0);
    EXPECT_EQ(half.said[0].line, 2);
    EXPECT_EQ(half.said[0].text, "head.txt: line 2: column 1 has no value after it");
    EXPECT_EQ(pageCell(1, 0, 0).rows, rows);
    EXPECT_EQ(half.outputs[1][0], rows);
    EXPECT_EQ(parsed(hl_output(1))["error"], "nothing to save: the last run did not work");
    // Typed on: the outputs are the program's on the same tables.
    ASSERT_TRUE(setScript(0, "0 0 head\n1 model2"));
    const PageRun typed = pageRun(hl_run(0));
    ASSERT_EQ(typed.status, 0) << typed.err;
    RunInputs same = quietKit();
    same.scripts[0] = file("0 0 head\n1 model2");
    RunOutcome expected = runInMemory(std::move(same));
    ASSERT_TRUE(expected.ok());
    for (int i = 0; i < 3; ++i) EXPECT_EQ(bytesOf(hl_output(i)), expected.tables[static_cast<std::size_t>(i)].bytes());
    // The run is the install's dry run: it looks at the installs there,
    // through the list of files, as the program looks on disk.
    EXPECT_NE(typed.out.find("would write Override/HEADS.2da (the file there now backed up first)\n"), std::string::npos)
        << typed.out;
    const std::vector<uint8_t> model = {'m'};
    const FileToInstall brought[] = {{"hd.mdl", model}};
    std::ostringstream said;
    std::vector<Warning> warnings;
    ASSERT_TRUE(install({dir, "game"}, brought, {"h"}, "", {}, said, &warnings));
    relist();
    pull(0);
    const PageRun again = pageRun(hl_run(0));
    ASSERT_EQ(again.status, 0) << again.err;
    // The outputs installed: each table is then what the run makes of it,
    // and there is nothing to install.
    std::array<std::vector<uint8_t>, 3> made;
    std::vector<FileToInstall> tables;
    for (int i = 0; i < 3; ++i) {
        made[static_cast<std::size_t>(i)] = bytesOf(hl_output(i));
        tables.push_back({kTableFiles[static_cast<std::size_t>(i)], made[static_cast<std::size_t>(i)]});
    }
    ASSERT_TRUE(install({dir, "game"}, tables, {"h"}, "", {}, said, &warnings));
    relist();
    pull(0);
    const PageRun installed = pageRun(hl_run(0));
    ASSERT_EQ(installed.status, 0) << installed.err;
    EXPECT_NE(installed.out.find("\nnothing to install: the game's tables already hold every row and cell"),
              std::string::npos) << installed.out;
    std::string record;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir))
        if (entry.path().filename() == "record.txt") record = entry.path().string();
    const Bytes complete = testing::readBytes(record);
    testing::writeBytes(record, Bytes(complete.begin(), complete.end() - 9));  // no "complete"
    relist();
    pull(0);
    const PageRun blocked = pageRun(hl_run(0));
    EXPECT_EQ(blocked.status, 1);
    EXPECT_EQ(blocked.err, "headlink: game: an earlier install was interrupted: run headlink --game game --uninstall "
                             "first\n");
    hl_pack_begin("");
}

}  // namespace
}  // namespace headlink