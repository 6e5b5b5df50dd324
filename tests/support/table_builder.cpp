#include "tests/support/table_builder.h"

#include <map>

#include "tests/support/fixtures.h"

namespace headlink::testing {

namespace {

void putU16(std::vector<uint8_t>& out, uint16_t v) {
    out.push_back(static_cast<uint8_t>(v & 0xFF));
    out.push_back(static_cast<uint8_t>(v >> 8));
}

void putText(std::vector<uint8_t>& out, const std::string& s) { out.insert(out.end(), s.begin(), s.end()); }

// The i-th text: base-36 digits, so that 15,000 of them fill most of a pool.
std::string word(int32_t i) {
    static const char* digits = "0123456789abcdefghijklmnopqrstuvwxyz";
    std::string out;
    do {
        out.insert(out.begin(), digits[i % 36]);
        i /= 36;
    } while (i > 0);
    return out;
}

}  // namespace

std::vector<std::string> numberedLabels(std::size_t n) {
    std::vector<std::string> labels;
    for (std::size_t i = 0; i < n; ++i) labels.push_back(std::to_string(i));
    return labels;
}

TableLayout gridLayout(std::vector<std::string> columns, std::vector<std::vector<std::string>> cells) {
    TableLayout layout;
    layout.columns = std::move(columns);
    layout.rowLabels = numberedLabels(cells.size());
    layout.cells = std::move(cells);
    return layout;
}

std::vector<uint8_t> gridTable(std::vector<std::string> columns, std::vector<std::vector<std::string>> cells) {
    return buildTable(gridLayout(std::move(columns), std::move(cells)));
}

TableLayout longStringLayout(std::vector<std::string> columns, std::size_t poolBytes) {
    TableLayout layout;
    layout.rawGrid = std::vector<uint16_t>(columns.size(), 0);
    layout.columns = std::move(columns);
    layout.rowLabels = numberedLabels(1);
    layout.rawPool = std::vector<uint8_t>(poolBytes, 'p');
    layout.rawPool->back() = 0;
    return layout;
}

std::vector<uint8_t> tableWithPoolStrings(int32_t rows, int32_t columns, int32_t strings) {
    TableLayout layout;
    layout.columns = names("col", columns);
    layout.rowLabels = numberedLabels(static_cast<std::size_t>(rows));
    std::vector<uint8_t> pool;
    std::vector<uint16_t> offsets;
    for (int32_t i = 0; i < strings; ++i) {
        offsets.push_back(static_cast<uint16_t>(pool.size()));
        const std::string text = word(i);
        pool.insert(pool.end(), text.begin(), text.end());
        pool.push_back(0);
    }
    layout.rawGrid.reserve(static_cast<std::size_t>(int64_t{rows} * columns));
    for (int64_t cell = 0; cell < int64_t{rows} * columns; ++cell) {
        const int64_t text = cell < strings ? cell : (cell * 7919 + cell / columns) % strings;
        layout.rawGrid.push_back(offsets[static_cast<std::size_t>(text)]);
    }
    layout.rawPool = std::move(pool);
    return buildTable(layout);
}

std::vector<uint8_t> buildTable(const TableLayout& layout) {
    std::vector<uint8_t> pool;
    std::vector<uint16_t> grid = layout.rawGrid;
    if (layout.rawPool) {
        pool = *layout.rawPool;
    } else {
        grid.clear();
        std::map<std::string, uint16_t> offsets;
        for (const auto& row : layout.cells) {
            for (const auto& text : row) {
                auto [it, added] = offsets.emplace(text, static_cast<uint16_t>(pool.size()));
                if (added) {
                    putText(pool, text);
                    pool.push_back(0);
                }
                grid.push_back(it->second);
            }
        }
    }

    std::vector<uint8_t> out;
    putText(out, layout.signature);
    for (const auto& column : layout.columns) putText(out, column + "\t");
    out.push_back(0);
    putU16(out, static_cast<uint16_t>(layout.rowLabels.size()));
    putU16(out, layout.upperRowCount);
    for (const auto& label : layout.rowLabels) putText(out, label + "\t");
    for (uint16_t offset : grid) putU16(out, offset);
    putU16(out, layout.poolSizeField.value_or(static_cast<uint16_t>(pool.size())));
    out.insert(out.end(), pool.begin(), pool.end());
    return out;
}

}  // namespace headlink::testing
