// Writing: the header block as read (with the new row count), a label for
// each appended row, the grid, the pool-size field as read, and the pool.
#include "fileio/fileio.h"
#include "table/table.h"

namespace headlink {

namespace {

void putU16(std::vector<uint8_t>& out, uint16_t value) {
    out.push_back(static_cast<uint8_t>(value & 0xFF));
    out.push_back(static_cast<uint8_t>(value >> 8));
}

}  // namespace

std::string decimal(int32_t value) { return std::to_string(value); }

std::vector<uint8_t> Table::bytes() const {
    std::vector<uint8_t> out(headerBlock_);
    if (out.empty()) return out;  // a cleared table has nothing to write
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
    for (uint16_t offset : cellGrid_) putU16(out, offset);
    putU16(out, poolSizeField_);
    out.insert(out.end(), pool_.begin(), pool_.end());
    return out;
}

int Table::save(const std::string& fileName, std::string* why) const {
    return writeFileSafely(fileName, bytes(), why) ? 0 : 1;
}

}  // namespace headlink
