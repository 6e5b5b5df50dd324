#include "tests/support/table_builder.h"

#include <map>

namespace headlink::testing {

namespace {

void putU16(std::vector<uint8_t>& out, uint16_t v) {
    out.push_back(static_cast<uint8_t>(v & 0xFF));
    out.push_back(static_cast<uint8_t>(v >> 8));
}

void putText(std::vector<uint8_t>& out, const std::string& s) { out.insert(out.end(), s.begin(), s.end()); }

}  // namespace

std::vector<std::string> numberedLabels(std::size_t n) {
    std::vector<std::string> labels;
    for (std::size_t i = 0; i < n; ++i) labels.push_back(std::to_string(i));
    return labels;
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
