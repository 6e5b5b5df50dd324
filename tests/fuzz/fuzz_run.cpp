// Fuzz target: a whole run, in memory, on three tables and five scripts.
//
// Input: eight parts, each a 2-byte little-endian length and that many bytes
// (fewer when the input runs out; a part missing altogether is an empty
// file, and the length 0xFFFF stands for a file that cannot be opened). The
// parts are appearance.2da, heads.2da, portraits.2da, then head.txt,
// apphead1.txt, apphead2.txt, apphead3.txt and portraits.txt.
//
// A failed run has exactly one error line naming one of the eight files, and
// the right one when it is known up front (the first table that does not
// load, a table too narrow to link, or head.txt or apphead1.txt failing on
// its own). A successful run's outputs all load again; heads is exactly what
// head.txt alone makes of it; portraits is what portraits.txt alone makes of
// it except for the three link cells of its row; those name the appearance
// rows (the one for apphead1.txt being the row that script alone reports),
// each of which holds the head row in column 10; and no other appearance row
// changed.
#include <algorithm>
#include <array>
#include <sstream>
#include <cstdint>
#include <string>
#include <vector>

#include "app/link.h"
#include "app/run.h"
#include "patch/patch.h"
#include "table/table.h"
#include "tests/fuzz/fuzz_support.h"

using fuzz::check;
using headlink::Table;

namespace {

headlink::RunInputs split(const uint8_t* data, std::size_t size) {
    headlink::RunInputs inputs;
    std::size_t at = 0;
    auto take = [&](headlink::FileBytes& file) {
        if (size - at < 2) {
            at = size;
            return;
        }
        const auto length = static_cast<std::size_t>(data[at] | (data[at + 1] << 8));
        at += 2;
        if (length == 0xFFFF) {
            file.error = "cannot open: No such file or directory";
            return;
        }
        const std::size_t n = std::min(length, size - at);
        file.bytes.assign(data + at, data + at + n);
        at += n;
    };
    for (auto& table : inputs.tables) take(table);
    for (auto& script : inputs.scripts) take(script);
    return inputs;
}

// Applies one script to a copy of a table, as if it were the only one.
int32_t applyAlone(Table& table, const headlink::FileBytes& script) {
    if (!script.ok()) return -1;
    return headlink::applyScriptBytes(table, script.bytes, "alone.txt");
}

// A link cell's row number: plain decimal digits, no sign or padding.
int32_t linkedRow(const Table& table, int32_t row, int32_t column) {
    const std::string_view text = fuzz::cellText(table, row, column);
    const bool plain = !text.empty() && text.size() <= 5 && (text.size() == 1 || text[0] != '0') &&
                       text.find_first_not_of("0123456789") == std::string_view::npos;
    check(plain, "link cell (", row, ", ", column, ") is not a plain row number: ", text);
    int32_t value = 0;
    for (char c : text) value = value * 10 + (c - '0');
    return value;
}

void checkRowUnchanged(const Table& before, const Table& after, int32_t row, const char* what) {
    for (int32_t c = 0; c < before.columnCount(); ++c)
        check(after.cellOffset(row, c) == before.cellOffset(row, c),
              what, " row ", row, " changed");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const headlink::RunInputs inputs = split(data, size);

    // What is known before the run.
    std::string mustName;  // the file a failure must name, when known
    bool mustFail = false;
    // Every table that does not load and every script that cannot be
    // opened is reported, each on its own line, tables first.
    std::array<Table, 3> in;
    std::size_t unreadable = 0;
    for (std::size_t i = 0; i < 3; ++i) {
        if (!inputs.tables[i].ok() || in[i].loadBytes(inputs.tables[i].bytes, "in.2da") != 0) {
            if (!mustFail) mustName = headlink::kTableFiles[i];
            mustFail = true;
            ++unreadable;
        }
    }
    for (std::size_t i = 0; i < 5; ++i) {
        if (!inputs.scripts[i].ok()) {
            if (!mustFail) mustName = headlink::kScriptFiles[i];
            mustFail = true;
            ++unreadable;
        }
    }
    if (!mustFail && in[0].columnCount() < headlink::kAppearanceHeadColumn + 1) {
        mustFail = true;
        mustName = headlink::kTableFiles[0];
    } else if (!mustFail && in[2].columnCount() < headlink::kPortraitAlt2Column + 1) {
        mustFail = true;
        mustName = headlink::kTableFiles[2];
    }
    Table headsAlone = in[1], appearanceAlone = in[0], portraitsAlone = in[2];
    int32_t headRow = -1, firstAppearanceRow = -1, portraitRow = -1;
    if (!mustFail) {
        headRow = applyAlone(headsAlone, inputs.scripts[0]);
        if (headRow < 0) {
            mustFail = true;
            mustName = headlink::kScriptFiles[0];
        } else {
            firstAppearanceRow = applyAlone(appearanceAlone, inputs.scripts[1]);
            if (firstAppearanceRow < 0) {
                mustFail = true;
                mustName = headlink::kScriptFiles[1];
            }
        }
        portraitRow = applyAlone(portraitsAlone, inputs.scripts[4]);
        if (portraitRow < 0) mustFail = true;  // the file named depends on what fails first
    }

    std::ostringstream report;
    const headlink::RunOutcome outcome = headlink::runInMemory(inputs, size % 2 == 0 ? &report : nullptr);
    check(report.str().empty() || report.str().back() == '\n', "the report does not end with a whole line");
    for (const std::string& warning : outcome.warnings)
        check(warning.find(": warning: ") != std::string::npos && warning.find('\n') == std::string::npos,
              "a warning is not one \"<file>: [line N: ]warning: ...\" line: ", warning);
    if (!outcome.ok()) {
        const std::size_t expected = unreadable > 0 ? unreadable : 1;
        check(outcome.errors.size() == expected, "a failed run reported ", outcome.errors.size(),
              " error lines, not ", expected);
        const std::string& line = outcome.errors[0];
        bool named = false;
        for (const char* file : headlink::kTableFiles)
            named = named || fuzz::startsWith(line, std::string(file) + ": ");
        for (const char* file : headlink::kScriptFiles)
            named = named || fuzz::startsWith(line, std::string(file) + ": ");
        check(named, "the error line names none of the input files: ", line);
        check(line.find('\n') == std::string::npos, "the error line holds a line break: ", line);
        check(mustName.empty() || fuzz::startsWith(line, mustName + ": "), "the error line should name ",
              mustName, ": ", line);
        for (const auto& table : outcome.tables) check(table.bytes().empty(), "a failed run produced an output");
        return 0;
    }
    check(!mustFail, "the run succeeded, but ", mustName.empty() ? "portraits.txt" : mustName,
          " fails on its own");

    std::array<Table, 3> out;
    std::array<std::vector<uint8_t>, 3> outputs;
    const std::array<int32_t, 3> maxAdded = {3, 1, 1};
    for (std::size_t i = 0; i < 3; ++i) {
        std::string why;
        const char* name = headlink::kOutputFiles[i];
        outputs[i] = outcome.tables[i].bytes();
        check(out[i].loadBytes(outputs[i], name, &why) == 0, name, " does not load: ", why);
        check(out[i].bytes() == outputs[i], name, " does not write back byte for byte");
        check(out[i].columnCount() == in[i].columnCount(), name, " changed its column count");
        const int32_t added = out[i].rowCount() - in[i].rowCount();
        check(added >= 0 && added <= maxAdded[i], name, " gained ", added, " rows");
        check(fuzz::isPrefix(in[i].pool(), out[i].pool()), name, ": the loaded pool was changed");
        check(out[i].headerBlock() == fuzz::expectedHeader(in[i], out[i].rowCount()), name,
              ": the header is not the loaded one with the new count and row labels");
    }
    const Table& appearance = out[0];
    const Table& portraits = out[2];

    check(outputs[1] == headsAlone.bytes(), "heads output is not what head.txt alone makes");

    check(portraits.rowCount() == portraitsAlone.rowCount(),
          "portraits output does not have the rows portraits.txt alone gives");
    const std::array<int32_t, 3> linkColumns = {headlink::kPortraitAlt1Column, headlink::kPortraitMainColumn,
                                                headlink::kPortraitAlt2Column};
    for (int32_t r = 0; r < portraits.rowCount(); ++r)
        for (int32_t c = 0; c < portraits.columnCount(); ++c)
            if (r != portraitRow || std::find(linkColumns.begin(), linkColumns.end(), c) == linkColumns.end())
                check(portraits.cellOffset(r, c) == portraitsAlone.cellOffset(r, c),
                      "portraits cell (", r, ", ", c, ") differs from what portraits.txt alone makes");

    // The portrait row names the three appearance rows: apphead1, 2, 3.
    std::array<int32_t, 3> appearanceRows{};
    for (std::size_t i = 0; i < 3; ++i) {
        appearanceRows[i] = linkedRow(portraits, portraitRow, linkColumns[i]);
        check(appearanceRows[i] < appearance.rowCount(), "a portrait links to a missing appearance row");
        check(fuzz::cellText(appearance, appearanceRows[i], headlink::kAppearanceHeadColumn) ==
                  headlink::decimal(headRow),
              "appearance row ", appearanceRows[i], " does not hold head row ", headRow, " in column 10");
    }
    check(appearanceRows[0] == firstAppearanceRow,
          "the portrait's first appearance row is not the row apphead1.txt alone reports");
    for (int32_t r = 0; r < appearance.rowCount(); ++r) {
        const bool linked = std::find(appearanceRows.begin(), appearanceRows.end(), r) != appearanceRows.end();
        if (r >= in[0].rowCount())
            check(linked, "appearance row ", r, " was added but no portrait links to it");
        else if (!linked)
            checkRowUnchanged(in[0], appearance, r, "appearance");
    }
    return 0;
}
