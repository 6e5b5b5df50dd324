// Reading a loaded table: its header's lines and labels, and where each
// cell's offset lives (in the file's own bytes for a loaded row, apart for
// an added one).
#include <algorithm>

#include "table/format.h"
#include "table/table.h"

namespace headlink {

std::string_view Table::signatureLine() const {
    std::string_view header(reinterpret_cast<const char*>(file_.data()), static_cast<std::size_t>(labelEnd_));
    header = header.substr(0, header.find('\n'));
    if (!header.empty() && header.back() == '\r') header.remove_suffix(1);
    return header;
}

std::vector<std::string_view> Table::columnLabels() const {
    const std::string_view header(reinterpret_cast<const char*>(file_.data()),
                                  static_cast<std::size_t>(labelEnd_));
    std::vector<std::string_view> labels;
    // A tab at byte 0 closes no column, so labels are looked for from byte 1.
    std::size_t firstTab = header.find('\t', 1);
    std::size_t start = 0;
    if (firstTab != std::string_view::npos) {
        std::size_t lineEnd = header.rfind('\n', firstTab);
        start = lineEnd == std::string_view::npos ? 0 : lineEnd + 1;
    }
    for (std::size_t at = header.empty() ? 0 : 1; at < header.size(); ++at) {
        if (header[at] != '\t') continue;
        labels.push_back(header.substr(start, at - start));
        start = at + 1;
    }
    return labels;
}

std::string Table::rowLabel(int32_t row) const {
    if (row >= loadedRowCount_) return decimal(row);
    // Row labels follow the row count and its (zero) upper half, each closed by a tab.
    std::size_t at = static_cast<std::size_t>(labelEnd_) + format::kRowLabelsAt;
    for (int32_t r = 0; r < row; ++r) {
        while (file_[at] != '\t') ++at;
        ++at;
    }
    std::size_t end = at;
    while (file_[end] != '\t') ++end;
    return std::string(file_.begin() + static_cast<std::ptrdiff_t>(at),
                       file_.begin() + static_cast<std::ptrdiff_t>(end));
}

std::vector<std::string> Table::rowLabels(int32_t count) const {
    count = std::clamp(count, 0, rowCount_);
    std::vector<std::string> labels;
    labels.reserve(static_cast<std::size_t>(count));
    std::size_t at = static_cast<std::size_t>(labelEnd_) + format::kRowLabelsAt;
    for (int32_t r = 0; r < std::min(count, loadedRowCount_); ++r) {
        std::size_t end = at;
        while (file_[end] != '\t') ++end;
        labels.emplace_back(file_.begin() + static_cast<std::ptrdiff_t>(at),
                            file_.begin() + static_cast<std::ptrdiff_t>(end));
        at = end + 1;
    }
    for (int32_t r = loadedRowCount_; r < count; ++r) labels.push_back(decimal(r));
    return labels;
}

// A cell's place: for a loaded row, the byte in file_ where its offset
// starts; for an added row, its index in addedCells_.
std::size_t Table::cellIndex(int32_t row, int32_t column) const {
    const bool added = row >= loadedRowCount_;
    const auto cell = static_cast<std::size_t>(added ? row - loadedRowCount_ : row) *
                          static_cast<std::size_t>(columnCount_) +
                      static_cast<std::size_t>(column);
    return added ? cell : static_cast<std::size_t>(gridStart_) + 2 * cell;
}

uint16_t Table::cellOffset(int32_t row, int32_t column) const {
    const std::size_t at = cellIndex(row, column);
    if (row >= loadedRowCount_) return addedCells_[at];
    return format::readU16(&file_[at]);
}

void Table::setOffset(int32_t row, int32_t column, uint16_t offset) {
    const std::size_t at = cellIndex(row, column);
    if (row >= loadedRowCount_) {
        addedCells_[at] = offset;
        return;
    }
    format::writeU16(&file_[at], offset);
}

bool Table::poolString(uint16_t offset, std::string_view* text) const {
    if (offset >= pool_.size()) return false;
    // The pool always ends with a NUL, so this stays inside it.
    const char* start = reinterpret_cast<const char*>(pool_.data()) + offset;
    *text = std::string_view(start);
    return true;
}

std::string_view Table::cellText(int32_t row, int32_t column) const {
    std::string_view text;
    poolString(cellOffset(row, column), &text);  // every cell points into the pool (checked at load)
    return text;
}

}  // namespace headlink
