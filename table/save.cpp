// Writing: the header block as read (with the new row count), a label for
// each appended row, the grid, the pool-size field, and the pool.
#include <unordered_map>

#include "fileio/fileio.h"
#include "table/format.h"
#include "table/table.h"

namespace headlink {

// setCell keeps the pool within 16-bit offsets, so its length always fits.
uint16_t Table::poolSizeField() const {
    return poolSizeFieldTracksPool_ ? static_cast<uint16_t>(pool_.size()) : poolSizeField_;
}

// The loaded parts are the table's own bytes, written as they are; only the
// row count, the added rows and the pool-size field are put together here.
Table::Parts Table::parts(Scratch* s) const {
    if (file_.empty()) return {};
    format::writeU16(s->count, static_cast<uint16_t>(rowCount_));
    // An appended row is labelled with its own index. The separator repeats
    // the header's last byte, which in a well-formed file is the tab that
    // closes the last row label, so odd files stay consistently odd.
    const uint8_t separator = file_[static_cast<std::size_t>(gridStart_) - 1];
    for (int32_t row = loadedRowCount_; row < rowCount_; ++row) {
        const std::string label = decimal(row);
        s->labels.insert(s->labels.end(), label.begin(), label.end());
        s->labels.push_back(separator);
    }
    s->added.resize(2 * addedCells_.size());
    for (std::size_t i = 0; i < addedCells_.size(); ++i) format::writeU16(&s->added[2 * i], addedCells_[i]);
    format::writeU16(s->poolSizeField, poolSizeField());
    const std::span<const uint8_t> file(file_);
    const auto labelEnd = static_cast<std::size_t>(labelEnd_);
    const auto gridStart = static_cast<std::size_t>(gridStart_);
    return {file.subspan(0, labelEnd + format::kRowCountAt), s->count,
            file.subspan(labelEnd + format::kRowCountHighAt, gridStart - labelEnd - format::kRowCountHighAt),
            s->labels, file.subspan(gridStart), s->added, s->poolSizeField, pool_};
}

std::vector<uint8_t> Table::bytes() const {
    Scratch scratch;
    const auto all = parts(&scratch);
    std::size_t size = 0;
    for (const auto& part : all) size += part.size();
    std::vector<uint8_t> out;
    out.reserve(size);
    for (const auto& part : all) out.insert(out.end(), part.begin(), part.end());
    return out;
}

Result tableBytes(const TableRows& rows, std::vector<uint8_t>* out) {
    std::vector<uint8_t> pool;
    std::vector<uint16_t> grid;
    grid.reserve(rows.cells.size());
    std::unordered_map<std::string_view, uint16_t> offsets;
    const std::size_t columns = rows.columnLabels.size();
    for (std::size_t i = 0; i < rows.cells.size(); ++i) {
        const std::string_view text = rows.cells[i];
        const auto [at, added] = offsets.try_emplace(text, static_cast<uint16_t>(pool.size()));
        if (added && pool.size() + text.size() + 1 > kMaxPoolBytes) {
            const std::size_t row = columns == 0 ? 0 : i / columns;
            return Result::failure(Status::limit,
                                   "the texts so far need a string pool of more than 65,535 bytes, the most 16-bit "
                                   "offsets reach",
                                   {}, row < rows.lines.size() ? rows.lines[row] : 0);
        }
        if (added) {
            pool.insert(pool.end(), text.begin(), text.end());
            pool.push_back(0);
        }
        grid.push_back(at->second);
    }
    std::vector<uint8_t> file(format::kSignature.begin(), format::kSignature.end());
    file.push_back('\n');
    for (const std::string_view label : rows.columnLabels) {
        file.insert(file.end(), label.begin(), label.end());
        file.push_back('\t');
    }
    file.push_back(0);
    format::appendU16(file, static_cast<uint16_t>(rows.rowLabels.size()));
    format::appendU16(file, 0);  // the row count's upper half
    for (const std::string_view label : rows.rowLabels) {
        file.insert(file.end(), label.begin(), label.end());
        file.push_back('\t');
    }
    file.reserve(file.size() + 2 * grid.size() + 2 + pool.size());
    for (const uint16_t offset : grid) format::appendU16(file, offset);
    format::appendU16(file, static_cast<uint16_t>(pool.size()));
    file.insert(file.end(), pool.begin(), pool.end());
    *out = std::move(file);
    return {};
}

// Written in parts, so that the largest table is never copied whole.
int Table::save(const std::string& fileName, Result* result) const {
    Scratch scratch;
    const auto all = parts(&scratch);
    Result written = writeFileSafely(fileName, all);
    const int status = written ? 0 : 1;
    return report(result, std::move(written), status);
}

}  // namespace headlink
