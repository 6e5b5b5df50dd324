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