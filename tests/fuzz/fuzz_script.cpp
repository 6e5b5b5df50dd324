// Fuzz target: applying a patch script to a loaded table.
//
// Input: a 4-byte little-endian table length, that many bytes of table (fewer
// if the input is shorter), then the script.
//
// Every script is held to these properties: a failed script names itself and
// leaves the table byte for byte as it was; a successful one reports a row
// that exists, adds at most that one row, leaves every other row and the
// loaded pool alone, and the written table loads again.
//
// Scripts whose numbers are all plain whole tokens (which is what users
// write) are also read by the reference reader of script_model.h, which
// follows the rules in the README: it predicts whether the script fails
// and, if not, the row, every grid entry and the pool. The reported row must then hold the
// script's values (the last one given for a column wins; a found row keeps
// its key cell, which points at the table's first copy of the key).
#include <algorithm>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "patch/patch.h"
#include "table/table.h"
#include "tests/fuzz/fuzz_support.h"
#include "tests/fuzz/script_model.h"

using fuzz::check;
using fuzz::Prediction;

namespace {

const std::string kScriptName = "fuzz.txt";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (size < 4) return 0;
    const uint32_t declared = uint32_t{data[0]} | (uint32_t{data[1]} << 8) | (uint32_t{data[2]} << 16) |
                              (uint32_t{data[3]} << 24);
    const std::size_t tableSize = std::min<std::size_t>(declared, size - 4);
    std::span<const uint8_t> tableBytes(data + 4, tableSize);
    std::span<const uint8_t> script(data + 4 + tableSize, size - 4 - tableSize);

    headlink::Table table;
    if (table.loadBytes(tableBytes, "fuzz.2da") != 0) return 0;
    const headlink::Table loaded = table;
    const std::vector<uint8_t> before = table.bytes();
    const Prediction expected = fuzz::predict(fuzz::modelOf(loaded), script);

    headlink::Result result;
    const int32_t row = headlink::applyScriptBytes(table, script, kScriptName, &result);
    const std::string why = result.description();
    if (row < 0) {
        check(result.file == kScriptName && !result, "a failure does not name the script");
        check(row == -1, "a failed script returned ", row);
        check(table.bytes() == before, "a failed script changed the table");
        check(fuzz::startsWith(why, kScriptName + ": ") && why.size() > kScriptName.size() + 2,
              "a failure message does not name the script: ", why);
        check(expected.verdict != Prediction::Succeeds,
              "the script failed, but the README's rules say it succeeds on row ", expected.row, ": ", why);
        const std::string line = kScriptName + ": line " + std::to_string(expected.line) + ": ";
        check(expected.verdict != Prediction::Fails || expected.line == 0 ||
                  (fuzz::startsWith(why, line) && result.line == expected.line),
              "the failure should be reported on line ", expected.line, ": ", why);
        return 0;
    }
    check(expected.verdict != Prediction::Fails,
          "the script succeeded on row ", row, ", but the README's rules say it fails");
    check(table.lastPatchedRow() == row, "lastPatchedRow differs from the reported row");

    const std::vector<uint8_t> written = table.bytes();
    headlink::Table again;
    check(again.loadBytes(written, "again.2da", &result) == 0, "the patched table does not load again: ",
          result.description());
    const int32_t rows = again.rowCount();
    const bool appended = rows == loaded.rowCount() + 1;
    check(rows == loaded.rowCount() || appended, "a script added more than one row");
    check(appended ? row == loaded.rowCount() : row < rows,
          "reported row ", row, " is not the row the script used");
    check(again.columnCount() == loaded.columnCount(), "the column count changed");
    check(fuzz::isPrefix(loaded.pool(), again.pool()), "the loaded pool was changed, not appended to");
    check(fuzz::headerOf(written) == fuzz::expectedHeader(tableBytes, rows),
          "the header is not the loaded one with the new count and row label");
    for (int32_t r = 0; r < loaded.rowCount(); ++r)
        for (int32_t c = 0; c < loaded.columnCount() && r != row; ++c)
            check(again.cellOffset(r, c) == loaded.cellOffset(r, c),
                  "row ", r, ", which the script did not use, changed");
    // Each cell of the used row either holds an entry carried over from a
    // loaded row (which may point into the middle of a string), or points at
    // the start of a pool string.
    const std::vector<uint8_t>& pool = again.pool();
    for (int32_t c = 0; c < again.columnCount(); ++c) {
        const uint16_t offset = again.cellOffset(row, c);
        bool carried = false;
        for (int32_t r = 0; r < loaded.rowCount() && !carried; ++r)
            carried = loaded.cellOffset(r, c) == offset;
        check(carried || (offset < pool.size() && (offset == 0 || pool[offset - 1u] == 0)),
              "column ", c, " of the used row points inside a string or past the pool");
    }

    if (expected.verdict != Prediction::Succeeds) return 0;
    check(row == expected.row, "the script used row ", row, ", the README's rules say ", expected.row);
    check(rows == expected.rows, "the patched table has the wrong row count");
    for (const auto& [c, v] : expected.values)
        check(fuzz::sameIgnoringAsciiCase(fuzz::cellText(again, row, c), v),
              "column ", c, " of the reported row does not hold the script's value");
    check(fuzz::gridOf(again) == expected.grid, "the grid differs from the reference");
    check(again.pool() == expected.pool.bytes, "the pool differs from the reference");
    return 0;
}
