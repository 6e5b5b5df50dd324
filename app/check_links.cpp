// The link check: every link cell must be empty, "****", or the number of a
// row that exists in the table it points into. Hand-edited tables get this
// wrong more than anything else, and the host application shows it only as
// a broken character.
#include <ostream>

#include "app/link.h"
#include "app/run.h"
#include "game/install.h"

namespace headlink {

namespace {

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
    const LinkColumns columns({&tables[0], &tables[1], &tables[2]});
    for (std::size_t i = 0; i < kLinks.size(); ++i) {
        const Link& link = kLinks[i];
        const Table& from = tables[link.table];
        const TableId to = tableOf(link.source);
        for (int32_t row = 0; row < from.rowCount(); ++row) {
            const std::string_view text = from.cellText(row, columns.column(i));
            if (text.empty() || text == "****") continue;
            const int32_t target = rowNumber(text);
            if (target < 0 || target >= tables[to].rowCount()) found.push_back({link.table, row, columns.column(i), to});
        }
    }
    return found;
}

int checkLinks(const Options& options, const std::string& game, std::ostream& err) {
    const auto& names = options.outputs ? kOutputFiles : kTableFiles;
    std::array<Table, kTableCount> tables;
    // The game's own tables with --game; the outputs are always the folder's.
    RunInputs fromGame;
    auto read = [&] {
        fromGame = RunInputs{};
        readFromGame(game, &fromGame);
    };
    if (!game.empty() && !options.outputs && !readSteadily(game, read)) {
        err << "headlink: " << options.game << ": " << kGameBusy << '\n';
        return 2;
    }
    bool loaded = true;
    for (std::size_t i = 0; i < tables.size(); ++i) {
        Result why = fromGame.tables[i].result;
        if (game.empty() || options.outputs ? tables[i].load(names[i], &why) != 0
            : !why || tables[i].loadBytes(std::move(fromGame.tables[i].bytes), names[i], &why) != 0) {
            if (why.file.empty()) why.file = names[i];
            err << "headlink: " << why.description() << '\n';
            loaded = false;
        }
    }
    if (!loaded) return 2;
    LinkColumns columns;
    if (const Result why = findLinkColumns({&tables[0], &tables[1], &tables[2]}, names, &columns); !why) {
        err << "headlink: " << why.description() << '\n';
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
            << quoted(static_cast<std::size_t>(link.column) < labels.size() ? labels[static_cast<std::size_t>(link.column)] : std::string_view(), kWhole) << " = " << shown << ": no row "
            << shown.substr(1, shown.size() - 2) << " in " << names[link.target] << " ("
            << tables[link.target].rowCount() << " rows)\n";
    }
    return dangling.empty() ? 0 : 1;
}

}  // namespace headlink
