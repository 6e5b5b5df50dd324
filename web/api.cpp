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
#include <new>
#include <sstream>
#include <string>
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
    std::vector<std::string> names;  // every file the user gave, for the hints
    std::string out, err;
    RunOutcome outputs;  // of the last run (its tables moved to `views` when it worked)
    bool worked = false;
    std::array<Table, kTableCount> views;  // the outputs of the last run that worked
    std::array<int32_t, kTableCount> rowsBefore{};
    std::vector<CellMark> marks;
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

// Each view's column labels, made once for the table shown there: asked
// one at a time, each would split the whole header again (an editor's list
// of a wide table's columns cost their number squared). Any change of a
// view's table makes them anew (`changed`).
struct ViewLabels {
    uint64_t made = 0;  // the change they were made for; 0 for none
    std::vector<std::string> columns;
};
std::array<ViewLabels, 7> labels;
uint64_t changes = 1;
void changed() { ++changes; }
const ViewLabels* labelsOf(int index) {
    const Table* t = view(index);
    if (t == nullptr) return nullptr;
    ViewLabels& kept = labels[static_cast<std::size_t>(index)];
    if (kept.made != changes) {
        kept = ViewLabels{};
        for (const std::string_view label : t->columnLabels()) kept.columns.emplace_back(label);
        kept.made = changes;
    }
    return &kept;
}

// Takes table `i`'s bytes (or why there are none) and loads them once for
// every run; bytes that do not load are kept, for the run to say why.
void setTable(std::size_t i, FileBytes file) {
    changed();
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

const CellMark* mark(int i) { return within(job.marks, i) ? &job.marks[static_cast<std::size_t>(i)] : nullptr; }

const Link* link(int i) { return within(kLinks, i) ? &kLinks[static_cast<std::size_t>(i)] : nullptr; }

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
    (void)install({game.name, game.name}, files, {}, "", {true, false, &game.files}, ignored, &warnings);
}

}  // namespace

extern "C" {

// Why the latest call failed ("not enough memory"), or "" when it worked.
EMSCRIPTEN_KEEPALIVE const char* hl_error() { return error; }

// Forgets the job's inputs, names and results (never the opened table).
EMSCRIPTEN_KEEPALIVE void hl_job_clear() {
    job = Job{};
    changed();
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

// The name of input `index` ("appearance.2da", ...), and how many there are.
EMSCRIPTEN_KEEPALIVE const char* hl_input_name(int index) {
    return within(job.inputs, index) ? inputName(static_cast<std::size_t>(index)) : "";
}
EMSCRIPTEN_KEEPALIVE int hl_input_count() { return static_cast<int>(kInputs); }

// A name the user gave, for the hints a missing input gets.
EMSCRIPTEN_KEEPALIVE int hl_add_name(const char* name) {
    return guarded(1, [&] {
        job.names.emplace_back(name);
        return 0;
    });
}

// The names given that differ from input `index`'s only in letter case or by
// more extensions, one per line.
EMSCRIPTEN_KEEPALIVE const char* hl_near_misses(int index) {
    return guarded("", [&] {
        std::string lines;
        for (const std::string& name : nearMisses(hl_input_name(index), job.names)) lines += name + "\n";
        return asText(std::move(lines));
    });
}

// A head of a pack, named for its folder: its index, or -1. Its scripts
// are missing until given; with any head, the job runs the heads in the
// order added instead of the five scripts.
EMSCRIPTEN_KEEPALIVE int hl_add_head(const char* name) {
    return guarded(-1, [&] {
        job.heads.push_back({name, {}, {}});
        for (std::size_t i = 0; i < kScriptCount; ++i)
            job.heads.back().scripts[i].result =
                missingFile(kScriptFiles[i]);
        return static_cast<int>(job.heads.size()) - 1;
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

// A folder of the pack that holds none of the five scripts, as the
// program's report says it.
EMSCRIPTEN_KEEPALIVE int hl_skip_folder(const char* name) {
    return guarded(1, [&] {
        job.notes.push_back(skippedNote(name));
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

// The heads of the job, by name.
EMSCRIPTEN_KEEPALIVE int hl_head_count() { return static_cast<int>(job.heads.size()); }
EMSCRIPTEN_KEEPALIVE const char* hl_head_name(int head) {
    return within(job.heads, head) ? job.heads[static_cast<std::size_t>(head)].name.c_str() : "";
}

// Runs the job as `headlink -n` (with `strict`, `headlink -n --strict`)
// would on these inputs; returns its exit status. The tables stay loaded
// in the engine: a run copies them, and its outputs are serialised only
// when asked for.
EMSCRIPTEN_KEEPALIVE int hl_run(int strict) {
    job.out.clear();
    job.err.clear();
    job.outputs = {};
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
        Folder folder{"the files given", job.names, {}};
        if (job.fromGame) {
            folder.game = options.game = game.name;
            folder.listed = &game.files;
        }
        TextStream out, err;
        const int status = runOnInputs(std::move(inputs), folder, options, out, err, &job.outputs);
        job.out = out.str();
        job.err = err.str();
        if (status == 0) {
            job.views = std::move(job.outputs.tables);
            changed();
            for (std::size_t i = 0; i < kTableCount; ++i) job.rowsBefore[i] = job.outputs.growth[i].rowsBefore;
            job.marks = std::move(job.outputs.marks);
            for (auto& bytes : job.saved) std::vector<uint8_t>().swap(bytes);
        }
        job.worked = status == 0;
        return status;
    });
}

// How many warnings the last run gave, whether it worked or not.
EMSCRIPTEN_KEEPALIVE int hl_warning_count() { return static_cast<int>(job.outputs.warnings); }

// What the run printed on standard output (the report) and standard error.
EMSCRIPTEN_KEEPALIVE const char* hl_stdout() { return job.out.c_str(); }
EMSCRIPTEN_KEEPALIVE const char* hl_stderr() { return job.err.c_str(); }

// The outputs, in the tables' order: how many, and for output `index` of
// the last run, when it worked, its name, size and bytes (size 0 after a
// failure). The bytes are made when first asked for.
EMSCRIPTEN_KEEPALIVE int hl_output_count() { return static_cast<int>(kTableCount); }
EMSCRIPTEN_KEEPALIVE const char* hl_output_name(int index) {
    return within(kOutputFiles, index) ? kOutputFiles[static_cast<std::size_t>(index)] : "";
}
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
// The rows output `index` had before the run (the rows after them were added).
EMSCRIPTEN_KEEPALIVE int hl_output_rows_before(int index) {
    return within(job.rowsBefore, index) ? job.rowsBefore[static_cast<std::size_t>(index)] : 0;
}
// Whether the last run worked: when not, views 0-2 and the marks are
// still those of the last run that did.
EMSCRIPTEN_KEEPALIVE int hl_worked() { return job.worked ? 1 : 0; }

// Every warning and failure of the last run, as printed: how many, and for
// each its text, its line (0: none), whether it is a warning (not a
// failure), and the head (-1: not of a pack's head) and script (-1: none)
// it is about.
EMSCRIPTEN_KEEPALIVE int hl_said_count() { return static_cast<int>(job.outputs.said.size()); }
EMSCRIPTEN_KEEPALIVE const char* hl_said_text(int i) {
    return within(job.outputs.said, i) ? job.outputs.said[static_cast<std::size_t>(i)].text.c_str() : "";
}
EMSCRIPTEN_KEEPALIVE int hl_said_line(int i) {
    return within(job.outputs.said, i) ? job.outputs.said[static_cast<std::size_t>(i)].line : 0;
}
EMSCRIPTEN_KEEPALIVE int hl_said_warning(int i) {
    return within(job.outputs.said, i) && job.outputs.said[static_cast<std::size_t>(i)].warning ? 1 : 0;
}
EMSCRIPTEN_KEEPALIVE int hl_said_head(int i) {
    return within(job.outputs.said, i) ? job.outputs.said[static_cast<std::size_t>(i)].head : -1;
}
EMSCRIPTEN_KEEPALIVE int hl_said_script(int i) {
    return within(job.outputs.said, i) ? job.outputs.said[static_cast<std::size_t>(i)].script : -1;
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

// A game folder picked in the page, named `name`: `listing` holds a line
// "SIZE<tab>PATH" for each of its files, PATH below the folder with '/'
// between steps. Its bytes are read only as hl_game_read asks for them.
EMSCRIPTEN_KEEPALIVE int hl_game_begin(const char* name, const char* listing) {
    return guarded(1, [&] {
        game = GameFolder{};
        game.name = name;
        std::string_view rest(listing);
        while (!rest.empty()) {
            const std::string_view line = rest.substr(0, rest.find('\n'));
            rest.remove_prefix(std::min(rest.size(), line.size() + 1));
            const std::size_t tab = line.find('\t');
            if (tab == std::string_view::npos || tab + 1 >= line.size()) continue;
            uint64_t size = 0;
            const std::string_view digits = line.substr(0, tab);
            if (digits.find_first_not_of("0123456789") != std::string_view::npos || digits.size() > 15) continue;
            for (const char c : digits) size = size * 10 + static_cast<uint64_t>(c - '0');
            game.files.add(std::string(line.substr(tab + 1)), size);
        }
        return 0;
    });
}

// Reads the three tables from the game folder as `headlink --game` does.
// Returns how many slices of its files it still needs (read them, hand
// each in with hl_game_give, and call again), or 0 when done: the tables
// (or why each could not be read) are then the job's, with where each came
// from for the report. -1 when memory runs out.
EMSCRIPTEN_KEEPALIVE int hl_game_read() {
    return guarded(-1, [&] {
        game.files.clearNeeds();
        game.needs.clear();
        Game folder(game.name, game.files);
        RunInputs read;
        readFromGame(folder, &read);
        lookAhead();
        for (const ListedGameFiles::Need& need : game.files.needs())
            if (std::none_of(game.needs.begin(), game.needs.end(), [&](const ListedGameFiles::Need& n) {
                    return n.path == need.path && n.offset == need.offset && n.size == need.size;
                }))
                game.needs.push_back(need);
        if (!game.needs.empty()) return static_cast<int>(game.needs.size());
        for (std::size_t i = 0; i < kTableCount; ++i) setTable(i, std::move(read.tables[i]));
        job.sources = std::move(read.sources);
        job.found = std::move(read.warnings);
        job.fromGame = true;
        return 0;
    });
}
// Slice `i` that hl_game_read needs: its file's path, offset and size.
EMSCRIPTEN_KEEPALIVE const char* hl_game_need_path(int i) {
    return within(game.needs, i) ? game.needs[static_cast<std::size_t>(i)].path.c_str() : "";
}
EMSCRIPTEN_KEEPALIVE double hl_game_need_offset(int i) {
    return within(game.needs, i) ? static_cast<double>(game.needs[static_cast<std::size_t>(i)].offset) : 0;
}
EMSCRIPTEN_KEEPALIVE int hl_game_need_size(int i) {
    return within(game.needs, i) ? static_cast<int>(game.needs[static_cast<std::size_t>(i)].size) : 0;
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

// Table `index`'s name without ".2da" ("heads"), as the report names it.
EMSCRIPTEN_KEEPALIVE const char* hl_table_title(int index) {
    return guarded("", [&] {
        return asText(within(kTableFiles, index) ? std::string(stem(kTableFiles[static_cast<std::size_t>(index)]))
                                                 : std::string());
    });
}

// The cells the last run that worked changed: how many, and for each its table (an
// output's index), row, column, whether it is a link cell, and its old
// text; -1 (or "") for an index out of range.
EMSCRIPTEN_KEEPALIVE int hl_mark_count() { return static_cast<int>(job.marks.size()); }
EMSCRIPTEN_KEEPALIVE int hl_mark_table(int i) { return mark(i) ? static_cast<int>(mark(i)->table) : -1; }
EMSCRIPTEN_KEEPALIVE int hl_mark_row(int i) { return mark(i) ? mark(i)->row : -1; }
EMSCRIPTEN_KEEPALIVE int hl_mark_column(int i) { return mark(i) ? mark(i)->column : -1; }
EMSCRIPTEN_KEEPALIVE int hl_mark_link(int i) { return mark(i) && mark(i)->link ? 1 : 0; }
EMSCRIPTEN_KEEPALIVE const char* hl_mark_was(int i) { return mark(i) ? mark(i)->was.c_str() : ""; }
EMSCRIPTEN_KEEPALIVE int hl_mark_head(int i) { return mark(i) ? static_cast<int>(mark(i)->head) : -1; }

// The table script `i` (in run order) edits, in load order; -1 out of range.
EMSCRIPTEN_KEEPALIVE int hl_script_table(int i) {
    return within(kScriptFiles, i) ? static_cast<int>(tableOf(static_cast<ScriptId>(i))) : -1;
}

// The link cells every run writes: how many, and for each the table whose
// cell it is, its column, and the table whose row number it holds; -1 for
// an index out of range.
EMSCRIPTEN_KEEPALIVE int hl_link_count() { return static_cast<int>(kLinks.size()); }
EMSCRIPTEN_KEEPALIVE int hl_link_table(int i) { return link(i) ? static_cast<int>(link(i)->table) : -1; }
EMSCRIPTEN_KEEPALIVE int hl_link_column(int i) { return link(i) ? link(i)->column : -1; }
EMSCRIPTEN_KEEPALIVE int hl_link_target(int i) { return link(i) ? static_cast<int>(tableOf(link(i)->source)) : -1; }

// Opens a table on its own (either form, as twoda reads it) as view 3:
// 0 when it loads. hl_check() gives `twoda check`'s verdict on it.
EMSCRIPTEN_KEEPALIVE int hl_open(const uint8_t* data, int size, const char* name) {
    opened = Opened{};
    return guarded(1, [&] {
        const std::vector<uint8_t> bytes(data, data + (size > 0 ? size : 0));
        TextStream check, notes;
        checkEitherForm(bytes, name, check);
        opened.check = check.str();
        changed();
        const Result loaded = loadEitherForm(bytes, name, &opened.table, notes, std::string(name) + ": ");
        return loaded ? 0 : 1;
    });
}
EMSCRIPTEN_KEEPALIVE const char* hl_check() { return opened.check.c_str(); }

// A view's shape and texts, read through the table library. Texts are
// NUL-terminated copies: a cell's own NUL ends it, as everywhere.
EMSCRIPTEN_KEEPALIVE int hl_view_rows(int v) { return view(v) ? view(v)->rowCount() : 0; }
EMSCRIPTEN_KEEPALIVE int hl_view_columns(int v) { return view(v) ? view(v)->columnCount() : 0; }
EMSCRIPTEN_KEEPALIVE const char* hl_view_cell(int v, int row, int column) {
    return guarded("", [&] {
        const Table* t = view(v);
        const bool inside = t && row >= 0 && row < t->rowCount() && column >= 0 && column < t->columnCount();
        return asText(inside ? std::string(t->cellText(row, column)) : std::string());
    });
}
EMSCRIPTEN_KEEPALIVE const char* hl_view_column_label(int v, int column) {
    return guarded("", [&] {
        const ViewLabels* kept = labelsOf(v);
        return kept && within(kept->columns, column) ? kept->columns[static_cast<std::size_t>(column)].c_str() : "";
    });
}
EMSCRIPTEN_KEEPALIVE const char* hl_view_row_label(int v, int row) {
    return guarded("", [&] {
        const Table* t = view(v);
        return asText(t && row >= 0 && row < t->rowCount() ? t->rowLabel(row) : std::string());
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
