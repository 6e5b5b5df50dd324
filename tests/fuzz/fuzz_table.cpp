// Fuzz target: table loading, editing and writing back.
//
// The input is a table file. A rejected file must leave the table cleared;
// an accepted one must write back byte for byte. Then a few edits, chosen
// from a hash of the input so that every input always gets the same ones,
// are applied to the table and to a plain model of its grid and pool, and
// the written result must load again and match the model: row count, every
// grid entry, the pool, and the header with one numbered label per new row.
#include <algorithm>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "table/table.h"
#include "tests/fuzz/fuzz_support.h"

using fuzz::check;

namespace {

// Small deterministic generator, seeded from the input.
class Rng {
public:
    explicit Rng(std::span<const uint8_t> data) {
        for (uint8_t b : data) state_ = (state_ ^ b) * 0x100000001B3ull;
        if (state_ == 0) state_ = 1;
    }
    uint64_t next() {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 7;
        state_ ^= state_ << 17;
        return state_;
    }
    // A value in [-1, n]: includes one step outside each end of [0, n).
    int32_t around(int32_t n) {
        return static_cast<int32_t>(next() % (static_cast<uint64_t>(n) + 2)) - 1;
    }

private:
    uint64_t state_ = 0xCBF29CE484222325ull;
};

struct Model {
    int32_t rows = 0;
    int32_t columns = 0;
    int32_t loadedRows = 0;
    std::vector<uint16_t> grid;
    fuzz::PoolModel pool;
};

// A cell value to try: an existing pool text in another A-Z case (so it
// must be reused), a slice of the input (any bytes, NULs included), a
// number, or a long run that pushes the pool towards its limit.
std::string pickText(Rng& rng, const headlink::Table& table, std::span<const uint8_t> input) {
    switch (rng.next() % 4) {
    case 0: {
        const auto& index = table.poolIndex();
        if (index.empty()) return "x";
        std::string_view s;
        table.poolString(index[rng.next() % index.size()], &s);
        std::string text(s);
        for (char& c : text)
            if (rng.next() % 2 != 0) {
                if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
                else if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
            }
        return text;
    }
    case 1: {
        if (input.empty()) return "";
        std::size_t at = rng.next() % input.size();
        std::size_t len = std::min<std::size_t>(rng.next() % 12, input.size() - at);
        return std::string(reinterpret_cast<const char*>(input.data()) + at, len);
    }
    case 2:
        return std::to_string(rng.next() % 100);
    default:
        return std::string(rng.next() % 400, 'q');
    }
}

// Appends and checks the result against the model; false when refused.
bool appendRow(headlink::Table& table, Model& model, int32_t templateRow) {
    const bool allowed = templateRow >= 0 && templateRow < model.rows &&
                         model.rows - model.loadedRows < 128 && model.rows < 65535;
    std::vector<uint8_t> before;
    if (!allowed) before = table.bytes();
    headlink::Result why;
    const int32_t row = table.appendRow(templateRow, &why);
    if (!allowed) {
        check(row == -1, "appendRow(", templateRow, ") accepted a refused append");
        check(!why.reason.empty() && !why, "a refused append gives no reason");
        check(table.bytes() == before, "a refused append changed the table");
        return false;
    }
    check(row == model.rows, "appendRow returned ", row, ", expected ", model.rows, " (", why.reason, ")");
    const auto width = static_cast<std::size_t>(model.columns);
    const auto from = static_cast<std::size_t>(templateRow) * width;
    for (std::size_t c = 0; c < width; ++c) model.grid.push_back(model.grid[from + c]);
    ++model.rows;
    return true;
}

void setCell(headlink::Table& table, Model& model, int32_t row, int32_t column,
             const std::string& text) {
    const bool inside = row >= 0 && row < model.rows && column >= 0 && column < model.columns;
    const int32_t offset = inside ? model.pool.place(text, false) : -1;
    std::vector<uint8_t> before;
    if (offset < 0) before = table.bytes();
    headlink::Result why;
    const int result = table.setCell(row, column, text, &why);
    if (offset < 0) {
        check(result != 0, "setCell(", row, ", ", column, ") accepted a refused edit");
        check(!why.reason.empty() && !why, "a refused setCell gives no reason");
        check(table.bytes() == before, "a refused setCell(", row, ", ", column, ") changed the table");
        return;
    }
    check(result == 0, "setCell(", row, ", ", column, ") failed: ", why.reason);
    check(table.cellOffset(row, column) == offset, "setCell(", row, ", ", column, ") points at ",
          table.cellOffset(row, column), ", expected ", offset);
    check(fuzz::sameIgnoringAsciiCase(fuzz::cellText(table, row, column),
                                      std::string_view(text).substr(0, text.find('\0'))),
          "setCell(", row, ", ", column, "): the cell does not read back as the text set");
    model.pool.place(text);
    model.grid[static_cast<std::size_t>(row) * static_cast<std::size_t>(model.columns) +
               static_cast<std::size_t>(column)] = static_cast<uint16_t>(offset);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    std::span<const uint8_t> input(data, size);
    // The two bytes after the 16-bit row count are the upper half of the
    // format's 32-bit count: a table with them set is never accepted.
    const std::size_t firstNul = static_cast<std::size_t>(std::find(input.begin(), input.end(), 0) - input.begin());
    const bool upperHalfSet = firstNul + 4 < size && (input[firstNul + 3] != 0 || input[firstNul + 4] != 0);
    headlink::Table table;
    headlink::Result why;
    if (table.loadBytes(input, "fuzz.2da", &why) != 0) {
        check(!why.reason.empty() && why.status == headlink::Status::malformed && why.offset <= size,
              "a rejected table gives a reason and where");
        check(table.bytes().empty() && table.rowCount() == 0 && table.columnCount() == 0 &&
                  table.pool().empty(),
              "a rejected table is not left cleared");
        return 0;
    }
    const std::vector<uint8_t> same = table.bytes();
    check(std::equal(same.begin(), same.end(), input.begin(), input.end()),
          "an accepted table does not write back byte for byte");
    check(table.rowCount() == static_cast<int32_t>(fuzz::layoutOf(input).rows),
          "a fresh table has appended rows");
    check(!upperHalfSet, "a table whose row count has a non-zero upper half was accepted");
    for (uint16_t offset : fuzz::gridOf(table))
        check(offset < table.pool().size(), "an accepted table has a cell pointing past its pool");

    Model model;
    model.rows = model.loadedRows = table.rowCount();
    model.columns = table.columnCount();
    model.grid = fuzz::gridOf(table);
    model.pool.bytes = table.pool();

    Rng rng(input);
    const uint64_t plan = rng.next();
    if (plan % 16 == 0) {
        // Appends until refused: at the limit of 128 new rows per table, or
        // of 65,535 rows, or at once when there is no row 0 to copy.
        for (int i = 0; i < 130 && appendRow(table, model, 0); ++i) {
        }
    }
    const auto edits = 1 + static_cast<int>(plan / 16 % 4);
    for (int i = 0; i < edits; ++i) {
        if (rng.next() % 3 == 0) {
            appendRow(table, model, rng.around(model.rows));
        } else {
            int32_t row = rng.around(model.rows);
            int32_t column = rng.around(model.columns);
            setCell(table, model, row, column, pickText(rng, table, input));
        }
    }

    const std::vector<uint8_t> written = table.bytes();
    headlink::Table again;
    check(again.loadBytes(written, "again.2da", &why) == 0, "the edited table does not load again: ", why.reason);
    check(again.rowCount() == model.rows, "the edited table reloads with ", again.rowCount(),
          " rows, expected ", model.rows);
    check(again.columnCount() == model.columns, "the edited table changed its column count");
    check(fuzz::gridOf(again) == model.grid, "the edited table's grid differs from the model");
    check(again.pool() == model.pool.bytes, "the edited table's pool differs from the model");
    check(again.poolSizeField() == fuzz::expectedPoolSizeField(input, model.pool.bytes.size()),
          "the pool-size field is ", again.poolSizeField(), ", expected ",
          fuzz::expectedPoolSizeField(input, model.pool.bytes.size()));
    check(fuzz::headerOf(written) == fuzz::expectedHeader(input, model.rows),
          "the header is not the loaded one with the new count and row labels");
    check(again.bytes() == written, "the edited table does not write back byte for byte");
    return 0;
}
