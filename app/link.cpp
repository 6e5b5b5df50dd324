#include "app/link.h"

#include <algorithm>

#include "patch/patch.h"
#include "table/text.h"

namespace headlink {

namespace {

// The warning a script gets for setting a column that linking overwrites.
// It goes among the script's own warnings by line, and within their cap.
void warnOfLinkColumns(ScriptDetails& details, TableId table, const LinkColumns& links, const std::string& script) {
    auto& warnings = details.warnings;
    for (const auto& change : details.changes) {
        if (links.linkAt(table, change.column) < 0) continue;
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
    Linker(const std::array<FileBytes, kScriptCount>& scripts, const LinkColumns& links, LinkReport* report)
        : scripts_(scripts), links_(links), report_(report) {}

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
        warnOfLinkColumns(details, tableOf(script), links_, name);
        if (report_ == nullptr) return row;
        // An added row's key cell is set too: a name like any other.
        if (row >= 0 && details.added)
            report_->marks.push_back({tableOf(script), row, details.keyColumn, false,
                                      std::string(table.cellText(details.templateRow, details.keyColumn)),
                                      report_->headIndex, -1, static_cast<int>(script), details.keyLine});
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
        const ScriptDetails& details = details_[script];
        if (!details.added && poolText(table, was, false) != text)
            changedFound_.push_back(columnName(table.columnLabels(), column) + " was " + poolText(table, was) + ", now " +
                                    quoted(text));
        report_->marks.push_back(
            {tableOf(script), row, column, true, poolText(table, was, false), report_->headIndex, value});
        if (report_->out != nullptr)
            *report_->out << report_->head << (report_->head.empty() ? "" : ": ") << "link: " << tableTitle(table) << " row " << row << ": "
                          << columnName(table.columnLabels(), column) << " = " << quoted(text) << " (was "
                          << poolText(table, was) << ")\n";
        if (column == details.keyColumn && !sameText(text, details.keyValue))
            report_->warn({report_->named(kScriptFiles[script]), 0,
                           "linking writes " + quoted(text) + " into key column " + std::to_string(column) + " of " +
                               tableTitle(table) + " row " + std::to_string(row) +
                               ": the next run will not find the row by " + quoted(details.keyValue) +
                               " and adds another"},
                          static_cast<int>(script));
        return true;
    }

    // After a script's links: a row it found, not added, whose link cells
    // changed is someone else's row (the game's, another mod's), and
    // whatever uses it changes with it. Writing what is there already
    // (running again) says nothing.
    void warnOfFoundRow(const Table& table, ScriptId script, int32_t row) {
        if (changedFound_.empty()) return;
        std::string text = "linking changes " + rowName(table, row) +
                           ", a row the script found rather than added: ";
        for (std::size_t i = 0; i < changedFound_.size(); ++i) text += (i == 0 ? "" : "; ") + changedFound_[i];
        text += "; such a row is the game's or another mod's, and everything that uses it changes with it: give the "
                "script a key value no row has, so that it adds a row of its own";
        changedFound_.clear();
        report_->warn({report_->named(kScriptFiles[script]), 0, std::move(text)}, static_cast<int>(script));
    }

private:
    const std::array<FileBytes, kScriptCount>& scripts_;
    const LinkColumns& links_;
    LinkReport* report_;
    std::array<ScriptDetails, kScriptCount> details_;
    std::vector<std::string> changedFound_;  // the link cells of a found row changed so far
};

}  // namespace

void LinkReport::warn(Warning warning, int script) {
    if (live.err != nullptr) {
        if (out != nullptr) out->flush();
        *live.err << "headlink: " << warning.describe(live.asErrors) << '\n';
    }
    warning.head = headNumber();
    warning.script = script;
    warnings.push_back(std::move(warning));
}

std::string tableTitle(const Table& table) {
    const std::string& name = table.name();
    return extension(name) == ".2da" ? std::string(stem(name)) : name;
}

LinkColumns::LinkColumns() {
    for (std::size_t i = 0; i < kLinks.size(); ++i) columns_[i] = kLinks[i].column;
}

LinkColumns::LinkColumns(const std::array<const Table*, kTableCount>& tables) : LinkColumns() {
    for (std::size_t table = 0; table < kTableCount; ++table) {
        const bool linked = std::any_of(kLinks.begin(), kLinks.end(), [&](const Link& link) { return link.table == table; });
        if (tables[table] == nullptr || !linked) continue;
        const auto labels = tables[table]->columnLabels();
        const std::size_t columns = std::min(labels.size(), static_cast<std::size_t>(tables[table]->columnCount()));
        for (std::size_t i = 0; i < kLinks.size(); ++i) {
            if (kLinks[i].table != table) continue;
            const auto at = std::find_if(labels.begin(), labels.begin() + static_cast<std::ptrdiff_t>(columns),
                                         [&](std::string_view label) { return sameText(label, kLinks[i].label); });
            labelled_[i] = at != labels.begin() + static_cast<std::ptrdiff_t>(columns);
            if (labelled_[i]) columns_[i] = static_cast<int32_t>(at - labels.begin());
        }
    }
}

int LinkColumns::linkAt(std::size_t table, int32_t column) const {
    for (std::size_t i = 0; i < kLinks.size(); ++i)
        if (kLinks[i].table == table && columns_[i] == column) return static_cast<int>(i);
    return -1;
}

Result LinkColumns::check(const Table& table, TableId id, const std::string& file) const {
    int32_t needed = 0;
    for (std::size_t i = 0; i < kLinks.size(); ++i)
        if (kLinks[i].table == id) needed = std::max(needed, columns_[i] + 1);
    if (table.columnCount() < needed)
        return Result::failure(Status::malformed,
                               "has " + std::to_string(table.columnCount()) +
                                   " columns, but linking writes into column " + std::to_string(needed - 1) +
                                   " and so needs at least " + std::to_string(needed),
                               file);
    // A label found can put one link in another's fixed column.
    for (std::size_t i = 0; i < kLinks.size(); ++i)
        for (std::size_t j = 0; j < kLinks.size(); ++j)
            if (i != j && kLinks[i].table == id && kLinks[j].table == id && columns_[i] == columns_[j] &&
                labelled_[i] && !labelled_[j]) {
                std::string why = "column " + std::to_string(columns_[i]) + " is labelled " + quoted(kLinks[i].label);
                why += ", for the ";
                why += stem(kScriptFiles[kLinks[i].source]);
                why += " row, and no column is labelled " + quoted(kLinks[j].label) + ", so the ";
                why += stem(kScriptFiles[kLinks[j].source]);
                why += " row would go there too: label the column for it " + quoted(kLinks[j].label);
                return Result::failure(Status::malformed, std::move(why), file);
            }
    return {};
}

TableId tableNamed(std::string_view path) {
    const std::size_t slash = path.find_last_of("/\\");
    const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
    for (std::size_t id = 0; id < kTableCount; ++id)
        if (sameText(name, kTableFiles[id]) || sameText(name, kOutputFiles[id])) return static_cast<TableId>(id);
    return kTableCount;
}

std::string linkSentence(const LinkColumns* columns) {
    std::string sentence;
    for (std::size_t table = 0; table < kTableCount; ++table) {
        std::vector<std::string> names, fixed, sources;
        ScriptId first = kScriptCount;
        for (std::size_t i = 0; i < kLinks.size(); ++i) {
            const Link& link = kLinks[i];
            if (link.table != table) continue;
            if (first == kScriptCount) first = link.source;
            std::string name;
            if (columns == nullptr || columns->labelled(i)) name = quoted(link.label);
            if (columns != nullptr) name.insert(0, std::to_string(columns->column(i)) + (name.empty() ? "" : " "));
            names.push_back(std::move(name));
            fixed.push_back(std::to_string(link.column));
            sources.push_back(kScriptFiles[link.source]);
        }
        if (names.empty()) continue;
        // One link names its source by the script ("the head row"), several
        // by the table their rows are in and each script.
        if (!sentence.empty()) sentence += "; ";
        sentence += stem(kTableFiles[table]);
        sentence += names.size() == 1 ? " column " : " columns ";
        sentence += listed(names);
        if (columns == nullptr) {
            sentence += " (else ";
            sentence += listed(fixed);
            sentence += ")";
        }
        sentence += names.size() == 1 ? " gets the " : " get the ";
        if (names.size() == 1) {
            sentence += stem(kScriptFiles[first]);
            sentence += " row";
        } else {
            sentence += stem(kTableFiles[tableOf(first)]);
            sentence += " rows of ";
            sentence += listed(sources);
        }
    }
    if (columns == nullptr)
        sentence += ": each link goes into the first column with its label (case ignored), else into the fixed column";
    sentence += '.';
    return sentence;
}

Result findLinkColumns(const std::array<const Table*, kTableCount>& tables, const std::array<const char*, kTableCount>& files,
                       LinkColumns* columns) {
    *columns = LinkColumns(tables);
    for (std::size_t id = 0; id < kTableCount; ++id)
        if (Result why = columns->check(*tables[id], static_cast<TableId>(id), files[id]); !why) return why;
    return {};
}

Result runLinking(Table& appearance, Table& heads, Table& portraits,
                  const std::array<FileBytes, kScriptCount>& scripts, LinkReport* report) {
    const std::array<Table*, kTableCount> tables = {&appearance, &heads, &portraits};
    LinkColumns links;
    if (Result why = findLinkColumns({&appearance, &heads, &portraits}, kTableFiles, &links); !why)
        return why;
    if (report != nullptr) report->links = links;
    Linker linker(scripts, links, report);

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
        for (std::size_t i = 0; i < kLinks.size(); ++i)
            if (kLinks[i].table == tableOf(script) &&
                !linker.link(table, script, rows[at], links.column(i), rows[kLinks[i].source], &why))
                return why;
        if (report != nullptr) linker.warnOfFoundRow(table, script, rows[at]);
    }
    return {};
}

}  // namespace headlink
