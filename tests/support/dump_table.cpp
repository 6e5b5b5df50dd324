// dump_table FILE                 lists every row of a table
// dump_table FILE --changes OLD   lists only rows that are new in FILE or
//                                 whose cells differ from OLD
// A small viewer for checking what a run did; cells show their text.
#include <iostream>
#include <string>
#include <vector>

#include "table/table.h"

namespace {

using headlink::Table;

std::string cellText(const Table& t, int32_t row, int32_t column) {
    std::string_view text;
    uint16_t offset = t.cellOffset(row, column);
    // Built piece by piece: at -O3 GCC 12 warns falsely (-Wrestrict) about
    // "text" + std::string.
    if (!t.poolString(offset, &text)) {
        std::string shown = "<offset ";
        shown += std::to_string(offset);
        shown += " outside the pool>";
        return shown;
    }
    std::string shown = "\"";
    shown += text;
    shown += '"';
    return shown;
}

// Column labels: the label text split at its tabs, the signature line cut off the first.
std::vector<std::string> columnLabels(const Table& t) {
    const auto& header = t.headerBlock();
    std::vector<std::string> labels;
    std::string current;
    for (int32_t i = 0; i < t.labelEnd(); ++i) {
        char c = static_cast<char>(header[static_cast<std::size_t>(i)]);
        if (c == '\t' && i > 0) {
            labels.push_back(current);
            current.clear();
        } else if (c == '\n') {
            current.clear();
        } else {
            current += c;
        }
    }
    labels.resize(static_cast<std::size_t>(t.columnCount()));
    return labels;
}

std::vector<std::string> rowLabels(const Table& t) {
    const auto& header = t.headerBlock();
    std::vector<std::string> labels;
    std::string current;
    for (auto i = static_cast<std::size_t>(t.labelEnd()) + 5; i < header.size(); ++i) {
        if (header[i] == '\t') {
            labels.push_back(current);
            current.clear();
        } else {
            current += static_cast<char>(header[i]);
        }
    }
    labels.resize(static_cast<std::size_t>(t.loadedRowCount()));
    for (int32_t r = t.loadedRowCount(); r < t.rowCount(); ++r) labels.push_back(std::to_string(r));
    return labels;
}

bool load(Table& t, const char* name) {
    std::string why;
    if (t.load(name, &why) == 0) return true;
    std::cerr << "dump_table: " << name << ": " << why << '\n';
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2 && !(argc == 4 && std::string(argv[2]) == "--changes")) {
        std::cerr << "usage: dump_table FILE [--changes OLD]\n";
        return 2;
    }
    Table table, old;
    if (!load(table, argv[1]) || (argc == 4 && !load(old, argv[3]))) return 1;
    const auto columns = columnLabels(table);
    const auto labels = rowLabels(table);
    std::cout << argv[1] << ": " << table.rowCount() << " rows, " << table.columnCount()
              << " columns, " << table.pool().size() << " pool bytes\n";
    bool any = false;
    for (int32_t r = 0; r < table.rowCount(); ++r) {
        bool isNew = argc == 4 && r >= old.rowCount();
        std::vector<int32_t> shown;
        for (int32_t c = 0; c < table.columnCount(); ++c) {
            bool changed = argc == 4 && !isNew && c < old.columnCount() &&
                           cellText(table, r, c) != cellText(old, r, c);
            if (argc == 2 || isNew || changed) shown.push_back(c);
        }
        if (shown.empty()) continue;
        any = true;
        std::cout << "row " << labels[static_cast<std::size_t>(r)] << (isNew ? " (new)" : "") << '\n';
        for (int32_t c : shown) {
            std::cout << "  " << c << " " << columns[static_cast<std::size_t>(c)] << " = "
                      << cellText(table, r, c);
            if (argc == 4 && !isNew) std::cout << "   (was " << cellText(old, r, c) << ")";
            std::cout << '\n';
        }
    }
    if (!any && argc == 4) std::cout << "  no rows changed\n";
    return 0;
}
