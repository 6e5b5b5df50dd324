// The link check: every link cell must be empty, "****", or the number of a
// row that exists in the table it points into. Hand-edited tables get this
// wrong more than anything else, and the host application shows it only as
// a broken character.
#include <ostream>

#include "app/link.h"
#include "app/run.h"

namespace headlink {

namespace {

// Which table's link cells point into which.
struct LinkColumn {
    std::size_t from;  // index in kTableFiles
    int32_t column;
    std::size_t to;
};
constexpr LinkColumn kLinkColumns[] = {
    {kAppearance, kAppearanceHeadColumn, kHeads},
    {kPortraits, kPortraitMainColumn, kAppearance},
    {kPortraits, kPortraitAlt1Column, kAppearance},
    {kPortraits, kPortraitAlt2Column, kAppearance},
};

// A row number as headlink writes it: decimal digits, no sign, no leading
// zero; -1 for any other text (or one past the 16-bit row counts).
int32_t rowNumber(std::string_view text) {
    if (text.empty() || text.size() > 5 || (text[0] == '0' && text.size() > 1)) return -1;
    int32_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return -1;
        value = value * 10 + (c - '0');
    }
    return value;
}

}  // namespace

std::vector<DanglingLink> danglingLinks(const std::array<Table, kTableCount>& tables) {
    std::vector<DanglingLink> found;
    for (const LinkColumn& link : kLinkColumns) {
        const Table& from = tables[link.from];
        for (int32_t row = 0; row < from.rowCount(); ++row) {
            const std::string_view text = from.cellText(row, link.column);
            if (text.empty() || text == "****") continue;
            const int32_t target = rowNumber(text);
            if (target < 0 || target >= tables[link.to].rowCount())
                found.push_back({link.from, row, link.column, link.to});
        }
    }
    return found;
}

int checkLinks(const Options& options, std::ostream& err) {
    const auto& names = options.outputs ? kOutputFiles : kTableFiles;
    std::array<Table, kTableCount> tables;
    bool loaded = true;
    for (std::size_t i = 0; i < tables.size(); ++i) {
        Result why;
        if (tables[i].load(names[i], &why) != 0) {
            err << "headlink: " << why.description() << '\n';
            loaded = false;
        }
    }
    if (!loaded) return 2;
    for (const LinkColumn& link : kLinkColumns) {
        const Table& table = tables[link.from];
        if (table.columnCount() > link.column) continue;
        err << "headlink: " << names[link.from] << ": has " << table.columnCount()
            << " columns, but its link cells are in column " << link.column << ", so it needs at least "
            << link.column + 1 << '\n';
        return 2;
    }
    const std::vector<DanglingLink> dangling = danglingLinks(tables);
    for (const DanglingLink& link : dangling) {
        const Table& from = tables[link.table];
        const std::string_view text = from.cellText(link.row, link.column);
        const std::string shown = quoted(text, kWhole);
        const auto labels = from.columnLabels();
        err << "headlink: " << names[link.table] << ": row " << link.row << " (label "
            << quoted(from.rowLabel(link.row), kWhole) << "): column " << link.column << " "
            << quoted(labels[static_cast<std::size_t>(link.column)], kWhole) << " = " << shown << ": no row "
            << shown.substr(1, shown.size() - 2) << " in " << names[link.target] << " ("
            << tables[link.target].rowCount() << " rows)\n";
    }
    return dangling.empty() ? 0 : 1;
}

}  // namespace headlink
