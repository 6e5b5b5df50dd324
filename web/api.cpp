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
// Each call answers one JSON document, an object whose shape answers.h
// gives; a call that fails (running out of memory, say) answers
// {"error": "why"} instead.
//
// Who owns what:
//  - A buffer handed in (`data`, `name`) stays the caller's: it is copied
//    before the call returns, and the caller frees it, whatever the call
//    answered.
//  - The answer, and bytes an answer points to (an output, an export),
//    are this file's, valid until the next call: the caller parses or
//    copies them at once.
//  - No call lets an exception out.
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
#include "web/answers.h"

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
struct PickedGame {
    std::string name;
    ListedFiles files;
    std::vector<ListedFiles::Need> needs;
};

// A table opened on its own, and `twoda check`'s verdict on it.
struct Opened {
    Table table;
    std::string check;
};

Job job;
Opened opened;
PickedGame game;
std::vector<uint8_t> exported;  // the latest export
std::string answerText;         // the latest answer

// A stream into memory that throws when it cannot grow, rather than
// dropping the rest of its text without a word.
struct TextStream : std::ostringstream {
    TextStream() { exceptions(std::ios::badbit); }
};

constexpr int kOpened = kTableCount;

// {"error": "why"} in a fixed buffer, as there may be no memory left to
// make it in; made while `why` is still alive.
const char* failedWith(const char* why) noexcept {
    static char failed[320];
    std::size_t at = 0;
    for (const char* c = "{\"error\":\""; *c != '\0'; ++c) failed[at++] = *c;
    // Our own reasons: printable ASCII; anything else, and the JSON's own
    // quote and backslash, become a space.
    for (; *why != '\0' && at < sizeof failed - 3; ++why)
        failed[at++] = *why >= ' ' && *why <= '~' && *why != '"' && *why != '\\' ? *why : ' ';
    failed[at++] = '"';
    failed[at++] = '}';
    failed[at] = '\0';
    return failed;
}

// The answer `body` makes, as JSON text; any failure it throws becomes
// {"error": "why"}.
template <class Body>
const char* answered(Body body) noexcept {
    try {
        std::string written;
        page::write(written, body());
        answerText = std::move(written);
        return answerText.c_str();
    } catch (const std::bad_alloc&) {
        return failedWith(kNotEnoughMemory);
    } catch (const std::exception& e) {
        return failedWith(e.what());  // (its text goes with it)
    } catch (...) {
        return failedWith("an unexpected failure");
    }
}

// A text for an answer: up to a NUL, which ends a text everywhere.
std::string textOf(std::string_view value) { return std::string(value.substr(0, value.find('\0'))); }

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

const char* inputName(std::size_t i) { return i < kTableCount ? kTableFiles[i] : kScriptFiles[i - kTableCount]; }

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
page::Chain chainOf(const std::string& head, std::size_t h) {
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
    page::Chain chain{textOf(head), {}};
    for (const std::size_t table : boxes) {
        page::ChainBox& box = chain.boxes.emplace_back(page::ChainBox{std::string(stem(kTableFiles[table])), {}});
        for (const int32_t row : rowsOf(table)) box.rows.push_back({row, textOf(job.views[table].rowLabel(row))});
    }
    return chain;
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

// What a round of reading a game folder reads, in words, by where its
// files are: the key file, the override folder, the texture packs, the
// backups headlink keeps there, or else the archives the key file names.
std::string readingWords(const std::string& name, const std::vector<ListedFiles::Need>& needs) {
    std::vector<std::string_view> parts;
    for (const ListedFiles::Need& need : needs) {
        const GamePart part = partOf(need.path);
        const std::string_view words = part == GamePart::keyFile          ? "its key file"
                                       : part == GamePart::overrideFolder ? "its override folder"
                                       : part == GamePart::texturePacks   ? "its texture packs"
                                       : part == GamePart::backups        ? "the backups headlink keeps there"
                                                                          : "its archives";
        if (std::find(parts.begin(), parts.end(), words) == parts.end()) parts.push_back(words);
    }
    std::string sentence = "Reading the game folder " + name + ": ";
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (i > 0) sentence += " and ";
        sentence += parts[i];
    }
    return sentence + "...";
}

page::Bytes bytesAt(const std::vector<uint8_t>& bytes) { return {reinterpret_cast<uintptr_t>(bytes.data()), bytes.size()}; }

std::optional<page::Word> wordOf(const std::optional<ScriptWord>& word) {
    if (!word) return std::nullopt;
    return page::Word{static_cast<int>(word->role), word->begin, word->end, word->number};
}

// A script's bytes as handed in, or missing when `size` is negative.
FileBytes givenBytes(const uint8_t* data, int size, const char* name) {
    FileBytes file;
    if (size < 0) file.result = missingFile(name);
    else file.bytes.assign(data, data + size);
    return file;
}

}  // namespace

extern "C" {

// The job's facts, for the page to name and count what the engine knows.
EMSCRIPTEN_KEEPALIVE const char* hl_facts() {
    return answered([] {
        page::Facts facts;
        for (std::size_t i = 0; i < kInputs; ++i) facts.inputNames.emplace_back(inputName(i));
        facts.tableNames.assign(std::begin(kTableFiles), std::end(kTableFiles));
        facts.scriptNames.assign(std::begin(kScriptFiles), std::end(kScriptFiles));
        facts.outputNames.assign(std::begin(kOutputFiles), std::end(kOutputFiles));
        for (const char* name : kTableFiles) facts.titles.emplace_back(stem(name));
        for (std::size_t s = 0; s < kScriptCount; ++s)
            facts.scriptTables.push_back(static_cast<int>(tableOf(static_cast<ScriptId>(s))));
        facts.views = {0, kOpened, kOpened + 1};
        facts.roles = {"template row", "key column", "key value", "column", "value", "note"};
        facts.exports = {{"text", "_text.2da"}, {"csv", ".csv"}, {"binary", "_binary.2da"}};
        facts.empty = kEmptyCell;
        facts.words = {std::string(inWords(kInputs)), std::string(inWords(kTableCount))};
        return facts;
    });
}

// What to read of the files the user gave, named by their paths below what
// was picked or dropped, one a line ("heads.2da", "moonveil/head.txt"),
// with the heads of a pack found as the program finds them: each folder
// holding any of the five scripts is a head, run in byte order of the
// folders' names; its `override` folder (any letter case) holds the files
// it brings; the other folders are skipped. The job is not touched: the
// page reads the files first.
EMSCRIPTEN_KEEPALIVE const char* hl_pack_plan(const char* listing) {
    return answered([&] {
        const std::vector<std::string> names = linesOf(listing);
        const auto given = [&](std::string_view path) {
            return std::find(names.begin(), names.end(), path) != names.end() ? std::string(path) : std::string();
        };
        std::vector<std::string> skipped;
        std::map<std::string, HeadPaths> heads = headsAmong(names, &skipped);
        page::PackPlan plan;
        for (const char* name : kTableFiles) plan.tables.push_back(given(name));
        plan.pack = !heads.empty();
        if (!plan.pack) {
            HeadPaths own;
            for (std::size_t s = 0; s < kScriptCount; ++s) own.scripts[s] = given(kScriptFiles[s]);
            heads.emplace("", own);
        }
        for (const auto& [name, paths] : heads)
            plan.heads.push_back({name, {paths.scripts.begin(), paths.scripts.end()}, paths.files});
        return plan;
    });
}

// Starts a job on those files (the same listing): forgets the last job
// (never the opened table), takes the names for the hints, and adds the
// heads of a pack in hl_pack_plan's order, each with its scripts missing
// until given, and the folders skipped, as the report says them.
EMSCRIPTEN_KEEPALIVE const char* hl_pack_begin(const char* listing) {
    return answered([&] {
        job = Job{};
        changedAll();
        job.names = linesOf(listing);
        std::vector<std::string> skipped;
        for (const auto& head : headsAmong(job.names, &skipped)) addHead(head.first);
        for (const std::string& folder : skipped) job.notes.push_back(skippedNote(folder));
        return page::Done{};
    });
}

// Input `index` (the three tables in load order, then the five scripts in
// run order): `size` bytes at `data`, or missing when `size` is negative.
EMSCRIPTEN_KEEPALIVE const char* hl_set_input(int index, const uint8_t* data, int size) {
    return answered([&] {
        if (!within(job.inputs, index)) throw std::out_of_range("no such input");
        const auto i = static_cast<std::size_t>(index);
        FileBytes file = givenBytes(data, size, inputName(i));
        if (i < kTableCount) {
            setTable(i, std::move(file));
            job.sources[i].clear();
        } else {
            job.inputs[i] = std::move(file);
        }
        return page::Done{};
    });
}

// Each input as the checklist names it: the names given that differ from
// it only in letter case or by more extensions, with the program's hint
// for them, and where a game folder's table came from.
EMSCRIPTEN_KEEPALIVE const char* hl_inputs() {
    return answered([] {
        page::Inputs inputs;
        for (std::size_t i = 0; i < kInputs; ++i) {
            page::InputState& input = inputs.inputs.emplace_back();
            input.name = inputName(i);
            input.nearMisses = nearMisses(input.name, job.names);
            if (!input.nearMisses.empty()) input.hint = nearMissHint(input.name, input.nearMisses[0]);
            if (i < kTableCount) input.source = job.sources[i];
        }
        return inputs;
    });
}

// Script `script` (in run order) of head `head`: `size` bytes at `data`,
// or missing when `size` is negative.
EMSCRIPTEN_KEEPALIVE const char* hl_set_head_script(int head, int script, const uint8_t* data, int size) {
    return answered([&] {
        if (!within(job.heads, head) || script < 0 || script >= static_cast<int>(kScriptCount))
            throw std::out_of_range("no such head or script");
        job.heads[static_cast<std::size_t>(head)].scripts[static_cast<std::size_t>(script)] =
            givenBytes(data, size, kScriptFiles[static_cast<std::size_t>(script)]);
        return page::Done{};
    });
}

// A file head `head` brings for the game's override folder: `path` is
// where it lies ("moonveil/override/hd.mdl"); a deeper one lies in a
// folder there, which is refused as the program refuses it.
EMSCRIPTEN_KEEPALIVE const char* hl_add_head_file(int head, const char* path, const uint8_t* data, int size) {
    return answered([&] {
        const std::string from = path;
        const std::size_t second = from.find('/', from.find('/') + 1);
        if (!within(job.heads, head) || size < 0 || second == std::string::npos)
            throw std::out_of_range("no such head, or no file of one");
        const std::size_t third = from.find('/', second + 1);
        if (third != std::string::npos) {
            const std::string folder = from.substr(0, third);
            if (std::none_of(job.packErrors.begin(), job.packErrors.end(), [&](const Result& r) { return r.file == folder; }))
                job.packErrors.push_back(Result::failure(
                    Status::cannotRead, "is a folder: a head's override folder holds only plain files", folder));
        } else if (const std::string name = from.substr(second + 1); !broughtNameTaken(name, from, &job.packErrors)) {
            job.heads[static_cast<std::size_t>(head)].files.push_back({name, from, std::vector<uint8_t>(data, data + size)});
        }
        return page::Done{};
    });
}

// Runs the job as `headlink -n` (with `strict`, `headlink -n --strict`)
// would on these inputs, and answers the whole run: its exit status, what
// it printed, each message with its line, head and script; then, from the
// last run that worked, each output's shape, the cells it changed and the
// chain of links of each head (one without a pack). The tables stay
// loaded in the engine: a run copies them, and its outputs are serialised
// only when asked for.
EMSCRIPTEN_KEEPALIVE const char* hl_run(int strict) {
    job.out.clear();
    job.err.clear();
    job.outputs = {};
    job.status = 1;  // until the run says otherwise: a failure that escapes it is a failure
    job.worked = false;
    return answered([&] {
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
        job.status = runOnInputs(std::move(inputs), folder, options, out, err, &job.outputs);
        job.out = out.str();
        job.err = err.str();
        if (job.status == 0) {
            job.views = std::move(job.outputs.tables);
            for (int v = 0; v < static_cast<int>(kTableCount); ++v) changed(v);
            for (std::size_t i = 0; i < kTableCount; ++i) job.rowsBefore[i] = job.outputs.growth[i].rowsBefore;
            job.marks = std::move(job.outputs.marks);
            job.links = job.outputs.links;
            for (auto& bytes : job.saved) std::vector<uint8_t>().swap(bytes);
        }
        job.worked = job.status == 0;
        page::RunAnswer run;
        run.status = job.status;
        run.worked = job.worked;
        run.warnings = static_cast<int>(job.outputs.scriptWarnings);
        run.out = job.out;
        run.err = job.err;
        for (const HeadInputs& head : job.heads) run.heads.push_back(textOf(head.name));
        // The warnings, then the failures, as the program says them.
        for (const Warning& said : job.outputs.warnings)
            run.said.push_back({textOf(said.describe(job.outputs.warningsAreErrors)), said.line, true, said.head, said.script});
        for (const Result& said : job.outputs.failures)
            run.said.push_back({textOf(said.description()), said.line, false, said.head, said.script});
        for (std::size_t i = 0; i < kTableCount; ++i)
            run.outputs.push_back({job.views[i].rowCount(), job.rowsBefore[i], job.views[i].columnCount()});
        for (const CellMark& mark : job.marks)
            run.marks.push_back({static_cast<int>(mark.table), mark.row, mark.column, mark.link, static_cast<int>(mark.head)});
        if (job.heads.empty()) run.chains.push_back(chainOf("", 0));
        for (std::size_t h = 0; h < job.heads.size(); ++h) run.chains.push_back(chainOf(job.heads[h].name, h));
        return run;
    });
}

// Output `index` of the last run that worked (in the tables' order), made
// when first asked for.
EMSCRIPTEN_KEEPALIVE const char* hl_output(int index) {
    return answered([&] {
        if (!job.worked || !within(job.views, index)) throw std::out_of_range("nothing to save: the last run did not work");
        std::vector<uint8_t>& bytes = job.saved[static_cast<std::size_t>(index)];
        if (bytes.empty()) bytes = job.views[static_cast<std::size_t>(index)].bytes();
        return bytesAt(bytes);
    });
}

// What is at byte `offset` of the script in `data` (`size` bytes), as a
// run reads it (between words, the role a word typed there would take).
EMSCRIPTEN_KEEPALIVE const char* hl_word_at(const uint8_t* data, int size, int offset) {
    return answered([&] {
        page::WordAnswer answer;
        if (size >= 0 && offset >= 0)
            answer.word = wordOf(scriptWordAt(std::span<const uint8_t>(data, static_cast<std::size_t>(size)),
                                              static_cast<std::size_t>(offset)));
        return answer;
    });
}
// The first word of role `role` (an index into the facts' roles) in that script.
EMSCRIPTEN_KEEPALIVE const char* hl_word_first(const uint8_t* data, int size, int role) {
    return answered([&] {
        page::WordAnswer answer;
        if (size >= 0 && role >= 0 && role <= static_cast<int>(WordRole::note))
            answer.word = wordOf(firstScriptWord(std::span<const uint8_t>(data, static_cast<std::size_t>(size)),
                                                 static_cast<WordRole>(role)));
        return answer;
    });
}

// How the script in `data` is encoded, as a run tells it: UTF-16 (which
// the page only shows) or not.
EMSCRIPTEN_KEEPALIVE const char* hl_script_form(const uint8_t* data, int size) {
    return answered([&] {
        const std::string_view order = utf16Order(std::span<const uint8_t>(data, static_cast<std::size_t>(std::max(size, 0))));
        return page::ScriptForm{order.empty() ? "" : order == "little-endian" ? "utf-16le" : "utf-16be"};
    });
}

// A game folder picked in the page, named `name`: `listing` holds the
// path of each of its files, a line each, below the folder with '/'
// between steps. Neither sizes nor bytes: hl_game_read asks for those of
// the few files it reads.
EMSCRIPTEN_KEEPALIVE const char* hl_game_begin(const char* name, const char* listing) {
    return answered([&] {
        game = PickedGame{};
        game.name = name;
        for (std::string& path : linesOf(listing)) game.files.add(std::move(path));
        return page::Done{};
    });
}

// Reads the three tables from the game folder as `headlink --game` does.
// Answers the sizes and slices of its files it still needs (read them,
// hand each in with hl_game_give_size or hl_game_give, and call again),
// or none when done: the tables (or why each could not be read) are then
// the job's, with where each came from for the report.
EMSCRIPTEN_KEEPALIVE const char* hl_game_read() {
    return answered([&] {
        game.files.clearNeeds();
        game.needs.clear();
        Game folder(game.name, game.files);
        RunInputs read;
        readFromGame(folder, &read);
        // What the game can load is read in the same passes: the key file
        // (already asked for) and each texture pack's header and key list.
        readResources(folder, &read);
        lookAhead();
        for (const ListedFiles::Need& need : game.files.needs())
            if (std::find(game.needs.begin(), game.needs.end(), need) == game.needs.end()) game.needs.push_back(need);
        page::GameRead answer;
        if (!game.needs.empty()) {
            for (const ListedFiles::Need& need : game.needs)
                answer.needs.push_back({need.path, need.offset,
                                        need.fileSize ? -1 : static_cast<long long>(need.size)});
            answer.reading = readingWords(game.name, game.needs);
            return answer;
        }
        for (std::size_t i = 0; i < kTableCount; ++i) setTable(i, std::move(read.tables[i]));
        job.sources = std::move(read.sources);
        job.found = std::move(read.warnings);
        job.resources = std::move(read.resources);
        job.fromGame = true;
        return answer;
    });
}
// The size of the file need `i` of hl_game_read names.
EMSCRIPTEN_KEEPALIVE const char* hl_game_give_size(int i, double size) {
    return answered([&] {
        // Written so that NaN fails it too.
        if (!within(game.needs, i) || !(size >= 0 && size < 9.0e15)) throw std::out_of_range("no such need, or no size");
        game.files.giveSize(game.needs[static_cast<std::size_t>(i)].path, static_cast<uint64_t>(size));
        return page::Done{};
    });
}
// The bytes of slice `i`.
EMSCRIPTEN_KEEPALIVE const char* hl_game_give(int i, const uint8_t* data, int size) {
    return answered([&] {
        if (!within(game.needs, i) || size < 0) throw std::out_of_range("no such need");
        const ListedFiles::Need& need = game.needs[static_cast<std::size_t>(i)];
        game.files.give(need.path, need.offset, need.size, std::vector<uint8_t>(data, data + size));
        return page::Done{};
    });
}

// Opens a table on its own (either form, as twoda reads it) as view 3,
// with `twoda check`'s verdict on it.
EMSCRIPTEN_KEEPALIVE const char* hl_open(const uint8_t* data, int size, const char* name) {
    opened = Opened{};
    return answered([&] {
        const std::vector<uint8_t> bytes(data, data + (size > 0 ? size : 0));
        TextStream check, notes;
        checkEitherForm(bytes, name, check);
        opened.check = check.str();
        changed(kOpened);
        const Result loaded = loadEitherForm(bytes, name, &opened.table, notes, std::string(name) + ": ");
        return page::Opened{static_cast<bool>(loaded), opened.check};
    });
}

// Where the links go in the tables as given, in words, for the page's
// help; before any is given, the rule.
EMSCRIPTEN_KEEPALIVE const char* hl_link_sentence() {
    return answered([] {
        const LinkColumns& links = givenLinks();
        const bool given = std::find(job.isLoaded.begin(), job.isLoaded.end(), true) != job.isLoaded.end();
        return page::Sentence{linkSentence(given ? &links : nullptr)};
    });
}

// Rows r0..r1 and columns c0..c1 of view `v` (as far as the table goes),
// for a grid to draw at once: the table's rows, columns and rows before
// the run (all of them but for an output), the window as cut to the
// table, its labels, each column's link and every cell with its mark.
EMSCRIPTEN_KEEPALIVE const char* hl_view_window(int v, int r0, int r1, int c0, int c1) {
    return answered([&] {
        const Table* t = view(v);
        page::Window w;
        w.rows = t ? t->rowCount() : 0;
        w.columns = t ? t->columnCount() : 0;
        w.r1 = std::clamp(r1, 0, w.rows), w.c1 = std::clamp(c1, 0, w.columns);
        w.r0 = std::clamp(r0, 0, w.r1), w.c0 = std::clamp(c0, 0, w.c1);
        const bool output = within(job.views, v);
        w.rowsBefore = output ? job.rowsBefore[static_cast<std::size_t>(v)] : w.rows;
        const ViewLabels* kept = labelsOf(v, w.r1);
        for (int c = w.c0; c < w.c1; ++c) w.columnLabels.push_back(textOf(kept->columns[static_cast<std::size_t>(c)]));
        // Each column's link: the script whose row it gets (-1: none); a
        // table opened on its own has none.
        const int given = v - kOpened - 1;
        const std::size_t table = output ? static_cast<std::size_t>(v) : static_cast<std::size_t>(given);
        const LinkColumns& links = output ? job.links : givenLinks();
        for (int c = w.c0; c < w.c1; ++c) {
            const int link = v == kOpened || t == nullptr ? -1 : links.linkAt(table, c);
            w.columnLinks.push_back(link < 0 ? -1 : static_cast<int>(kLinks[static_cast<std::size_t>(link)].source));
        }
        // The marks in the window: a link cell's mark over a script's, else the latest.
        std::vector<const CellMark*> marks;
        for (const CellMark& mark : job.marks)
            if (output && static_cast<int>(mark.table) == v && mark.row >= w.r0 && mark.row < w.r1 &&
                mark.column >= w.c0 && mark.column < w.c1)
                marks.push_back(&mark);
        for (int r = w.r0; r < w.r1; ++r) {
            w.rowLabels.push_back(textOf(kept->rows[static_cast<std::size_t>(r)]));
            std::vector<page::Cell>& row = w.cells.emplace_back();
            for (int c = w.c0; c < w.c1; ++c) {
                const CellMark* mark = nullptr;
                for (const CellMark* m : marks)
                    if (m->row == r && m->column == c && !(mark && mark->link)) mark = m;
                page::Cell& cell = row.emplace_back(page::Cell{textOf(t->cellText(r, c)), 0, std::nullopt});
                if (mark != nullptr) {
                    cell.mark = mark->link ? 2 : 1;
                    cell.was = textOf(mark->was);
                }
            }
        }
        return w;
    });
}

// View `v` as the text form (0), CSV (1) or binary (2), as `twoda text`,
// `csv` and `build` give it (no bytes when the text form cannot hold it).
EMSCRIPTEN_KEEPALIVE const char* hl_export(int v, int kind) {
    exported.clear();
    return answered([&] {
        const Table* t = view(v);
        if (t && kind >= 0 && kind <= 2 && t->columnCount() + t->rowCount() > 0) {
            if (kind == 2) {
                exported = t->bytes();
            } else {
                TextStream out;
                bool written = true;
                if (kind == 1) writeCsv(*t, out);
                else written = static_cast<bool>(writeTextForm(*t, out));
                const std::string form = out.str();
                if (written) exported.assign(form.begin(), form.end());
            }
        }
        return bytesAt(exported);
    });
}

}  // extern "C"
