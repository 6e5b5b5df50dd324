// The page's way into headlink: plain C functions over the same run the
// program does, with no rule of their own. The page hands in the eight
// files (or marks one missing), runs the job as `headlink -n` would, and
// reads back the exit status, what the program would print on standard
// output and standard error, and the three outputs.
#include <array>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "app/files.h"
#include "app/run.h"
#include "fileio/fileio.h"
#include "twoda/commands.h"
#include "twoda/textform.h"

namespace {

using namespace headlink;

// The tables in load order, then the scripts in run order.
constexpr std::size_t kInputs = std::size_t{kTableCount} + std::size_t{kScriptCount};

struct Session {
    std::array<FileBytes, kInputs> inputs;
    std::vector<std::string> names;  // every file the user gave, for the hints
    std::string out, err, nearMisses;
    JobOutputs job;
    // Tables to show: the three outputs of the last run that worked, then
    // a table opened on its own.
    std::array<Table, kTableCount + 1> views;
    std::string cell, check;
    std::vector<uint8_t> exported;
};

Session session;

constexpr int kOpened = kTableCount;  // the view of a table opened on its own

const Table* view(int index) {
    return index >= 0 && index <= kOpened ? &session.views[static_cast<std::size_t>(index)] : nullptr;
}

const char* inputName(int index) {
    const auto i = static_cast<std::size_t>(index);
    return i < kTableCount ? kTableFiles[i] : kScriptFiles[i - kTableCount];
}

}  // namespace

extern "C" {

// Forgets every input, name and result.
void hl_reset() { session = Session{}; }

// Input `index` (the three tables in load order, then the five scripts in
// run order): `size` bytes at `data`, or missing when `size` is negative.
void hl_set_input(int index, const uint8_t* data, int size) {
    if (index < 0 || index >= static_cast<int>(session.inputs.size())) return;
    FileBytes& file = session.inputs[static_cast<std::size_t>(index)];
    file = FileBytes{};
    if (size < 0)
        file.result = Result::failure(Status::notFound, "cannot open: No such file or directory", inputName(index));
    else
        file.bytes.assign(data, data + size);
}

// The name of input `index` ("appearance.2da", ...), and how many there are.
const char* hl_input_name(int index) {
    return index >= 0 && index < static_cast<int>(session.inputs.size()) ? inputName(index) : "";
}
int hl_input_count() { return static_cast<int>(session.inputs.size()); }

// A name the user gave, for the hints a missing input gets.
void hl_add_name(const char* name) { session.names.emplace_back(name); }

// The names given that differ from input `index`'s only in letter case or by
// more extensions, one per line.
const char* hl_near_misses(int index) {
    session.nearMisses.clear();
    for (const std::string& name : nearMisses(hl_input_name(index), session.names))
        session.nearMisses += name + "\n";
    return session.nearMisses.c_str();
}

// Runs the job as `headlink -n` (with `strict`, `headlink -n --strict`)
// would on these inputs; returns its exit status.
int hl_run(int strict) {
    Options options;
    options.dryRun = true;
    options.strict = strict != 0;
    RunInputs inputs;
    for (std::size_t i = 0; i < kTableCount; ++i) inputs.tables[i] = session.inputs[i];
    for (std::size_t i = 0; i < kScriptCount; ++i) inputs.scripts[i] = session.inputs[kTableCount + i];
    std::ostringstream out, err;
    session.job = {};
    const int status = runOnInputs(std::move(inputs), Folder{"the files given", session.names}, options, out, err,
                                   &session.job);
    session.out = out.str();
    session.err = err.str();
    if (status != 0) session.job = {};
    for (std::size_t i = 0; i < kTableCount; ++i) {
        session.views[i].clear();
        if (!session.job.tables[i].empty())
            (void)session.views[i].loadBytes(std::span<const uint8_t>(session.job.tables[i]), kOutputFiles[i]);
    }
    return status;
}

// What the run printed on standard output (the report) and standard error.
const char* hl_stdout() { return session.out.c_str(); }
const char* hl_stderr() { return session.err.c_str(); }

// Output `index` (in the tables' order) of a run that succeeded: its name,
// size and bytes; size 0 after a failure.
const char* hl_output_name(int index) {
    return index >= 0 && index < static_cast<int>(kTableCount) ? kOutputFiles[static_cast<std::size_t>(index)] : "";
}
int hl_output_size(int index) {
    if (index < 0 || index >= static_cast<int>(kTableCount)) return 0;
    return static_cast<int>(session.job.tables[static_cast<std::size_t>(index)].size());
}
const uint8_t* hl_output(int index) {
    if (index < 0 || index >= static_cast<int>(kTableCount)) return nullptr;
    return session.job.tables[static_cast<std::size_t>(index)].data();
}
// The rows output `index` had before the run (the rows after them were added).
int hl_output_rows_before(int index) {
    if (index < 0 || index >= static_cast<int>(kTableCount)) return 0;
    return session.job.rowsBefore[static_cast<std::size_t>(index)];
}

// The cells the last run changed: how many, and for each its table (an
// output's index), row, column, whether it is a link cell, and its old text.
int hl_mark_count() { return static_cast<int>(session.job.marks.size()); }
int hl_mark_table(int i) { return static_cast<int>(session.job.marks[static_cast<std::size_t>(i)].table); }
int hl_mark_row(int i) { return session.job.marks[static_cast<std::size_t>(i)].row; }
int hl_mark_column(int i) { return session.job.marks[static_cast<std::size_t>(i)].column; }
int hl_mark_link(int i) { return session.job.marks[static_cast<std::size_t>(i)].link ? 1 : 0; }
const char* hl_mark_was(int i) { return session.job.marks[static_cast<std::size_t>(i)].was.c_str(); }

// Opens a table on its own (either form, as twoda reads it) as view 3:
// 0 when it loads. hl_check() gives `twoda check`'s verdict on it.
int hl_open(const uint8_t* data, int size, const char* name) {
    const std::vector<uint8_t> bytes(data, data + (size > 0 ? size : 0));
    std::ostringstream check, notes;
    checkEitherForm(bytes, name, check);
    session.check = check.str();
    Table& table = session.views[kOpened];
    table.clear();
    const Result loaded = loadEitherForm(bytes, name, &table, notes, std::string(name) + ": ");
    return loaded ? 0 : 1;
}
const char* hl_check() { return session.check.c_str(); }

// A view's shape and texts, read through the table library. Texts are
// NUL-terminated copies: a cell's own NUL ends it, as everywhere.
int hl_view_rows(int v) { return view(v) ? view(v)->rowCount() : 0; }
int hl_view_columns(int v) { return view(v) ? view(v)->columnCount() : 0; }
const char* hl_view_cell(int v, int row, int column) {
    const Table* t = view(v);
    session.cell = t && row >= 0 && row < t->rowCount() && column >= 0 && column < t->columnCount()
                       ? std::string(t->cellText(row, column))
                       : std::string();
    return session.cell.c_str();
}
const char* hl_view_column_label(int v, int column) {
    const Table* t = view(v);
    if (!t) return "";
    const auto labels = t->columnLabels();
    session.cell = column >= 0 && static_cast<std::size_t>(column) < labels.size()
                       ? std::string(labels[static_cast<std::size_t>(column)])
                       : std::string();
    return session.cell.c_str();
}
const char* hl_view_row_label(int v, int row) {
    const Table* t = view(v);
    session.cell = t && row >= 0 && row < t->rowCount() ? t->rowLabel(row) : std::string();
    return session.cell.c_str();
}

// View `v` as the text form (0), CSV (1) or binary (2), as `twoda text`,
// `csv` and `build` give it: its size, then its bytes (empty when the text
// form cannot hold it).
int hl_export(int v, int kind) {
    session.exported.clear();
    const Table* t = view(v);
    if (!t || t->columnCount() + t->rowCount() == 0) return 0;
    if (kind == 2) {
        session.exported = t->bytes();
    } else {
        std::ostringstream out;
        if (kind == 1) writeCsv(*t, out);
        else if (!writeTextForm(*t, out)) return 0;
        const std::string text = out.str();
        session.exported.assign(text.begin(), text.end());
    }
    return static_cast<int>(session.exported.size());
}
const uint8_t* hl_exported() { return session.exported.data(); }

}  // extern "C"
