// Writing: the header block as read (with the new row count), a label for
// each appended row, the grid, the pool-size field as read, and the pool.
#include <bit>
#include <cstring>

#include "fileio/fileio.h"
#include "table/table.h"

namespace headlink {

namespace {

void putU16(std::vector<uint8_t>& out, uint16_t value) {
    out.push_back(static_cast<uint8_t>(value & 0xFF));
    out.push_back(static_cast<uint8_t>(value >> 8));
}

// The grid as the file stores it, 16-bit little-endian values: on a
// little-endian machine that is the vector's own memory, written as it is.
std::span<const uint8_t> storedGrid(const std::vector<uint16_t>& grid, std::vector<uint8_t>* scratch) {
    if constexpr (std::endian::native == std::endian::little) {
        return {reinterpret_cast<const uint8_t*>(grid.data()), grid.size() * 2};
    } else {
        scratch->clear();
        for (uint16_t offset : grid) putU16(*scratch, offset);
        return *scratch;
    }
}

}  // namespace

std::string decimal(int32_t value) { return std::to_string(value); }

std::vector<uint8_t> Table::headerWithRows() const {
    std::vector<uint8_t> out(headerBlock_);
    const auto count = static_cast<uint16_t>(rowCount_);
    out[static_cast<std::size_t>(labelEnd_) + 1] = static_cast<uint8_t>(count & 0xFF);
    out[static_cast<std::size_t>(labelEnd_) + 2] = static_cast<uint8_t>(count >> 8);
    // An appended row is labelled with its own index. The separator repeats
    // the header's last byte, which in a well-formed file is the tab that
    // closes the last row label, so odd files stay consistently odd.
    const uint8_t separator = headerBlock_.back();
    for (int32_t row = loadedRowCount_; row < rowCount_; ++row) {
        std::string label = decimal(row);
        out.insert(out.end(), label.begin(), label.end());
        out.push_back(separator);
    }
    return out;
}

std::vector<uint8_t> Table::bytes() const {
    if (headerBlock_.empty()) return {};  // a cleared table has nothing to write
    std::vector<uint8_t> out = headerWithRows();
    std::vector<uint8_t> scratch;
    const std::span<const uint8_t> grid = storedGrid(cellGrid_, &scratch);
    out.reserve(out.size() + grid.size() + 2 + pool_.size());
    out.insert(out.end(), grid.begin(), grid.end());
    putU16(out, poolSizeField_);
    out.insert(out.end(), pool_.begin(), pool_.end());
    return out;
}

// Written in parts, so that the largest table is never copied whole.
int Table::save(const std::string& fileName, std::string* why) const {
    std::string ignored;
    if (why == nullptr) why = &ignored;
    if (headerBlock_.empty()) return writeFileSafely(fileName, std::span<const uint8_t>(), why) ? 0 : 1;
    const std::vector<uint8_t> header = headerWithRows();
    std::vector<uint8_t> scratch;
    const uint8_t field[2] = {static_cast<uint8_t>(poolSizeField_ & 0xFF), static_cast<uint8_t>(poolSizeField_ >> 8)};
    const std::span<const uint8_t> parts[] = {header, storedGrid(cellGrid_, &scratch), field, pool_};
    return writeFileSafely(fileName, parts, why) ? 0 : 1;
}

}  // namespace headlink
