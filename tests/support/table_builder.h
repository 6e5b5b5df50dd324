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

// These columns and cells, the rows labelled 0, 1, ...
TableLayout gridLayout(std::vector<std::string> columns, std::vector<std::vector<std::string>> cells);
std::vector<uint8_t> gridTable(std::vector<std::string> columns, std::vector<std::vector<std::string>> cells);

// One row (labelled 0) of these columns, every cell at offset 0 of a pool
// that is a single string: poolBytes - 1 letters 'p' and its NUL.
TableLayout longStringLayout(std::vector<std::string> columns, std::size_t poolBytes);

// `rows` x `columns` (labelled col0, col1, ...; rows numbered) whose cells
// are drawn from `strings` short texts, all of them used, so the pool holds
// exactly those: the first cells take them in order, later ones repeat them
// in a scattered way. The same bytes on every call.
std::vector<uint8_t> tableWithPoolStrings(int32_t rows, int32_t columns, int32_t strings);

}  // namespace headlink::testing
