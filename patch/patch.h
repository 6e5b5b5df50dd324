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
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "table/table.h"

namespace headlink {

// What the caller asks of a script.
struct ScriptOptions {
    bool listChanges = false;  // record every cell set, for a report
};

// What a script did and what looks wrong in it, as far as it got.
struct ScriptDetails {
    bool added = false;         // a copy of templateRow was appended
    int32_t templateRow = -1;
    int32_t keyColumn = -1;
    std::string keyValue;       // as the script wrote it
    int keyLine = 0;            // the line it is on
    std::string matched;        // a found row's key text, as the table holds it
    // A cell set, by pool offsets into the table as the script left it
    // (offsets never move), so that listing a long script costs little;
    // `line` is the line of its value.
    struct Change {
        int32_t column;
        int line;
        uint16_t value;
        uint16_t was;
    };
    std::vector<Change> changes;  // in script order, when listChanges is asked for
    // Slips that give a result nobody wants but are not errors, each naming
    // the script as messages name it.
    std::vector<Warning> warnings;  // at most kMaxScriptWarnings, then a count
};

// A script with one slip usually repeats it; a few warnings say enough.
inline constexpr std::size_t kMaxScriptWarnings = 8;
inline constexpr const char* kMoreWarnings = "more warnings like these are not shown";

// Reads the script file `fileName` and applies it to `table`. Returns the
// row found or appended (also left in table.lastPatchedRow()), or -1 with
// what went wrong in *result (the script, its line, and the reason). The
// whole script is read and checked before anything changes, so a failed
// script leaves the table exactly as it was.
[[nodiscard]] int32_t applyScript(Table& table, const std::string& fileName, Result* result = nullptr);

// The same for a script already in memory; `scriptName` is used in messages.
[[nodiscard]] int32_t applyScriptBytes(Table& table, std::span<const uint8_t> script, const std::string& scriptName,
                         Result* result = nullptr, const ScriptOptions& options = {},
                         ScriptDetails* details = nullptr);

// "little-endian" or "big-endian" for a script saved as UTF-16 (which a
// run refuses, naming it): a byte-order mark, or ASCII text with a NUL
// after (or before) each of its first bytes; "" otherwise.
std::string_view utf16Order(std::span<const uint8_t> script);

// What each word of a script is, as a run reads it: for an editor that
// names the column under the caret. A run takes the words in this order:
// template row, key column, key value, then column/value pairs until a word
// that is not a number, which starts the note after the pairs.
enum class WordRole { templateRow, keyColumn, keyValue, column, value, note };
struct ScriptWord {
    WordRole role = WordRole::templateRow;
    std::size_t begin = 0, end = 0;  // its bytes in the script (a number run into text ends inside its token)
    std::optional<int32_t> number;   // a row or column as a run reads it
};
// The word at byte `offset` (a caret right after a word is in it); between
// words, an empty word at `offset` whose role is the one a word typed there
// would take.
ScriptWord scriptWordAt(std::span<const uint8_t> script, std::size_t offset);
// The first word with `role`, if the script has one.
std::optional<ScriptWord> firstScriptWord(std::span<const uint8_t> script, WordRole role);

}  // namespace headlink
