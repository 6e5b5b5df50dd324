// Builds binary table files for tests and fixtures, including malformed ones.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace headlink::testing {

struct TableLayout {
    std::string signature = "2DA V2.b\n";  // free text before the column labels
    std::vector<std::string> columns;
    std::vector<std::string> rowLabels;    // one per row; a tab follows each
    // Cell texts, row by row. Equal texts share one pool string, placed in
    // order of first use.
    std::vector<std::vector<std::string>> cells;
    uint16_t upperRowCount = 0;            // the two bytes after the row count
    // Raw mode: when rawPool is set, the pool is these bytes and the grid is
    // rawGrid (row-major offsets) instead of anything built from `cells`.
    std::optional<std::vector<uint8_t>> rawPool;
    std::vector<uint16_t> rawGrid;
    std::optional<uint16_t> poolSizeField;  // default: the pool's length
};

std::vector<uint8_t> buildTable(const TableLayout& layout);

// Row labels "0", "1", ... for n rows.
std::vector<std::string> numberedLabels(std::size_t n);

}  // namespace headlink::testing
