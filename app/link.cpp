#include "app/link.h"

#include <algorithm>

#include "patch/patch.h"

namespace headlink {

namespace {

// The warning a script gets for setting a column that linking overwrites.
// It goes among the script's own warnings by line, and within their cap.
void warnOfLinkColumns(ScriptDetails& details, TableId table, const std::string& script) {
    auto& warnings = details.warnings;
    for (const auto& change : details.changes) {
        if (std::none_of(kLinks.begin(), kLinks.end(),
                         [&](const Link& link) { return link.table == table && link.column == change.column; }))
            continue;
        auto at = std::find_if(warnings.begin(), warnings.end(),
                               [&](const Warning& w) { return w.line == 0 || w.line > change.line; });
        warnings.insert(at, {script, change.line, "column " + std::to_string(change.column) +
                                              " is a link column: linking replaces this value with a row number"});
    }
    if (warnings.size() > kMaxScriptWarnings + 1 ||
        (warnings.size() == kMaxScriptWarnings + 1 && warnings.back().line != 0)) {
        warnings.resize(kMaxScriptWarnings);
        warnings.push_back({script, 0, kMoreWarnings});
    }
}

// "appearance row 40 (label "40")": rows are counted by position, as
// scripts count them; the label is shown beside it.
std::string rowName(const Table& table, int32_t row) {
    return tableTitle(table) + " row " + std::to_string(row) + " (label " + quoted(table.rowLabel(row), kWhole) + ")";
}

// `4 "model"`: a column by number and label (the labels are read once
// per table and step, as a table may have millions of columns).
std::string columnName(const std::vector<std::string_view>& labels, int32_t column) {
    const auto at = static_cast<std::size_t>(column);
    return std::to_string(column) + " " + quoted(at < labels.size() ? labels[at] : std::string_view(), kWhole);
}

// The text at a pool offset: spelled for people, or as it is.
std::string poolText(const Table& table, uint16_t offset, bool spelled = true) {
    std::string_view text;
    table.poolString(offset, &text);
    return spelled ? cellSpelling(text) : std::string(text);
}

class Linker {
public:
    Linker(const std::array<FileBytes, kScriptCount>& scripts, LinkReport* report)
        : scripts_(scripts), report_(report) {}

    // Applies a script; returns the row it reported, or -1 with *why set.
    int32_t apply(Table& table, ScriptId script, Result* why) {
        const std::string name = report_ != nullptr ? report_->named(kScriptFiles[script]) : kScriptFiles[script];
        workOn(kScriptFiles[script]);
        if (!scripts_[script].ok()) {
            *why = scripts_[script].result;
            why->file = name;
            return -1;
        }
        ScriptDetails& details = details_[script];
        // Every cell set is listed: the link warnings are found among them.
        const int32_t row = applyScriptBytes(table, scripts_[script].bytes, name, why, {true}, &details);
        warnOfLinkColumns(details, tableOf(script), name);
        if (report_ == nullptr) return row;
        for (const auto& change : details.changes)
            if (row >= 0) report_->marks.push_back(
                    {tableOf(script), row, change.column, false, poolText(table, change.was, false),
                     report_->headIndex, -1, static_cast<int>(script), change.line});
        if (row >= 0 && report_->out != nullptr) listSteps(table, details, name, row);
        for (Warning& warning : details.warnings) report_->warn(std::move(warning), static_cast<int>(script));
        return row;
    }

    // The report lines of a script that worked: the row, then each cell set.
    void listSteps(const Table& table, ScriptDetails& details, const std::string& name, int32_t row) {
        std::ostream& out = *report_->out;
        const auto labels = table.columnLabels();
        const std::string key =
            "key column " + columnName(labels, details.keyColumn) + " = " + cellSpelling(details.keyValue);
        if (details.added)
            out << name << ": " << rowName(table, row) << " added, a copy of row " << details.templateRow
                << " (label " << quoted(table.rowLabel(details.templateRow), kWhole) << "); " << key << '\n';
        else
            out << name << ": " << rowName(table, row) << " found (" << key << " matched "
                << cellSpelling(details.matched) << ")\n";
        const std::string prefix = name + ": " + tableTitle(table) + " row " + std::to_string(row) + ": ";
        for (const auto& change : details.changes)
            out << prefix << columnName(labels, change.column) << " = " << poolText(table, change.value) << " (was "
                << poolText(table, change.was) << ")\n";
        details.changes = {};
    }

    // Writes a row number into a link cell of the row a script used.
    bool link(Table& table, ScriptId script, int32_t row, int32_t column, int32_t value, Result* why) {
        const char* file = kTableFiles[tableOf(script)];
        workOn(file);
        Result reason;
        const uint16_t was = table.cellOffset(row, column);
        const std::string text = decimal(value);
        if (table.setCell(row, column, text, &reason) != 0) {
            *why = Result::failure(reason.status,
                                   "cannot write " + text + " into column " + decimal(column) + " of row " +
                                       decimal(row) + ": " + reason.reason,
                                   file);
            return false;
        }
        if (report_ == nullptr) return true;
        report_->marks.push_back(
            {tableOf(script), row, column, true, poolText(table, was, false), report_->headIndex, value});
        if (report_->out != nullptr)
            *report_->out << report_->head << (report_->head.empty() ? "" : ": ") << "link: " << tableTitle(table) << " row " << row << ": "
                          << columnName(table.columnLabels(), column) << " = " << quoted(text) << " (was "
                          << poolText(table, was) << ")\n";
        const ScriptDetails& details = details_[script];
        if (column == details.keyColumn && !sameText(text, details.keyValue))
            report_->warn({report_->named(kScriptFiles[script]), 0,
                           "linking writes " + quoted(text) + " into key column " + std::to_string(column) + " of " +
                               tableTitle(table) + " row " + std::to_string(row) +
                               ": the next run will not find the row by " + quoted(details.keyValue) +
                               " and adds another"},
                          static_cast<int>(script));
        return true;
    }

private:
    const std::array<FileBytes, kScriptCount>& scripts_;
    LinkReport* report_;
    std::array<ScriptDetails, kScriptCount> details_;
};

}  // namespace

void LinkReport::warn(Warning warning, int script) {
    std::string text = warning.describe(live.asErrors);
    if (live.err != nullptr) {
        if (out != nullptr) out->flush();
        *live.err << "headlink: " << text << '\n';
    }
    warnings.push_back({std::move(warning.file), warning.line, std::move(text), true, headNumber(), script});
}

std::string tableTitle(const Table& table) {
    const std::string& name = table.name();
    return extension(name) == ".2da" ? std::string(stem(name)) : name;
}

Result checkLinkWidth(const Table& table, TableId id, const std::string& file) {
    const int32_t needed = linkedWidth(id);
    if (table.columnCount() >= needed) return {};
    return Result::failure(Status::malformed,
                           "has " + std::to_string(table.columnCount()) +
                               " columns, but linking writes into column " + std::to_string(needed - 1) +
                               " and so needs at least " + std::to_string(needed),
                           file);
}

Result runLinking(Table& appearance, Table& heads, Table& portraits,
                  const std::array<FileBytes, kScriptCount>& scripts, LinkReport* report) {
    const std::array<Table*, kTableCount> tables = {&appearance, &heads, &portraits};
    for (std::size_t id = 0; id < kTableCount; ++id)
        if (Result why = checkLinkWidth(*tables[id], static_cast<TableId>(id), kTableFiles[id]); !why) return why;
    Linker linker(scripts, report);

    // Each script's row gets its links, from rows that scripts before it
    // found or added; later scripts see the rows earlier ones appended.
    Result why;
    std::array<int32_t, kScriptCount> rows{};
    for (std::size_t at = 0; at < kScriptCount; ++at) {
        const auto script = static_cast<ScriptId>(at);
        Table& table = *tables[tableOf(script)];
        if (linker.apply(table, script, &why) < 0) {
            if (report != nullptr) report->failedScript = static_cast<int>(script);
            return why;
        }
        rows[at] = table.lastPatchedRow();
        for (const Link& link : kLinks)
            if (link.table == tableOf(script) && !linker.link(table, script, rows[at], link.column, rows[link.source], &why))
                return why;
    }
    return {};
}

}  // namespace headlink
