// Cell and row operations. Cells hold pool offsets, never text; new texts
// are appended to the pool, and an existing string is reused whenever the
// lookup finds one, so repeated values do not bloat the pool.
#include "table/table.h"

#include <algorithm>

namespace headlink {

namespace {

// FNV-1a over the text folded to lower case (A-Z only), so that texts
// equal apart from that case hash alike.
std::size_t foldedHash(std::string_view text) {
    uint64_t hash = 14695981039346656037ull;
    for (char c : text) hash = (hash ^ static_cast<uint8_t>(foldAscii(c))) * 1099511628211ull;
    return static_cast<std::size_t>(hash ^ (hash >> 32));
}


}  // namespace

std::size_t Table::slotOf(std::string_view text) const {
    const std::size_t mask = firstCopy_.size() - 1;
    for (std::size_t slot = foldedHash(text) & mask;; slot = (slot + 1) & mask) {
        const uint32_t entry = firstCopy_[slot];
        if (entry == 0) return slot;
        std::string_view there;
        poolString(static_cast<uint16_t>(entry - 1), &there);
        if (sameText(there, text)) return slot;
    }
}

void Table::indexString(uint16_t offset, std::string_view text) {
    // Sized by every string, repeated texts included, as indexPool sizes
    // it: a pool cut back to fewer strings is then indexed anew in the
    // slots already held.
    if (2 * (poolIndex_.size() + 1) > firstCopy_.size()) {
        // Grow to twice the slots and place every entry anew.
        std::vector<uint32_t> old(std::max<std::size_t>(64, 2 * firstCopy_.size()), 0);
        old.swap(firstCopy_);
        for (uint32_t entry : old) {
            if (entry == 0) continue;
            std::string_view there;
            poolString(static_cast<uint16_t>(entry - 1), &there);
            firstCopy_[slotOf(there)] = entry;
        }
    }
    poolIndex_.push_back(offset);
    // Only the first copy in pool order is ever found.
    const std::size_t slot = slotOf(text);
    if (firstCopy_[slot] == 0) firstCopy_[slot] = static_cast<uint32_t>(offset) + 1;
}

uint16_t Table::findString(std::string_view text) const {
    // The first match wins even when it lies at offset 0, which then reads
    // as "not found": the host's tools have always behaved so, and stored
    // files depend on it.
    if (firstCopy_.empty()) return 0;
    const uint32_t entry = firstCopy_[slotOf(text)];
    return entry == 0 ? 0 : static_cast<uint16_t>(entry - 1);
}

int32_t Table::findRow(std::string_view text, int32_t column) const {
    if (column < 0 || column >= columnCount_) return -1;
    uint16_t offset = findString(text);
    if (offset == 0) return -1;
    // Matched by offset: a row pointing at another copy of the same text is
    // not the row we are looking for.
    for (int32_t row = 0; row < rowCount_; ++row)
        if (cellOffset(row, column) == offset) return row;
    return -1;
}

int Table::setCell(int32_t row, int32_t column, std::string_view text, Result* result) {
    if (row < 0 || row >= rowCount_ || column < 0 || column >= columnCount_)
        return report(result,
                      Result::failure(Status::outOfRange, "cell (" + std::to_string(row) + ", " +
                                                              std::to_string(column) + ") is outside the table"),
                      1);
    // A NUL would end the stored string early; keep only what precedes it.
    text = text.substr(0, text.find('\0'));
    uint16_t offset = findString(text);
    if (offset == 0) {
        if (pool_.size() + text.size() + 1 > kMaxPoolBytes)
            return report(result,
                          Result::failure(Status::limit, "the table's texts would take more than " +
                                                             std::to_string(kMaxPoolBytes) +
                                                             " bytes, the most a table can hold"),
                          1);
        offset = static_cast<uint16_t>(pool_.size());
        // `text` may be a view of the pool itself (a cell's text), which
        // growing the pool would move: copy it first.
        const std::string copy(text);
        pool_.insert(pool_.end(), copy.begin(), copy.end());
        pool_.push_back(0);
        indexString(offset, copy);
    }
    setOffset(row, column, offset);
    return report(result, Result{}, 0);
}

int32_t Table::appendRow(int32_t templateRow, Result* result) {
    if (templateRow < 0 || templateRow >= rowCount_)
        return report(result,
                      Result::failure(Status::outOfRange,
                                      "template row " + std::to_string(templateRow) + " does not exist"),
                      -1);
    if (rowCount_ - countedFrom_ >= kMaxAppendedRows)
        return report(result,
                      Result::failure(Status::limit, countedFor_.empty()
                                                         ? "no more than " + std::to_string(kMaxAppendedRows) +
                                                               " rows can be added to one table"
                                                         : "the table already had " + std::to_string(kMaxAppendedRows) +
                                                               " rows added by " + countedFor_),
                      -1);
    if (rowCount_ >= kMaxRows)
        return report(result,
                      Result::failure(Status::limit, "the table already holds " + std::to_string(kMaxRows) +
                                                         " rows, the most it can"),
                      -1);
    for (int32_t c = 0; c < columnCount_; ++c) addedCells_.push_back(cellOffset(templateRow, c));
    return report(result, Result{}, rowCount_++);
}

Table::Mark Table::mark(int32_t row) const {
    Mark m{rowCount_, pool_.size(), poolIndex_.size(), row, {}};
    if (row >= 0 && row < rowCount_)
        for (int32_t c = 0; c < columnCount_; ++c) m.cells.push_back(cellOffset(row, c));
    return m;
}

void Table::rollBack(const Mark& m) {
    rowCount_ = m.rows;
    addedCells_.resize(static_cast<std::size_t>(m.rows - loadedRowCount_) * static_cast<std::size_t>(columnCount_));
    for (std::size_t c = 0; c < m.cells.size(); ++c) setOffset(m.row, static_cast<int32_t>(c), m.cells[c]);
    if (pool_.size() != m.poolBytes) {
        // Strings were added: drop them and index the pool anew (only a
        // failing step pays for this). Nothing here allocates, so this
        // also undoes a step that ran out of memory.
        pool_.resize(m.poolBytes);
        indexPool();
    }
}

}  // namespace headlink
