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

#include "table/table.h"

namespace headlink {

// Reads the script file `fileName` and applies it to `table`. Returns the
// row found or appended (also left in table.lastPatchedRow()), or -1 with
// the reason, starting with the script's name, in *why. The whole script is
// read and checked before anything changes, so a failed script leaves the
// table exactly as it was.
int32_t applyScript(Table& table, const std::string& fileName, std::string* why = nullptr);

// The same for a script already in memory; `scriptName` is used in messages.
int32_t applyScriptBytes(Table& table, std::span<const uint8_t> script,
                         const std::string& scriptName, std::string* why = nullptr);

}  // namespace headlink
