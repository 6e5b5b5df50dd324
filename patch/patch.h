// Patch scripts: one script finds or appends one row of a table and sets
// some of its cells.
//
// A script is a sequence of white-space separated tokens:
//   templateRow keyColumn keyValue [column value]...
// The row whose keyColumn cell already holds keyValue is reused; otherwise
// a copy of templateRow is appended and given keyValue. Then each
// column/value pair is set on that row, in order. The pairs end at the
// first token that is not an integer; anything after it is ignored.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "table/table.h"

namespace headlink {

// What a script did and what looks wrong in it, for a report and warnings.
struct ScriptDetails {
    // Given by the caller: columns it overwrites afterwards (the link
    // columns), and whether every cell set should be listed.
    std::vector<int32_t> linkColumns;
    bool listChanges = false;

    // Filled in by applyScriptBytes as far as the script got.
    bool added = false;         // a copy of templateRow was appended
    int32_t templateRow = -1;
    int32_t keyColumn = -1;
    std::string keyValue;       // as the script wrote it
    std::string matched;        // a found row's key text, as the table holds it
    // A cell set, by pool offsets into the table as the script left it
    // (offsets never move), so that listing a long script costs little.
    struct Change {
        int32_t column;
        int line;
        uint16_t value;
        uint16_t was;
    };
    std::vector<Change> changes;  // in script order, when listChanges is set
    struct Warning {
        int line;  // 0 when no line applies
        std::string text;
    };
    std::vector<Warning> warnings;  // at most a few per script, then a count
};

// Reads the script file `fileName` and applies it to `table`. Returns the
// row found or appended (also left in table.lastPatchedRow()), or -1 with
// the reason, starting with the script's name, in *why. The whole script is
// read and checked before anything changes, so a failed script leaves the
// table exactly as it was.
int32_t applyScript(Table& table, const std::string& fileName, std::string* why = nullptr);

// The same for a script already in memory; `scriptName` is used in messages.
int32_t applyScriptBytes(Table& table, std::span<const uint8_t> script,
                         const std::string& scriptName, std::string* why = nullptr,
                         ScriptDetails* details = nullptr);

}  // namespace headlink
