// The page's way into headlink: plain C functions over the same run the
// program does, with no rule of their own. The page hands in the eight
// files (or marks one missing), runs the job as `headlink -n` would, and
// reads back the exit status, what the program would print on standard
// output and standard error, the three outputs and the cells it changed.
// For a pack it hands in the heads instead of the five scripts, each by
// name with its scripts, and each changed cell says which head set it.
// Apart from the job, a table opened on its own can be shown and saved in
// another form; the job never touches it, nor it the job.
//
// Who owns what:
//  - A buffer handed in (`data`, `name`) stays the caller's: it is copied
//    before the call returns, and the caller frees it, whatever the call
//    answered.
//  - Every pointer returned points into memory this file owns. A name of
//    the job's fixed files (hl_input_name, hl_output_name) stays valid for
//    good; any other text or bytes stay valid only until the next hl_ call,
//    so the caller copies them at once.
//  - No call lets an exception out: running out of memory (or any other
//    failure) inside one makes it return its failure value (a status of 1,
//    an empty text, a size of 0), and hl_error() then says why.
//
// Tables are numbered as the program loads them (appearance, heads,
// portraits); views 0-2 are the outputs of the last run that worked, view 3
// the table opened on its own, views 4-6 the tables as given. Every index
// is checked: one out of range reads as nothing.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <new>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#ifdef __EMSCRIPTEN__
#include <emscripten/em_macros.h>
#else
#define EMSCRIPTEN_KEEPALIVE  // built natively for the tests
#endif

#include "app/files.h"
#include "app/run.h"
#include "fileio/fileio.h"
#include "game/folder.h"
#include "game/install.h"
#include "patch/patch.h"
#include "table/text.h"
#include "twoda/commands.h"
#include "twoda/textform.h"

namespace {

using namespace headlink;

// The tables in load order, then the scripts in run order.
constexpr std::size_t kInputs = std::size_t{kTableCount} + std::size_t{kScriptCount};

// The job: the eight inputs (each table also loaded once, for every run),
// the names given, what the last run said, and what the last run that
// worked produced, which the grids keep showing while a half-typed script
// cannot run.
struct Job {
    std::array<FileBytes, kInputs> inputs;
    std::array<Table, kTableCount> loaded;  // a table's bytes, loaded; empty when they do not load
    std::array<bool, kTableCount> isLoaded{};
    std::array<std::string, kTableCount> sums;  // of each loaded table's bytes
    std::array<std::string, kTableCount> sources;  // where a game folder's tables came from
    std::vector<Warning> found;                    // warnings about finding them
    std::vector<HeadInputs> heads;   // a pack: run instead of the five scripts
    std::vector<std::string> notes;  // the pack's folders skipped, as the report says them
    std::vector<Result> packErrors;  // files of the heads refused as the program refuses them
    bool fromGame = false;           // the tables came from the game folder: a run is --game's dry run
    std::shared_ptr<const ResourceIndex> resources;  // what that game can load, for checking the names set
    std::vector<std::string> names;  // every file the user gave, for the hints
    std::string out, err;
    RunOutcome outputs;  // of the last run (its tables moved to `views` when it worked)
    int status = 0;  // the last run's exit status
    bool worked = false;
    std::array<Table, kTableCount> views;  // the outputs of the last run that worked
    std::array<int32_t, kTableCount> rowsBefore{};
    std::vector<CellMark> marks;
    LinkColumns links;  // where that run's links went
    std::array<std::vector<uint8_t>, kTableCount> saved;  // views[i] serialised, once asked for
};

// A game folder picked in the page: its files by path and size, and the
// slices of them read so far.
struct GameFolder {
    std::string name;
    ListedGameFiles files;
    std::vector<ListedGameFiles::Need> needs;
};

// A table opened on its own, and `twoda check`'s verdict on it.
struct Opened {
    Table table;
    std::string check;
};

Job job;
Opened opened;
GameFolder game;
std::string text;               // the latest text asked for
std::vector<uint8_t> exported;  // the latest export
char error[256];                // why the latest call failed, or ""

// A stream into memory that throws when it cannot grow, rather than
// dropping the rest of its text without a word.
struct TextStream : std::ostringstream {
    TextStream() { exceptions(std::ios::badbit); }
};

constexpr int kOpened = kTableCount;

// Runs `body`; any failure it throws becomes `failed`, its reason kept for
// hl_error() in a fixed buffer, as there may be no memory to copy it to.
template <class T, class Body>
T guarded(T failed, Body body) noexcept {
    error[0] = '\0';
    const char* why = "an unexpected failure";
    try {
        return body();
    } catch (const std::bad_alloc&) {
        why = kNotEnoughMemory;
    } catch (const std::exception& e) {
        why = e.what();
    } catch (...) {
    }
    std::strncpy(error, why, sizeof error - 1);
    error[sizeof error - 1] = '\0';
    return failed;
}

template <class Container>
bool within(const Container& items, int index) {
    return index >= 0 && static_cast<std::size_t>(index) < items.size();
}

// Views 0-2: the outputs of the last run that worked; 3: the opened
// table; 4-6: the tables as given, loaded.
const Table* view(int index) {
    if (within(job.views, index)) return &job.views[static_cast<std::size_t>(index)];
    if (index == kOpened) return &opened.table;
    const int given = index - kOpened - 1;
    return within(job.loaded, given) ? &job.loaded[static_cast<std::size_t>(given)] : nullptr;
}

// Each view's labels, made once for the table shown there: asked one at
// a time, each would split the whole header again (a draw of a wide table
// would cost its columns squared, of a long one its rows times the rows in
// view). Row labels are made as far down as a window has asked. Any change
// of a view's table makes them anew (`changed`).
constexpr std::size_t kViews = 7;
struct ViewLabels {
    uint64_t made = 0;  // the change they were made for; 0 for none
    std::vector<std::string> columns;
    std::vector<std::string> rows;  // the first rows' labels, as many as asked for
};
std::array<ViewLabels, kViews> labels;
std::array<uint64_t, kViews> versions{};
uint64_t changes = 0;
void changed(int index) {
    if (within(versions, index)) versions[static_cast<std::size_t>(index)] = ++changes;
}
void changedAll() {
    for (int v = 0; v < static_cast<int>(kViews); ++v) changed(v);
}
// View `index`'s labels, its rows' made at least down to row `rows`.
ViewLabels* labelsOf(int index, int32_t rows = 0) {
    const Table* t = view(index);
    if (t == nullptr) return nullptr;
    ViewLabels& kept = labels[static_cast<std::size_t>(index)];
    if (kept.made != versions[static_cast<std::size_t>(index)] + 1) {
        kept = ViewLabels{};
        for (const std::string_view label : t->columnLabels()) kept.columns.emplace_back(label);
        kept.made = versions[static_cast<std::size_t>(index)] + 1;
    }
    // Made again from the first row, so twice as far as before: scrolling
    // down a long table costs its labels a few times over, not once per screen.
    const int32_t made = static_cast<int32_t>(kept.rows.size());
    if (made < std::min(rows, t->rowCount())) kept.rows = t->rowLabels(std::max(rows, 2 * made));
    return &kept;
}

// Takes table `i`'s bytes (or why there are none) and loads them once for
// every run; bytes that do not load are kept, for the run to say why.
void setTable(std::size_t i, FileBytes file) {
    changed(kOpened + 1 + static_cast<int>(i));
    job.inputs[i] = std::move(file);
    job.loaded[i].clear();
    job.isLoaded[i] = job.inputs[i].ok() &&
                      job.loaded[i].loadBytes(std::span<const uint8_t>(job.inputs[i].bytes), kTableFiles[i]) == 0;
    // The bytes go once loaded: what an install compares its outputs with stays.
    job.sums[i] = job.isLoaded[i] ? checksumOf(job.inputs[i].bytes) : std::string();
    if (job.isLoaded[i]) std::vector<uint8_t>().swap(job.inputs[i].bytes);
    else job.loaded[i].clear();
}

ScriptWord word;  // the latest word asked for

const char* inputName(std::size_t i) { return i < kTableCount ? kTableFiles[i] : kScriptFiles[i - kTableCount]; }

const char* asText(std::string value) {
    text = std::move(value);
    return text.c_str();
}

// A whole answer in one block, read back by the page in the order it was
// written: numbers as 32-bit little-endian (-1 as all ones), texts as
// their length and then their bytes, up to a NUL (which ends a text
// everywhere), lists as their length and then their items. It stays valid
// until the next answer.
class Packed {
public:
    Packed& number(int64_t value) {
        const auto bits = static_cast<uint32_t>(value);
        for (int shift = 0; shift < 32; shift += 8) bytes_.push_back(static_cast<uint8_t>(bits >> shift));
        return *this;
    }
    Packed& text(std::string_view value) {
        value = value.substr(0, value.find('\0'));
        number(static_cast<int64_t>(value.size()));
        bytes_.insert(bytes_.end(), value.begin(), value.end());
        return *this;
    }
    template <class Items, class Write>
    Packed& list(const Items& items, Write write) {
        number(static_cast<int64_t>(std::size(items)));
        for (const auto& item : items) write(item);
        return *this;
    }
    const uint8_t* data() const { return bytes_.data(); }

private:
    std::vector<uint8_t> bytes_;
};
Packed answer;

// Packs an answer made by `write` into `answer`: where it is, or null
// (hl_error() says why).
template <class Write>
const uint8_t* answered(Write write) {
    return guarded<const uint8_t*>(nullptr, [&] {
        answer = Packed{};
        write(answer);
        return answer.data();
    });
}


// What a dry run of an install will look at in the game folder, asked for
// now, with the tables: the records of the installs there, and the files in
// its override folder that the heads' files would replace.
void lookAhead() {
    std::vector<FileToInstall> files;
    for (const HeadInputs& head : job.heads)
        for (const BroughtFile& file : head.files) files.push_back({file.name, file.bytes, file.from});
    std::ostringstream ignored;
    std::vector<Warning> warnings;
    // What it says now is not wanted: only what it asked to read.
    (void)install({game.name, game.name}, files, {}, "", {true, false, &game.files, {}}, ignored, &warnings);
}

// A count in words, for the page's sentences ("the three outputs").
std::string_view inWords(std::size_t count) {
    constexpr std::array<std::string_view, 11> kWords = {"no",  "one", "two",   "three", "four", "five",
                                                         "six", "seven", "eight", "nine",  "ten"};
    return count < kWords.size() ? kWords[count] : std::string_view("many");
}

// One head's chain of links, for a picture: from the table no link points
// into, each table's rows in the links (its own link cells' rows or, for
// the last, the rows those cells name) to the table they name.
void packChain(Packed& p, const std::string& head, std::size_t h) {
    struct Step {
        std::size_t from;
        int32_t row;
        std::size_t to;
        int32_t toRow;
    };
    std::vector<Step> steps;
    for (const CellMark& mark : job.marks) {
        if (!mark.link || (!job.heads.empty() && mark.head != h)) continue;
        if (const int link = job.links.linkAt(mark.table, mark.column); link >= 0)
            steps.push_back({mark.table, mark.row, tableOf(kLinks[static_cast<std::size_t>(link)].source), mark.target});
    }
    // A table's own link cells' rows or, for the last, the rows they name; once each.
    const auto rowsOf = [&](std::size_t table) {
        const bool own = std::any_of(steps.begin(), steps.end(), [&](const Step& s) { return s.from == table; });
        std::vector<int32_t> rows;
        for (const Step& s : steps) {
            const int32_t row = own ? s.row : s.toRow;
            if ((own ? s.from : s.to) == table && std::find(rows.begin(), rows.end(), row) == rows.end()) rows.push_back(row);
        }
        return rows;
    };
    std::vector<std::size_t> boxes;
    auto first = std::find_if(steps.begin(), steps.end(), [&](const Step& s) {
        return std::none_of(steps.begin(), steps.end(), [&](const Step& o) { return o.to == s.from; });
    });
    for (std::size_t table = first == steps.end() ? kTableCount : first->from;
         table < kTableCount && std::find(boxes.begin(), boxes.end(), table) == boxes.end();) {
        boxes.push_back(table);
        const auto next = std::find_if(steps.begin(), steps.end(), [&](const Step& s) { return s.from == table; });
        table = next == steps.end() ? kTableCount : next->to;
    }
    p.text(head).list(boxes, [&](std::size_t table) {
        p.text(stem(kTableFiles[table])).list(rowsOf(table), [&](int32_t row) {
            p.number(row).text(job.views[table].rowLabel(row));
        });
    });
}

// The lines of a listing, empty ones left out.
std::vector<std::string> linesOf(std::string_view rest) {
    std::vector<std::string> lines;
    while (!rest.empty()) {
        const std::string_view line = rest.substr(0, rest.find('\n'));
        rest.remove_prefix(std::min(rest.size(), line.size() + 1));
        if (!line.empty()) lines.emplace_back(line);
    }
    return lines;
}

// A head of a pack given by paths: its scripts' ("" when not given, in
// run order) and the files it brings.
struct HeadPaths {
    std::array<std::string, kScriptCount> scripts;
    std::vector<std::string> files;
};

// The heads among the paths given, by folder (a map keeps them in byte
// order of their names), and the other folders, which are skipped.
std::map<std::string, HeadPaths> headsAmong(const std::vector<std::string>& paths, std::vector<std::string>* others) {
    const auto steps = [](std::string_view path) {
        std::vector<std::string_view> found;
        for (std::size_t at = 0; at <= path.size();) {
            const std::size_t end = std::min(path.find('/', at), path.size());
            found.push_back(path.substr(at, end - at));
            at = end + 1;
        }
        return found;
    };
    std::map<std::string, HeadPaths> heads;
    std::set<std::string, std::less<>> folders;
    for (const std::string& path : paths) {
        const auto step = steps(path);
        if (step.size() < 2) continue;
        folders.emplace(step[0]);
        for (std::size_t s = 0; s < kScriptCount && step.size() == 2; ++s)
            if (step[1] == kScriptFiles[s]) heads[std::string(step[0])].scripts[s] = path;
    }
    for (const std::string& path : paths) {
        const auto step = steps(path);
        const auto head = step.size() >= 3 ? heads.find(std::string(step[0])) : heads.end();
        if (head != heads.end() && sameText(step[1], "override")) head->second.files.push_back(path);
    }
    for (auto& head : heads) std::sort(head.second.files.begin(), head.second.files.end());
    for (const std::string& folder : folders)
        if (!heads.empty() && heads.count(folder) == 0) others->push_back(folder);
    return heads;
}

// A head of a pack, named for its folder; its scripts are missing until given.
void addHead(const std::string& name) {
    job.heads.push_back({name, {}, {}});
    for (std::size_t i = 0; i < kScriptCount; ++i) job.heads.back().scripts[i].result = missingFile(kScriptFiles[i]);
}

// 0, 1, ... n - 1, for lists that write an item by its index.
template <std::size_t N>
constexpr std::array<std::size_t, N> indices() {
    std::array<std::size_t, N> all{};
    for (std::size_t i = 0; i < N; ++i) all[i] = i;
    return all;
}

// The links of the tables as given (those not given keep their links'
// fixed columns), found again only when one of them changed: a grid asks
// at every draw, and finding them splits each table's header.
const LinkColumns& givenLinks() {
    static std::array<uint64_t, kTableCount> made{};
    static LinkColumns links;
    std::array<uint64_t, kTableCount> now{};
    for (std::size_t i = 0; i < kTableCount; ++i) now[i] = versions[kOpened + 1 + i] + 1;
    if (now != made) {
        std::array<const Table*, kTableCount> given{};
        for (std::size_t i = 0; i < kTableCount; ++i) given[i] = job.isLoaded[i] ? &job.loaded[i] : nullptr;
        links = LinkColumns(given);
        made = now;
    }
    return links;
}

}  // namespace

extern "C" {

// Why the latest call failed ("not enough memory"), or "" when it worked.
EMSCRIPTEN_KEEPALIVE const char* hl_error() { return error; }

// The job's facts, for the page to name and count what the engine knows:
// the inputs' names (the tables in load order, then the scripts in run
// order) and how many are tables; the outputs' names; each table's title
// ("heads"); the table each script edits; the first view of the outputs, of an
// opened table and of the tables as given; the names of a script word's
// roles (hl_word_at's numbers); the forms hl_export writes and the end of
// such a file's name; how an empty cell is spelled; and the number of
// inputs and outputs in words.
EMSCRIPTEN_KEEPALIVE const uint8_t* hl_facts() {
    return answered([](Packed& p) {
        p.list(indices<kInputs>(), [&](std::size_t i) { p.text(inputName(i)); }).number(kTableCount);
        p.list(kOutputFiles, [&](const char* name) { p.text(name); });
        p.list(kTableFiles, [&](const char* name) { p.text(stem(name)); });
        p.list(indices<kScriptCount>(), [&](std::size_t s) { p.number(tableOf(static_cast<ScriptId>(s))); });
        p.number(0).number(kOpened).number(kOpened + 1);
        constexpr std::array<std::string_view, 6> kRoles = {"template row", "key column", "key value",
                                                            "column",       "value",      "note"};
        p.list(kRoles, [&](std::string_view role) { p.text(role); });
        constexpr std::array<std::array<std::string_view, 2>, 3> kExports = {
            {{"text", "_text.2da"}, {"csv", ".csv"}, {"binary", "_binary.2da"}}};
        p.list(kExports, [&](const auto& form) { p.text(form[0]).text(form[1]); });
        p.text(kEmptyCell).text(inWords(kInputs)).text(inWords(kTableCount));
    });
}

// What to read of the files the user gave, named by their paths below what
// was picked or dropped, one a line ("heads.2da", "moonveil/head.txt"),
// with the heads of a pack found as the program finds them: each folder
// holding any of the five scripts is a head, run in byte order of the
// folders' names; its `override` folder (any letter case) holds the files
// it brings; the other folders are skipped. Answers each table's path (""
// when not given), then the heads (without a pack, one named "" with the
// five scripts), each with its scripts' paths ("" when not given) and the
// files it brings, in byte order; then whether it is a pack. The job is
// not touched: the page reads the files first.
EMSCRIPTEN_KEEPALIVE const uint8_t* hl_pack_plan(const char* listing) {
    return answered([&](Packed& p) {
        const std::vector<std::string> names = linesOf(listing);
        const auto given = [&](std::string_view path) {
            return std::find(names.begin(), names.end(), path) != names.end() ? std::string(path) : std::string();
        };
        std::vector<std::string> skipped;
        std::map<std::string, HeadPaths> heads = headsAmong(names, &skipped);
        for (const char* name : kTableFiles) p.text(given(name));
        const bool pack = !heads.empty();
        if (!pack) {
            HeadPaths own;
            for (std::size_t s = 0; s < kScriptCount; ++s) own.scripts[s] = given(kScriptFiles[s]);
            heads.emplace("", own);
        }
        p.list(heads, [&](const auto& head) {
            p.text(head.first);
            for (const std::string& path : head.second.scripts) p.text(path);
            p.list(head.second.files, [&](const std::string& path) { p.text(path); });
        });
        p.number(pack ? 1 : 0);
    });
}

// Starts a job on those files (the same listing): forgets the last job
// (never the opened table), takes the names for the hints, and adds the
// heads of a pack in hl_pack_plan's order, each with its scripts missing
// until given, and the folders skipped, as the report says them. 0 when
// it worked.
EMSCRIPTEN_KEEPALIVE int hl_pack_begin(const char* listing) {
    return guarded(1, [&] {
        job = Job{};
        changedAll();
        job.names = linesOf(listing);
        std::vector<std::string> skipped;
        for (const auto& head : headsAmong(job.names, &skipped)) addHead(head.first);
        for (const std::string& folder : skipped) job.notes.push_back(skippedNote(folder));
        return 0;
    });
}

// Input `index` (the three tables in load order, then the five scripts in
// run order): `size` bytes at `data`, or missing when `size` is negative.
// 0 when it is taken.
EMSCRIPTEN_KEEPALIVE int hl_set_input(int index, const uint8_t* data, int size) {
    return guarded(1, [&] {
        if (!within(job.inputs, index)) return 1;
        FileBytes file;
        if (size < 0)
            file.result = missingFile(inputName(static_cast<std::size_t>(index)));
        else
            file.bytes.assign(data, data + size);
        if (index < static_cast<int>(kTableCount)) {
            setTable(static_cast<std::size_t>(index), std::move(file));
            job.sources[static_cast<std::size_t>(index)].clear();
        } else {
            job.inputs[static_cast<std::size_t>(index)] = std::move(file);
        }
        return 0;
    });
}

// The names given that differ from input `index`'s only in letter case or by
// more extensions, one per line.
EMSCRIPTEN_KEEPALIVE const char* hl_near_misses(int index) {
    return guarded("", [&] {
        std::string lines;
        for (const std::string& name : nearMisses(within(job.inputs, index) ? inputName(static_cast<std::size_t>(index)) : "", job.names)) lines += name + "\n";
        return asText(std::move(lines));
    });
}

// Script `script` (in run order) of head `head`: `size` bytes at `data`,
// or missing when `size` is negative.
EMSCRIPTEN_KEEPALIVE int hl_set_head_script(int head, int script, const uint8_t* data, int size) {
    return guarded(1, [&] {
        if (!within(job.heads, head) || script < 0 || script >= static_cast<int>(kScriptCount)) return 1;
        FileBytes& file = job.heads[static_cast<std::size_t>(head)].scripts[static_cast<std::size_t>(script)];
        file = FileBytes{};
        if (size < 0)
            file.result = missingFile(kScriptFiles[static_cast<std::size_t>(script)]);
        else
            file.bytes.assign(data, data + size);
        return 0;
    });
}

// A file head `head` brings for the game's override folder: `path` is
// where it lies ("moonveil/override/hd.mdl"); a deeper one lies in a
// folder there, which is refused as the program refuses it.
EMSCRIPTEN_KEEPALIVE int hl_add_head_file(int head, const char* path, const uint8_t* data, int size) {
    return guarded(1, [&] {
        if (!within(job.heads, head) || size < 0) return 1;
        const std::string from = path;
        const std::size_t second = from.find('/', from.find('/') + 1);
        const std::size_t third = second == std::string::npos ? second : from.find('/', second + 1);
        if (second == std::string::npos) return 1;
        if (third != std::string::npos) {
            const std::string folder = from.substr(0, third);
            if (std::none_of(job.packErrors.begin(), job.packErrors.end(), [&](const Result& r) { return r.file == folder; }))
                job.packErrors.push_back(Result::failure(
                    Status::cannotRead, "is a folder: a head's override folder holds only plain files", folder));
            return 0;
        }
        const std::string name = from.substr(second + 1);
        if (!broughtNameTaken(name, from, &job.packErrors))
            job.heads[static_cast<std::size_t>(head)].files.push_back({name, from, std::vector<uint8_t>(data, data + size)});
        return 0;
    });
}

// Runs the job as `headlink -n` (with `strict`, `headlink -n --strict`)
// would on these inputs; returns its exit status. The tables stay loaded
// in the engine: a run copies them, and its outputs are serialised only
// when asked for.
EMSCRIPTEN_KEEPALIVE int hl_run(int strict) {
    job.out.clear();
    job.err.clear();
    job.outputs = {};
    job.status = 1;  // until the run says otherwise: a failure that escapes it is a failure
    job.worked = false;
    return guarded(1, [&] {
        Options options;
        options.dryRun = true;
        options.strict = strict != 0;
        RunInputs inputs;
        for (std::size_t i = 0; i < kTableCount; ++i) {
            if (job.isLoaded[i]) inputs.loaded[i] = &job.loaded[i];
            else inputs.tables[i] = job.inputs[i];
            inputs.loadedSums[i] = job.sums[i];
        }
        for (std::size_t i = 0; i < kScriptCount; ++i) inputs.scripts[i] = job.inputs[kTableCount + i];
        inputs.heads = job.heads;
        inputs.sources = job.sources;
        inputs.warnings = job.found;
        inputs.notes = job.notes;
        inputs.errors = job.packErrors;
        checkBroughtNames(job.heads, &inputs.errors);
        // Tables from a game folder: the run is `headlink --game DIR -n`,
        // which looks at the folder's installs through its list of files.
        Folder folder;
        folder.path = "the files given";
        folder.names = job.names;
        if (job.fromGame) {
            inputs.resources = job.resources;
            folder.game = options.game = game.name;
            folder.listed = &game.files;
        }
        TextStream out, err;
        const int status = runOnInputs(std::move(inputs), folder, options, out, err, &job.outputs);
        job.out = out.str();
        job.err = err.str();
        job.status = status;
        if (status == 0) {
            job.views = std::move(job.outputs.tables);
            for (int v = 0; v < static_cast<int>(kTableCount); ++v) changed(v);
            for (std::size_t i = 0; i < kTableCount; ++i) job.rowsBefore[i] = job.outputs.growth[i].rowsBefore;
            job.marks = std::move(job.outputs.marks);
            job.links = job.outputs.links;
            for (auto& bytes : job.saved) std::vector<uint8_t>().swap(bytes);
        }
        job.worked = status == 0;
        return status;
    });
}

// The last run's whole answer: its exit status, whether it worked, how
// many warnings it gave, what it printed on standard output (the report)
// and standard error, the heads by name; each warning and failure as
// printed, with its line (0: none), whether it is a warning, and the head
// and script it is about (-1: none); then, from the last run that worked,
// each output's rows, rows before the run and columns, the cells it
// changed (table, row, column, whether a link cell, head) and the chain of
// links of each head (one without a pack): the head's name, then from
// table to table the title and the rows with their labels.
EMSCRIPTEN_KEEPALIVE const uint8_t* hl_run_answer() {
    return answered([](Packed& p) {
        p.number(job.status).number(job.worked ? 1 : 0).number(static_cast<int64_t>(job.outputs.warnings));
        p.text(job.out).text(job.err);
        p.list(job.heads, [&](const HeadInputs& head) { p.text(head.name); });
        p.list(job.outputs.said, [&](const Said& said) {
            p.text(said.text).number(said.line).number(said.warning ? 1 : 0).number(said.head).number(said.script);
        });
        p.list(indices<kTableCount>(), [&](std::size_t i) {
            p.number(job.views[i].rowCount()).number(job.rowsBefore[i]).number(job.views[i].columnCount());
        });
        p.list(job.marks, [&](const CellMark& mark) {
            p.number(mark.table).number(mark.row).number(mark.column).number(mark.link ? 1 : 0).number(static_cast<int64_t>(mark.head));
        });
        p.number(static_cast<int64_t>(std::max<std::size_t>(job.heads.size(), 1)));
        if (job.heads.empty()) packChain(p, "", 0);
        for (std::size_t h = 0; h < job.heads.size(); ++h) packChain(p, job.heads[h].name, h);
    });
}

// Output `index` of the last run that worked (in the tables' order): its
// size (0 after a failure), then its bytes, made when first asked for.
EMSCRIPTEN_KEEPALIVE int hl_output_size(int index) {
    return guarded(0, [&] {
        if (!job.worked || !within(job.views, index)) return 0;
        std::vector<uint8_t>& bytes = job.saved[static_cast<std::size_t>(index)];
        if (bytes.empty()) bytes = job.views[static_cast<std::size_t>(index)].bytes();
        return static_cast<int>(bytes.size());
    });
}
EMSCRIPTEN_KEEPALIVE const uint8_t* hl_output(int index) {
    return within(job.saved, index) ? job.saved[static_cast<std::size_t>(index)].data() : nullptr;
}

// What is at byte `offset` of the script in `data` (`size` bytes), as a
// run reads it: the word's role (0 template row, 1 key column, 2 key value,
// 3 a pair's column, 4 a pair's value, 5 the note after the pairs).
// Between words it is the role a word typed there would take.
// hl_word_begin/end give the word's bytes (equal when there is none),
// hl_word_number its number as a run reads it (hl_word_has_number says
// whether it is one).
EMSCRIPTEN_KEEPALIVE int hl_word_at(const uint8_t* data, int size, int offset) {
    return guarded(-1, [&] {
        if (size < 0 || offset < 0) return -1;
        word = scriptWordAt(std::span<const uint8_t>(data, static_cast<std::size_t>(size)), static_cast<std::size_t>(offset));
        return static_cast<int>(word.role);
    });
}
// The first word of `role` in that script: its role, or -1 when none.
EMSCRIPTEN_KEEPALIVE int hl_word_first(const uint8_t* data, int size, int role) {
    return guarded(-1, [&] {
        if (size < 0 || role < 0 || role > static_cast<int>(WordRole::note)) return -1;
        const auto found = firstScriptWord(std::span<const uint8_t>(data, static_cast<std::size_t>(size)),
                                           static_cast<WordRole>(role));
        if (!found) return -1;
        word = *found;
        return role;
    });
}
EMSCRIPTEN_KEEPALIVE int hl_word_begin() { return static_cast<int>(word.begin); }
EMSCRIPTEN_KEEPALIVE int hl_word_end() { return static_cast<int>(word.end); }
EMSCRIPTEN_KEEPALIVE int hl_word_has_number() { return word.number ? 1 : 0; }
EMSCRIPTEN_KEEPALIVE int hl_word_number() { return word.number.value_or(0); }

// A game folder picked in the page, named `name`: `listing` holds the
// path of each of its files, a line each, below the folder with '/'
// between steps. Neither sizes nor bytes: hl_game_read asks for those of
// the few files it reads.
EMSCRIPTEN_KEEPALIVE int hl_game_begin(const char* name, const char* listing) {
    return guarded(1, [&] {
        game = GameFolder{};
        game.name = name;
        for (std::string& path : linesOf(listing)) game.files.add(std::move(path));
        return 0;
    });
}

// Reads the three tables from the game folder as `headlink --game` does.
// Returns how many sizes and slices of its files it still needs (read
// them, hand each in with hl_game_give_size or hl_game_give, and call
// again), or 0 when done: the tables (or why each could not be read) are
// then the job's, with where each came from for the report. -1 when
// memory runs out.
EMSCRIPTEN_KEEPALIVE int hl_game_read() {
    return guarded(-1, [&] {
        game.files.clearNeeds();
        game.needs.clear();
        Game folder(game.name, game.files);
        RunInputs read;
        readFromGame(folder, &read);
        // What the game can load is read in the same passes: the key file
        // (already asked for) and each texture pack's header and key list.
        readResources(folder, &read);
        lookAhead();
        for (const ListedGameFiles::Need& need : game.files.needs())
            if (std::find(game.needs.begin(), game.needs.end(), need) == game.needs.end()) game.needs.push_back(need);
        if (!game.needs.empty()) return static_cast<int>(game.needs.size());
        for (std::size_t i = 0; i < kTableCount; ++i) setTable(i, std::move(read.tables[i]));
        job.sources = std::move(read.sources);
        job.found = std::move(read.warnings);
        job.resources = std::move(read.resources);
        job.fromGame = true;
        return 0;
    });
}
// Need `i` of hl_game_read: its file's path, and the slice's offset and
// size; a size of -1 asks for the file's size instead.
EMSCRIPTEN_KEEPALIVE const char* hl_game_need_path(int i) {
    return within(game.needs, i) ? game.needs[static_cast<std::size_t>(i)].path.c_str() : "";
}
EMSCRIPTEN_KEEPALIVE double hl_game_need_offset(int i) {
    return within(game.needs, i) ? static_cast<double>(game.needs[static_cast<std::size_t>(i)].offset) : 0;
}
EMSCRIPTEN_KEEPALIVE int hl_game_need_size(int i) {
    if (!within(game.needs, i)) return 0;
    const ListedGameFiles::Need& need = game.needs[static_cast<std::size_t>(i)];
    return need.fileSize ? -1 : static_cast<int>(need.size);
}
// The size of the file need `i` names.
EMSCRIPTEN_KEEPALIVE int hl_game_give_size(int i, double size) {
    return guarded(1, [&] {
        // Written so that NaN fails it too.
        if (!within(game.needs, i) || !(size >= 0 && size < 9.0e15)) return 1;
        game.files.giveSize(game.needs[static_cast<std::size_t>(i)].path, static_cast<uint64_t>(size));
        return 0;
    });
}
// The bytes of slice `i`.
EMSCRIPTEN_KEEPALIVE int hl_game_give(int i, const uint8_t* data, int size) {
    return guarded(1, [&] {
        if (!within(game.needs, i) || size < 0) return 1;
        const ListedGameFiles::Need& need = game.needs[static_cast<std::size_t>(i)];
        game.files.give(need.path, need.offset, need.size, std::vector<uint8_t>(data, data + size));
        return 0;
    });
}
// Where table `index` came from in the game folder ("override/heads.2da"), or "".
EMSCRIPTEN_KEEPALIVE const char* hl_table_source(int index) {
    return within(job.sources, index) ? job.sources[static_cast<std::size_t>(index)].c_str() : "";
}

// Opens a table on its own (either form, as twoda reads it) as view 3:
// 0 when it loads. hl_check() gives `twoda check`'s verdict on it.
EMSCRIPTEN_KEEPALIVE int hl_open(const uint8_t* data, int size, const char* name) {
    opened = Opened{};
    return guarded(1, [&] {
        const std::vector<uint8_t> bytes(data, data + (size > 0 ? size : 0));
        TextStream check, notes;
        checkEitherForm(bytes, name, check);
        opened.check = check.str();
        changed(kOpened);
        const Result loaded = loadEitherForm(bytes, name, &opened.table, notes, std::string(name) + ": ");
        return loaded ? 0 : 1;
    });
}
EMSCRIPTEN_KEEPALIVE const char* hl_check() { return opened.check.c_str(); }

// Where the links go in the tables as given, in words, for the page's
// help; before any is given, the rule.
EMSCRIPTEN_KEEPALIVE const char* hl_link_sentence() {
    return guarded("", [] {
        const LinkColumns links = givenLinks();
        const bool given = std::find(job.isLoaded.begin(), job.isLoaded.end(), true) != job.isLoaded.end();
        return asText(linkSentence(given ? &links : nullptr));
    });
}

// Rows r0..r1 and columns c0..c1 of view `v` (as far as the table goes),
// for a grid to draw at once: the table's rows, columns and rows before
// the run (all of them but for an output), the window as cut to the
// table, its column labels and each column's link (the script whose row
// it gets, -1 for none), then row by row its label and each cell: its
// text, its mark (0 none, 1 set by a script, 2 a link cell) and, when
// marked, the text it held before.
EMSCRIPTEN_KEEPALIVE const uint8_t* hl_view_window(int v, int r0, int r1, int c0, int c1) {
    return answered([&](Packed& p) {
        const Table* t = view(v);
        const int32_t rows = t ? t->rowCount() : 0, columns = t ? t->columnCount() : 0;
        r1 = std::clamp(r1, 0, rows), c1 = std::clamp(c1, 0, columns);
        r0 = std::clamp(r0, 0, r1), c0 = std::clamp(c0, 0, c1);
        const bool output = within(job.views, v);
        p.number(rows).number(columns).number(output ? job.rowsBefore[static_cast<std::size_t>(v)] : rows);
        p.number(r0).number(r1).number(c0).number(c1);
        const ViewLabels* kept = labelsOf(v, r1);
        for (int c = c0; c < c1; ++c) p.text(kept->columns[static_cast<std::size_t>(c)]);
        // Each column's link: the script whose row it gets (-1: none); a
        // table opened on its own has none.
        const int given = v - kOpened - 1;
        const std::size_t table = output ? static_cast<std::size_t>(v) : static_cast<std::size_t>(given);
        const LinkColumns& links = output ? job.links : givenLinks();
        for (int c = c0; c < c1; ++c) {
            const int link = v == kOpened || t == nullptr ? -1 : links.linkAt(table, c);
            p.number(link < 0 ? -1 : static_cast<int>(kLinks[static_cast<std::size_t>(link)].source));
        }
        // The marks in the window: a link cell's mark over a script's, else the latest.
        std::vector<const CellMark*> marks;
        for (const CellMark& mark : job.marks)
            if (output && static_cast<int>(mark.table) == v && mark.row >= r0 && mark.row < r1 && mark.column >= c0 && mark.column < c1)
                marks.push_back(&mark);
        for (int r = r0; r < r1; ++r) {
            p.text(kept->rows[static_cast<std::size_t>(r)]);
            for (int c = c0; c < c1; ++c) {
                const CellMark* mark = nullptr;
                for (const CellMark* m : marks)
                    if (m->row == r && m->column == c && !(mark && mark->link)) mark = m;
                p.text(t->cellText(r, c)).number(mark == nullptr ? 0 : mark->link ? 2 : 1);
                if (mark != nullptr) p.text(mark->was);
            }
        }
    });
}

// View `v` as the text form (0), CSV (1) or binary (2), as `twoda text`,
// `csv` and `build` give it: its size, then its bytes (empty when the text
// form cannot hold it).
EMSCRIPTEN_KEEPALIVE int hl_export(int v, int kind) {
    exported.clear();
    return guarded(0, [&] {
        const Table* t = view(v);
        if (!t || kind < 0 || kind > 2 || t->columnCount() + t->rowCount() == 0) return 0;
        if (kind == 2) {
            exported = t->bytes();
        } else {
            TextStream out;
            if (kind == 1) writeCsv(*t, out);
            else if (!writeTextForm(*t, out)) return 0;
            const std::string form = out.str();
            exported.assign(form.begin(), form.end());
        }
        return static_cast<int>(exported.size());
    });
}
EMSCRIPTEN_KEEPALIVE const uint8_t* hl_exported() { return exported.data(); }

}  // extern "C"
