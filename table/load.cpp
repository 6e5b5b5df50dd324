// Loading: the file is walked region by region, each step checking its own
// bounds before it reads, so that no file, however damaged, makes us read
// outside it. A rejected file leaves the table cleared.
#include "fileio/fileio.h"
#include "table/format.h"
#include "table/table.h"

#include <algorithm>
#include <cstring>
#include <iterator>

namespace headlink {

namespace {

uint16_t readU16(std::span<const uint8_t> bytes, std::size_t at) { return format::readU16(&bytes[at]); }

Result malformed(const std::string& reason, std::size_t at) {
    return Result::failure(Status::malformed, reason, {}, 0, at);
}

// The steps of readLayout, in file order. Each reads what the steps before
// it found in `layout`, checks its own region's bounds before reading it,
// and either adds what it found or returns why the file is rejected.

// The table keeps positions in the file as 32-bit signed numbers.
Result checkSize(std::span<const uint8_t> bytes, FileLayout*) {
    if (bytes.empty()) return malformed("malformed: the file is empty", 0);
    if (bytes.size() > 0x7FFFFFFF) return malformed("malformed: the file is too large", 0);
    return {};
}

// Label text: the signature line and the column labels, up to the first
// NUL. Each tab from position 1 on closes a column label; position 0
// never counts, as the host application's reader skips it too.
Result readLabels(std::span<const uint8_t> bytes, FileLayout* layout) {
    const std::size_t fileSize = bytes.size();
    std::size_t labelEnd = 0;
    std::size_t columns = 0;
    while (labelEnd < fileSize && bytes[labelEnd] != 0) {
        ++labelEnd;
        if (labelEnd < fileSize && bytes[labelEnd] == '\t') ++columns;
    }
    if (labelEnd == fileSize) {
        const std::string_view start(reinterpret_cast<const char*>(bytes.data()), std::min<std::size_t>(fileSize, 8));
        if (start == format::kTextSignature)
            return malformed("malformed: this is a table in text form (2DA V2.0); headlink reads the binary "
                             "form (2DA V2.b), which \"twoda build TEXT OUT\" makes from it",
                             0);
        return malformed("malformed: no NUL byte ends the column labels", fileSize);
    }
    layout->labelEnd = labelEnd;
    layout->columns = columns;
    return {};
}

// The row count and the two bytes after it (the upper half of a 32-bit
// count in the host's format) must lie inside the file.
Result readRowCount(std::span<const uint8_t> bytes, FileLayout* layout) {
    const std::size_t labelEnd = layout->labelEnd;
    if (labelEnd + format::kRowLabelsAt > bytes.size())
        return malformed("malformed: the file ends inside the row count", labelEnd + format::kRowCountAt);
    // Those two bytes are the upper half of the format's 32-bit row count.
    // Offsets and counts here are 16-bit, so a table of more than 65,535
    // rows cannot be edited; read as labels and grid it would come out
    // corrupt. In a zero-row table the same two bytes come just before the
    // pool, where a real file holds zeros too.
    if (readU16(bytes, labelEnd + format::kRowCountHighAt) != 0)
        return malformed("malformed: the row count's upper half is not zero (more than 65,535 rows, "
                         "or a damaged file)",
                         labelEnd + format::kRowCountHighAt);
    layout->rows = readU16(bytes, labelEnd + format::kRowCountAt);
    return {};
}

// Row labels: one tab-terminated label per row. Only the tabs are
// counted; the labels themselves are kept verbatim. Labels are short,
// so tabs are counted a block at a time (vector code) while the block
// cannot hold the last one, then a byte at a time.
Result skipRowLabels(std::span<const uint8_t> bytes, FileLayout* layout) {
    const std::size_t fileSize = bytes.size();
    const std::size_t rows = layout->rows;
    std::size_t gridStart = layout->labelEnd + format::kRowCountHighAt;
    std::size_t found = 0;
    constexpr std::size_t kBlock = 256;
    while (gridStart + kBlock <= fileSize) {
        const auto tabs = static_cast<std::size_t>(
            std::count(bytes.begin() + static_cast<std::ptrdiff_t>(gridStart),
                       bytes.begin() + static_cast<std::ptrdiff_t>(gridStart + kBlock), uint8_t{'\t'}));
        if (found + tabs >= rows) break;
        found += tabs;
        gridStart += kBlock;
    }
    while (found < rows && gridStart < fileSize)
        if (bytes[gridStart++] == '\t') ++found;
    if (found < rows)
        return malformed("malformed: row labels end after " + std::to_string(found) + " of " +
                             std::to_string(rows) + " rows",
                         fileSize);
    layout->gridStart = gridStart;
    return {};
}

// Grid, then the 2-byte pool-size field: both must lie inside the file.
Result checkGrid(std::span<const uint8_t> bytes, FileLayout* layout) {
    const std::size_t gridBytes = layout->rows * layout->columns * 2;
    if (layout->gridStart + gridBytes + 2 > bytes.size())
        return malformed("malformed: the cell grid of " + std::to_string(layout->rows) + " rows x " +
                             std::to_string(layout->columns) + " columns runs past the end of the file",
                         layout->gridStart);
    layout->poolStart = layout->gridStart + gridBytes + 2;
    return {};
}

// The pool runs to the end of the file: within reach of 16-bit offsets,
// and closed by a NUL so that no string runs off its end.
Result checkPool(std::span<const uint8_t> bytes, FileLayout* layout) {
    const std::size_t poolBytes = bytes.size() - layout->poolStart;
    if (poolBytes > kMaxPoolBytes)
        return malformed("malformed: the string pool is " + std::to_string(poolBytes) +
                             " bytes, more than 16-bit offsets can reach",
                         layout->poolStart);
    if (poolBytes > 0 && bytes.back() != 0)
        return malformed("malformed: the last pool string has no closing NUL", bytes.size() - 1);
    layout->poolBytes = poolBytes;
    return {};
}

int fail(Table& table, Result* out, Result result) {
    table.clear();
    return report(out, std::move(result), 1);
}

}  // namespace

void Table::clear() { *this = Table(); }

int Table::load(const std::string& fileName, Result* result) {
    FileBytes file = readFile(fileName);
    if (!file.ok())
        return fail(*this, result,
                    file.result);
    return loadBytes(std::move(file.bytes), fileName, result);
}

Result cellOutsidePool(std::size_t row, std::size_t column, std::size_t offset, std::size_t poolBytes,
                       std::size_t at) {
    std::string why = "malformed: row ";
    why += std::to_string(row);
    why += ", column ";
    why += std::to_string(column);
    why += " points outside the string pool (offset ";
    why += std::to_string(offset);
    why += ", pool of ";
    why += std::to_string(poolBytes);
    why += " bytes)";
    return Result::failure(Status::malformed, why, {}, 0, at);
}

Result readLayout(std::span<const uint8_t> bytes, FileLayout* layout) {
    using Step = Result (*)(std::span<const uint8_t>, FileLayout*);
    FileLayout found;
    for (Step step : {checkSize, readLabels, readRowCount, skipRowLabels, checkGrid, checkPool}) {
        Result result = step(bytes, &found);
        if (!result) return result;
    }
    *layout = found;
    return {};
}

int Table::loadBytes(std::span<const uint8_t> bytes, const std::string& name, Result* result) {
    return loadBytes(std::vector<uint8_t>(bytes.begin(), bytes.end()), name, result);
}

int Table::loadBytes(std::vector<uint8_t>&& bytes, const std::string& name, Result* result) {
    clear();
    FileLayout layout;
    Result shape = readLayout(bytes, &layout);
    shape.file = name;
    if (!shape) return fail(*this, result, std::move(shape));
    const auto [labelEnd, columns, rows, gridStart, poolStart, poolBytes] = layout;
    // Every cell must point into the pool. An offset past its end would be
    // taken over by the next string appended, silently changing rows no
    // script touched. An offset into the middle of a string is fine: it
    // reads as that string's tail. One pass over the grid tells whether any
    // cell is outside; only then is the first such cell looked for. The
    // pass ORs together each offset's excess over the last valid one, a
    // saturating subtraction that compilers turn into vector code; a
    // running maximum would be a chain of dependent steps, twice as slow.
    const std::size_t cells = rows * columns;
    const uint8_t* grid = bytes.data() + gridStart;
    const auto lastValid = static_cast<uint16_t>(poolBytes == 0 ? 0 : poolBytes - 1);
    uint16_t excess = 0;
    for (std::size_t i = 0; i < 2 * cells; i += 2) {
        const uint16_t offset = format::readU16(grid + i);
        excess |= offset > lastValid ? static_cast<uint16_t>(offset - lastValid) : uint16_t{0};
    }
    if (cells > 0 && (excess != 0 || poolBytes == 0)) {
        std::size_t cell = 0;
        while (readU16(bytes, gridStart + 2 * cell) < poolBytes) ++cell;
        Result outside = cellOutsidePool(cell / columns, cell % columns, readU16(bytes, gridStart + 2 * cell),
                                         poolBytes, gridStart + 2 * cell);
        outside.file = name;
        return fail(*this, result, std::move(outside));
    }

    name_ = name;
    // Writers set this field to the pool's length, and some readers check
    // it; a few writers leave it 0. A field that was the pool's length is
    // kept so as the pool grows; any other value is kept as read, since we
    // cannot know what its writer meant. Without rows the two bytes read
    // here are the row count's upper half (see readLayout), never a length.
    poolSizeField_ = readU16(bytes, poolStart - 2);
    poolSizeFieldTracksPool_ = rows > 0 && poolSizeField_ == poolBytes;
    pool_.assign(bytes.begin() + static_cast<std::ptrdiff_t>(poolStart), bytes.end());
    // The header block and the grid stay in the file's own bytes.
    file_ = std::move(bytes);
    file_.resize(poolStart - 2);
    addedCells_.reserve(static_cast<std::size_t>(kMaxAppendedRows) * columns);
    columnCount_ = static_cast<int32_t>(columns);
    countedFrom_ = loadedRowCount_ = rowCount_ = static_cast<int32_t>(rows);
    lastPatchedRow_ = static_cast<uint16_t>(rows);
    labelEnd_ = static_cast<int32_t>(labelEnd);
    gridStart_ = static_cast<int32_t>(gridStart);
    indexPool();
    return report(result, Result{}, 0);
}

// Every string of the pool gets an entry, empty strings and repeated texts
// included, in pool order: lookups take the first match in that order.
// The hash table is sized at once for every string (one NUL each), so that
// none is placed twice as it grows; it never shrinks, so indexing anew a
// pool that did not grow allocates nothing.
void Table::indexPool() {
    const auto strings = static_cast<std::size_t>(std::count(pool_.begin(), pool_.end(), uint8_t{0}));
    std::size_t slots = std::max<std::size_t>(64, firstCopy_.size());
    while (slots < 2 * (strings + 1)) slots *= 2;
    firstCopy_.assign(slots, 0);
    poolIndex_.clear();
    poolIndex_.reserve(strings);
    for (std::size_t at = 0; at < pool_.size();) {
        // Each string ends at a NUL: the pool's last byte is one (checked above).
        const std::string_view text(reinterpret_cast<const char*>(pool_.data()) + at);
        indexString(static_cast<uint16_t>(at), text);
        at += text.size() + 1;
    }
}

}  // namespace headlink
