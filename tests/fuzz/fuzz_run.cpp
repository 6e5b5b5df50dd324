// Fuzz target: a whole run, in memory, on three tables and five scripts.
//
// Input: eight parts, each a 2-byte little-endian length and that many bytes
// (fewer when the input runs out; a part missing altogether is an empty
// file, and the length 0xFFFF stands for a file that cannot be opened). The
// parts are appearance.2da, heads.2da, portraits.2da, then head.txt,
// apphead1.txt, apphead2.txt, apphead3.txt and portraits.txt.
//
// A failed run has one error line for each file that cannot be read, or
// else exactly one, naming one of the eight files. A successful run's
// outputs load again, with the loaded header, pool and rows kept.
//
// The run is also followed by a model of its own: the reference script
// reader of script_model.h applies the five scripts one after another to
// models of the tables, and the link cells are written as the README
// describes, with link columns and file names kept here apart from the
// program's. When every script can be predicted, the run must fail naming
// the file the model stops at, or succeed with exactly the model's rows,
// grids and pools; when a later script cannot be, a successful run must
// still leave the tables the model finished exactly so.
#include <array>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "app/run.h"
#include "table/table.h"
#include "tests/fuzz/fuzz_support.h"
#include "tests/fuzz/script_model.h"

using fuzz::check;
using headlink::Table;

namespace {

headlink::RunInputs split(const uint8_t* data, std::size_t size) {
    headlink::RunInputs inputs;
    std::size_t at = 0;
    auto take = [&](headlink::FileBytes& file) {
        if (size - at < 2) {
            at = size;
            return;
        }
        const auto length = static_cast<std::size_t>(data[at] | (data[at + 1] << 8));
        at += 2;
        if (length == 0xFFFF) {
            file.result = headlink::Result::failure(headlink::Status::notFound, "cannot open: No such file or directory");
            return;
        }
        const std::size_t n = std::min(length, size - at);
        file.bytes.assign(data + at, data + at + n);
        at += n;
    };
    for (auto& table : inputs.tables) take(table);
    for (auto& script : inputs.scripts) take(script);
    return inputs;
}

// What the README tells users, written down here apart from the program:
// the file names, and the link cells. The head row goes into appearance's
// first column labelled "normalhead" (ASCII case ignored), else column 10,
// in each of the three appearance rows; the second, first and third
// appearance rows go into portraits' "appearancenumber", "appearance_s"
// and "appearance_l", else columns 2, 7 and 8, written in that order.
const std::array<std::string, 3> kTables = {"appearance.2da", "heads.2da", "portraits.2da"};
const std::array<std::string, 5> kScripts = {"head.txt", "apphead1.txt", "apphead2.txt", "apphead3.txt",
                                             "portraits.txt"};
struct LinkRule {
    const char* label;
    int32_t column;
    std::size_t appearanceScript;  // 0 for apphead1.txt (unused for the head link)
};
constexpr LinkRule kHeadLink = {"normalhead", 10, 0};
constexpr std::array<LinkRule, 3> kPortraitLinks = {{{"appearancenumber", 2, 1}, {"appearance_s", 7, 0},
                                                     {"appearance_l", 8, 2}}};

bool sameLetters(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

// The column a link goes into in `table`, and whether a label chose it.
std::pair<int32_t, bool> columnOf(const Table& table, const LinkRule& rule) {
    const auto labels = table.columnLabels();
    for (std::size_t c = 0; c < labels.size(); ++c)
        if (sameLetters(labels[c], rule.label)) return {static_cast<int32_t>(c), true};
    return {rule.column, false};
}

// Whether `table` can hold these links: every column inside it, and no
// label putting one link into the fixed column of another that has none.
bool holds(const Table& table, const std::vector<LinkRule>& rules) {
    std::vector<std::pair<int32_t, bool>> at;
    for (const LinkRule& rule : rules) at.push_back(columnOf(table, rule));
    for (std::size_t i = 0; i < at.size(); ++i) {
        if (at[i].first >= table.columnCount()) return false;
        for (std::size_t j = 0; j < at.size(); ++j)
            if (i != j && at[i].first == at[j].first) return false;
    }
    return true;
}

// The run as the model sees it: the scripts read by the reference reader
// one after another on models of the three tables, with the link cells
// written after each. Unknown when a script cannot be predicted.
struct RunModel {
    enum { Unknown, Fails, Succeeds } verdict = Unknown;
    std::string fails;  // the file a failure names
    std::array<fuzz::TableModel, 3> tables;  // appearance, heads, portraits
    // Which tables the model followed to the end: a run that succeeds must
    // leave those exactly so, even when a later script cannot be predicted.
    std::array<bool, 3> done{};
};

// Applies a script to a model table; false when the run stops or cannot be
// followed further.
bool step(RunModel& m, fuzz::TableModel& table, const headlink::FileBytes& script, const std::string& name,
          int32_t* row) {
    const fuzz::Prediction p = fuzz::predict(table, script.bytes);
    if (p.verdict == fuzz::Prediction::Unknown) return false;
    if (p.verdict == fuzz::Prediction::Fails) {
        m.verdict = RunModel::Fails;
        m.fails = name;
        return false;
    }
    table = fuzz::after(table, p);
    *row = p.row;
    return true;
}

// Writes a row number, as plain decimal text, into a link cell.
bool link(RunModel& m, fuzz::TableModel& table, const std::string& name, int32_t row, int32_t column,
          int32_t value) {
    const int32_t offset = table.pool.place(std::to_string(value));
    if (offset < 0) {
        m.verdict = RunModel::Fails;
        m.fails = name;
        return false;
    }
    table.grid[static_cast<std::size_t>(row) * static_cast<std::size_t>(table.columns) +
               static_cast<std::size_t>(column)] = static_cast<uint16_t>(offset);
    return true;
}

RunModel modelRun(const std::array<Table, 3>& in, const headlink::RunInputs& inputs) {
    RunModel m;
    m.tables = {fuzz::modelOf(in[0]), fuzz::modelOf(in[1]), fuzz::modelOf(in[2])};
    fuzz::TableModel& appearance = m.tables[0];
    int32_t headRow = 0, portraitRow = 0;
    std::array<int32_t, 3> appearanceRows{};
    if (!step(m, m.tables[1], inputs.scripts[0], kScripts[0], &headRow)) return m;
    m.done[1] = true;
    const int32_t headColumn = columnOf(in[0], kHeadLink).first;
    for (std::size_t i = 0; i < 3; ++i)
        if (!step(m, appearance, inputs.scripts[i + 1], kScripts[i + 1], &appearanceRows[i]) ||
            !link(m, appearance, kTables[0], appearanceRows[i], headColumn, headRow))
            return m;
    m.done[0] = true;
    if (!step(m, m.tables[2], inputs.scripts[4], kScripts[4], &portraitRow)) return m;
    for (const LinkRule& l : kPortraitLinks)
        if (!link(m, m.tables[2], kTables[2], portraitRow, columnOf(in[2], l).first, appearanceRows[l.appearanceScript]))
            return m;
    m.done[2] = true;
    m.verdict = RunModel::Succeeds;
    return m;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const headlink::RunInputs inputs = split(data, size);

    // What is known before the run.
    std::string mustName;  // the file a failure must name, when known
    bool mustFail = false;
    // Every table that does not load and every script that cannot be
    // opened is reported, each on its own line, tables first.
    std::array<Table, 3> in;
    std::size_t unreadable = 0;
    for (std::size_t i = 0; i < 3; ++i) {
        if (!inputs.tables[i].ok() || in[i].loadBytes(inputs.tables[i].bytes, "in.2da") != 0) {
            if (!mustFail) mustName = kTables[i];
            mustFail = true;
            ++unreadable;
        }
    }
    for (std::size_t i = 0; i < 5; ++i) {
        if (!inputs.scripts[i].ok()) {
            if (!mustFail) mustName = kScripts[i];
            mustFail = true;
            ++unreadable;
        }
    }
    // A table that cannot hold its link cells stops the run before any script.
    if (!mustFail && !holds(in[0], {kHeadLink})) {
        mustFail = true;
        mustName = kTables[0];
    } else if (!mustFail && !holds(in[2], {kPortraitLinks.begin(), kPortraitLinks.end()})) {
        mustFail = true;
        mustName = kTables[2];
    }
    RunModel model;
    if (!mustFail) {
        model = modelRun(in, inputs);
        mustFail = model.verdict == RunModel::Fails;
        mustName = model.fails;
    }

    std::ostringstream report;
    const headlink::RunOutcome outcome = headlink::runInMemory(inputs, size % 2 == 0 ? &report : nullptr);
    check(report.str().empty() || report.str().back() == '\n', "the report does not end with a whole line");
    std::vector<std::string> errors;
    for (const headlink::Result& failure : outcome.failures) errors.push_back(failure.description());
    for (const headlink::Warning& warning : outcome.warnings) {
        const std::string said = warning.describe();
        check(!warning.file.empty() && said.find('\n') == std::string::npos,
              "a warning is not one \"<file>: [line N: ]warning: ...\" line: ", said);
    }
    if (!outcome.ok()) {
        check(model.verdict != RunModel::Succeeds, "the run failed, but the model says it succeeds: ", errors[0]);
        const std::size_t expected = unreadable > 0 ? unreadable : 1;
        check(errors.size() == expected, "a failed run reported ", errors.size(), " error lines, not ", expected);
        const std::string line = errors[0];
        bool named = false;
        for (const std::string& file : kTables) named = named || fuzz::startsWith(line, file + ": ");
        for (const std::string& file : kScripts) named = named || fuzz::startsWith(line, file + ": ");
        check(named, "the error line names none of the input files: ", line);
        check(line.find('\n') == std::string::npos, "the error line holds a line break: ", line);
        check(mustName.empty() || fuzz::startsWith(line, mustName + ": "), "the error line should name ",
              mustName, ": ", line);
        for (const auto& table : outcome.tables) check(table.bytes().empty(), "a failed run produced an output");
        return 0;
    }
    check(!mustFail, "the run succeeded, but ", mustName, " should have stopped it");

    // A run's own rows never hold a link that names no row.
    for (const headlink::DanglingLink& link : headlink::danglingLinks(outcome.tables))
            check(link.row < in[link.table].rowCount(), kTables[link.table], ": new row ", link.row,
                  " links to no row");
    const std::array<int32_t, 3> maxAdded = {3, 1, 1};
    for (std::size_t i = 0; i < 3; ++i) {
        headlink::Result why;
        const std::string& name = kTables[i];
        const std::vector<uint8_t> output = outcome.tables[i].bytes();
        Table out;
        check(out.loadBytes(output, name, &why) == 0, name, ": the output does not load: ", why.description());
        check(out.bytes() == output, name, ": the output does not write back byte for byte");
        check(out.columnCount() == in[i].columnCount(), name, ": the output changed its column count");
        const int32_t added = out.rowCount() - in[i].rowCount();
        check(added >= 0 && added <= maxAdded[i], name, ": the output gained ", added, " rows");
        check(fuzz::isPrefix(in[i].pool(), out.pool()), name, ": the loaded pool was changed");
        check(out.poolSizeField() == fuzz::expectedPoolSizeField(inputs.tables[i].bytes, out.pool().size()),
              name, ": the pool-size field is ", out.poolSizeField());
        check(fuzz::headerOf(output) == fuzz::expectedHeader(inputs.tables[i].bytes, out.rowCount()), name,
              ": the header is not the loaded one with the new count and row labels");
        if (!model.done[i]) continue;
        const fuzz::TableModel& expected = model.tables[i];
        check(out.rowCount() == expected.rows, name, ": the output has ", out.rowCount(), " rows, the model ",
              expected.rows);
        const std::vector<uint16_t> grid = fuzz::gridOf(out);
        for (std::size_t cell = 0; cell < grid.size(); ++cell)
            check(grid[cell] == expected.grid[cell], name, ": row ", cell / static_cast<std::size_t>(out.columnCount()),
                  ", column ", cell % static_cast<std::size_t>(out.columnCount()), " points at ", grid[cell],
                  ", the model at ", expected.grid[cell]);
        check(out.pool() == expected.pool.bytes, name, ": the pool differs from the model's");
    }
    return 0;
}
