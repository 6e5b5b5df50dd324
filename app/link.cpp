#include "app/link.h"

#include <new>

#include "patch/patch.h"

namespace headlink {

namespace {

bool checkColumns(const Table& table, int32_t needed, std::string* why) {
    if (table.columnCount() >= needed) return true;
    *why = table.name() + ": has " + std::to_string(table.columnCount()) +
           " columns, but linking writes into column " + std::to_string(needed - 1) +
           " and so needs at least " + std::to_string(needed);
    return false;
}

// "appearance row 40 (label "40")": rows are counted by position, as
// scripts count them; the label is shown beside it.
std::string rowName(const Table& table, int32_t row) {
    return tableTitle(table) + " row " + std::to_string(row) + " (label " + quoted(table.rowLabel(row), kWhole) + ")";
}

// `10 "head_row"`: a column by number and label (the labels are read once
// per table and step, as a table may have millions of columns).
std::string columnName(const std::vector<std::string_view>& labels, int32_t column) {
    const auto at = static_cast<std::size_t>(column);
    return std::to_string(column) + " " + quoted(at < labels.size() ? labels[at] : std::string_view(), kWhole);
}

std::string poolText(const Table& table, uint16_t offset) {
    std::string_view text;
    table.poolString(offset, &text);
    return cellSpelling(text);
}

class Linker {
public:
    Linker(const std::array<FileBytes, 5>& scripts, LinkReport* report) : scripts_(scripts), report_(report) {}

    // Applies script i; returns the row it reported, or -1.
    int32_t apply(Table& table, std::size_t i, std::vector<int32_t> linkColumns, std::string* why) {
        const std::string name = kScriptFiles[i];
        if (!scripts_[i].ok()) {
            *why = name + ": " + scripts_[i].error;
            return -1;
        }
        ScriptDetails& details = details_[i];
        details.linkColumns = std::move(linkColumns);
        details.listChanges = report_ != nullptr && report_->out != nullptr;
        int32_t row = -1;
        try {
            row = applyScriptBytes(table, scripts_[i].bytes, name, why, &details);
        } catch (const std::bad_alloc&) {
            *why = name + ": " + kNotEnoughMemory;
        }
        if (report_ == nullptr) return row;
        if (row >= 0 && details.listChanges) listSteps(table, details, name, row);
        for (const auto& warning : details.warnings)
            report_->warn(name + ": " + (warning.line > 0 ? "line " + std::to_string(warning.line) + ": " : "") +
                          "warning: " + warning.text);
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

    // Writes a row number into a link cell of the row script i used.
    bool link(Table& table, std::size_t i, int32_t row, int32_t column, int32_t value, std::string* why) {
        std::string reason;
        const uint16_t was = table.cellOffset(row, column);
        const std::string text = decimal(value);
        bool ok = false;
        try {
            ok = table.setCell(row, column, text, &reason) == 0;
        } catch (const std::bad_alloc&) {
            reason = kNotEnoughMemory;
        }
        if (!ok) {
            *why = table.name() + ": cannot write " + text + " into column " + decimal(column) + " of row " +
                   decimal(row) + ": " + reason;
            return false;
        }
        if (report_ == nullptr) return true;
        if (report_->out != nullptr)
            *report_->out << "link: " << tableTitle(table) << " row " << row << ": "
                          << columnName(table.columnLabels(), column) << " = " << quoted(text) << " (was "
                          << poolText(table, was) << ")\n";
        const ScriptDetails& details = details_[i];
        if (column == details.keyColumn && !sameText(text, details.keyValue))
            report_->warn(std::string(kScriptFiles[i]) + ": warning: linking writes " + quoted(text) +
                          " into key column " + std::to_string(column) + " of " + tableTitle(table) + " row " +
                          std::to_string(row) + ": the next run will not find the row by " +
                          quoted(details.keyValue) + " and adds another");
        return true;
    }

private:
    const std::array<FileBytes, 5>& scripts_;
    LinkReport* report_;
    std::array<ScriptDetails, 5> details_;
};

}  // namespace

void LinkReport::warn(std::string line) {
    if (live.err != nullptr) {
        if (out != nullptr) out->flush();
        std::string shown = line;
        const std::size_t word = shown.find("warning: ");
        if (live.asErrors && word != std::string::npos) shown.replace(word, 8, "error:");
        *live.err << "headlink: " << shown << '\n';
    }
    warnings.push_back(std::move(line));
}

std::string tableTitle(const Table& table) {
    const std::string& name = table.name();
    return name.size() > 4 && name.compare(name.size() - 4, 4, ".2da") == 0 ? name.substr(0, name.size() - 4) : name;
}

bool runLinking(Table& appearance, Table& heads, Table& portraits,
                const std::array<FileBytes, 5>& scripts, std::string* why, LinkReport* report) {
    if (!checkColumns(appearance, kAppearanceHeadColumn + 1, why) ||
        !checkColumns(portraits, kPortraitAlt2Column + 1, why))
        return false;
    Linker linker(scripts, report);

    if (linker.apply(heads, 0, {}, why) < 0) return false;
    const int32_t headRow = heads.lastPatchedRow();

    // Each appearance row gets the head row; later scripts see rows that
    // earlier ones appended.
    std::array<int32_t, 3> appearanceRows{};
    for (std::size_t i = 0; i < 3; ++i) {
        if (linker.apply(appearance, i + 1, {kAppearanceHeadColumn}, why) < 0) return false;
        appearanceRows[i] = appearance.lastPatchedRow();
        if (!linker.link(appearance, i + 1, appearanceRows[i], kAppearanceHeadColumn, headRow, why)) return false;
    }

    if (linker.apply(portraits, 4, {kPortraitMainColumn, kPortraitAlt1Column, kPortraitAlt2Column}, why) < 0)
        return false;
    const int32_t portraitRow = portraits.lastPatchedRow();
    return linker.link(portraits, 4, portraitRow, kPortraitMainColumn, appearanceRows[1], why) &&
           linker.link(portraits, 4, portraitRow, kPortraitAlt1Column, appearanceRows[0], why) &&
           linker.link(portraits, 4, portraitRow, kPortraitAlt2Column, appearanceRows[2], why);
}

}  // namespace headlink
