// A binary 2DA table held in memory.
//
// The file is read as five regions: the label text (signature line and
// tab-terminated column labels, up to the first NUL), the row count and the
// row labels, a grid of 16-bit little-endian pool offsets (one per cell, row
// by row), a 16-bit pool-size field, and the string pool (NUL-terminated
// strings). Only the counts, the grid and the pool are interpreted; every
// other byte is written back exactly as it was read, because the host
// application and other tools read those bytes and we have no business
// normalising them.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "fileio/result.h"
#include "table/text.h"

namespace headlink {

// Hard limits of the format: pool offsets and row counts are 16-bit.
inline constexpr std::size_t kMaxPoolBytes = 65535;
inline constexpr int32_t kMaxRows = 65535;
// How many rows one table may gain in one run.
inline constexpr int32_t kMaxAppendedRows = 128;

// A new table's texts, for writing its file: the column labels, the row
// labels, and the cells row by row (rows x columns of them). `lines`, when
// given, says where each row came from (a line of a text form), for the
// message about the row that outgrows the pool.
struct TableRows {
    std::vector<std::string_view> columnLabels;
    std::vector<std::string_view> rowLabels;
    std::vector<std::string_view> cells;
    std::vector<int> lines;
};
// The file of such a table: each distinct text once in the pool, in the
// order the cells first use it. Fails (out unchanged) when the pool would
// outgrow 16-bit offsets; the labels must hold no tab, nor any text a NUL.
Result tableBytes(const TableRows& rows, std::vector<uint8_t>* out);

class Table {
public:
    // Forgets everything; a cleared table has no rows, columns or pool.
    void clear();

    // Reads and checks a table file. 0 on success, 1 on failure, with what
    // went wrong in *result (file, byte offset, and a reason such as
    // "malformed: row labels end after 12 of 40 rows").
    [[nodiscard]] int load(const std::string& fileName, Result* result = nullptr);
    // The same from bytes already in memory; `name` is used in messages.
    [[nodiscard]] int loadBytes(std::span<const uint8_t> bytes, const std::string& name, Result* result = nullptr);
    // The same, keeping the bytes themselves: the loaded rows' offsets stay
    // where the file has them, so a table costs no copy of its grid.
    [[nodiscard]] int loadBytes(std::vector<uint8_t>&& bytes, const std::string& name, Result* result = nullptr);

    // Pool offset of the first pool string equal to `text` apart from ASCII
    // case, or 0 when there is none. The string at offset 0 is therefore
    // never found: 0 doubles as "not found".
    uint16_t findString(std::string_view text) const;
    // Lowest row whose cell in `column` points at findString(text), or -1.
    int32_t findRow(std::string_view text, int32_t column) const;
    // Points a cell at `text`, appending it to the pool unless findString
    // finds it. 0 on success; 1 (table unchanged) when the cell is outside
    // the table or the pool would outgrow 16-bit offsets.
    [[nodiscard]] int setCell(int32_t row, int32_t column, std::string_view text, Result* result = nullptr);
    // Appends a copy of `templateRow` and returns its index, or -1 (table
    // unchanged) when the template does not exist, 128 rows were already
    // appended, or the table holds 65,535 rows.
    [[nodiscard]] int32_t appendRow(int32_t templateRow, Result* result = nullptr);
    // Counts appended rows afresh from here: the limit of 128 then applies
    // to the rows appended after this call (each head of a pack its own).
    // With `whose` ("this head"), passing it is said as "the table already
    // had 128 rows added by this head", not as a limit of the whole table.
    void restartAppendedCount(std::string_view whose = {}) {
        countedFrom_ = rowCount_;
        countedFor_ = whose;
    }

    // What undoing the edits of one step needs: the sizes before it and the
    // cells of the one row it edits (-1: only rows it appends), taken
    // before the edits. rollBack() returns the table to that state, so a
    // step that fails half-way leaves no trace without a copy of the table.
    struct Mark {
        int32_t rows = 0;
        std::size_t poolBytes = 0;
        std::size_t strings = 0;
        int32_t row = -1;
        std::vector<uint16_t> cells;
    };
    Mark mark(int32_t row) const;
    void rollBack(const Mark& mark);

    // The file as it would be written now.
    std::vector<uint8_t> bytes() const;
    // Writes bytes() to fileName safely (temporary file, then rename).
    // 0 on success, 1 with what went wrong in *result.
    [[nodiscard]] int save(const std::string& fileName, Result* result = nullptr) const;

    // The header's first line (up to its LF, without a CR before it): in a
    // binary table the signature "2DA V2.b".
    std::string_view signatureLine() const;
    // Column labels: the tab-terminated texts of the header after its first
    // line, one per column (the same tabs that count the columns). In an
    // odd header without a line break the first label starts at byte 0.
    std::vector<std::string_view> columnLabels() const;
    // Label of a row: as read for a loaded row, its number for an added one.
    std::string rowLabel(int32_t row) const;
    // The labels of the first `count` rows (every row's when there are
    // fewer), in one walk of the header.
    std::vector<std::string> rowLabels(int32_t count) const;
    std::vector<std::string> rowLabels() const { return rowLabels(rowCount()); }

    // Read access for the run, the tools and the tests.
    const std::string& name() const { return name_; }
    int32_t columnCount() const { return columnCount_; }
    int32_t rowCount() const { return rowCount_; }
    uint16_t lastPatchedRow() const { return lastPatchedRow_; }
    void setLastPatchedRow(uint16_t row) { lastPatchedRow_ = row; }
    // Grid entry of a cell, and the text it points at; the cell must exist.
    uint16_t cellOffset(int32_t row, int32_t column) const;
    std::string_view cellText(int32_t row, int32_t column) const;
    // Text of the pool string at `offset`, or false when the offset lies
    // outside the pool (load guarantees that no cell does).
    bool poolString(uint16_t offset, std::string_view* text) const;
    // Offsets of every pool string, in pool order.
    const std::vector<uint16_t>& poolIndex() const { return poolIndex_; }
    const std::vector<uint8_t>& pool() const { return pool_; }
    // The pool-size field as it would be written now: the pool's length
    // when the file's field was the loaded pool's length, else as read.
    uint16_t poolSizeField() const;

    // The file as it would be written now, in parts to write one after
    // another (all empty for a cleared table); `scratch` holds the bytes
    // that are not kept as they are. The parts stay valid while neither
    // the table nor the scratch changes.
    struct Scratch {
        uint8_t count[2];
        std::vector<uint8_t> labels;  // of the added rows
        std::vector<uint8_t> added;   // the added rows' cells
        uint8_t poolSizeField[2];
    };
    using Parts = std::array<std::span<const uint8_t>, 8>;
    Parts parts(Scratch* scratch) const;

private:
    std::size_t cellIndex(int32_t row, int32_t column) const;
    void setOffset(int32_t row, int32_t column, uint16_t offset);
    void indexPool();
    // Adds the pool string `text` found at `offset`.
    void indexString(uint16_t offset, std::string_view text);
    // The slot where `text` is, or the free slot where it would go.
    std::size_t slotOf(std::string_view text) const;

    std::string name_;
    // The file as read, up to the end of its grid: the header block (bytes
    // 0 up to gridStart; the row count inside it is rewritten on output),
    // then the loaded rows' pool offsets, row-major, as the file stores
    // them (16-bit little-endian), read and set in place.
    std::vector<uint8_t> file_;
    // The pool offsets of the rows appendRow added, row-major.
    std::vector<uint16_t> addedCells_;
    // The string pool as it will be written: loaded strings, then appended ones.
    std::vector<uint8_t> pool_;
    // Offset of every pool string in pool order, duplicates included.
    std::vector<uint16_t> poolIndex_;
    // findString's answer without a walk of the pool: a hash table holding,
    // for each text (A-Z case aside), the offset of its first copy in pool
    // order. Open addressing over a power-of-two number of slots, each
    // holding an offset + 1, or 0 when free; kept at most half full.
    std::vector<uint32_t> firstCopy_;
    uint16_t poolSizeField_ = 0;  // as read
    bool poolSizeFieldTracksPool_ = false;
    int32_t columnCount_ = 0;
    int32_t loadedRowCount_ = 0;
    int32_t countedFrom_ = 0;  // appended rows count from this row
    std::string countedFor_;   // whose rows they are, or "" for the table's
    int32_t rowCount_ = 0;
    uint16_t lastPatchedRow_ = 0;
    int32_t labelEnd_ = 0;
    int32_t gridStart_ = 0;
};

// Where the regions of a table file lie: what the loader finds before it
// reads a single cell.
struct FileLayout {
    std::size_t labelEnd = 0;   // the NUL that closes the label text
    std::size_t columns = 0;
    std::size_t rows = 0;
    std::size_t gridStart = 0;  // first byte of the offset grid
    std::size_t poolStart = 0;  // first byte of the pool, after the pool-size field
    std::size_t poolBytes = 0;
};
// Checks a file's shape up to its cells, with the loader's reasons and the
// byte offset where each problem lies. A file that passes has every region
// inside it; only its cells' offsets are yet to be checked.
Result readLayout(std::span<const uint8_t> bytes, FileLayout* layout);
// The loader's failure for a cell whose offset lies outside the pool; `at`
// is where the cell's offset lies in the file.
Result cellOutsidePool(std::size_t row, std::size_t column, std::size_t offset, std::size_t poolBytes,
                       std::size_t at);

}  // namespace headlink
