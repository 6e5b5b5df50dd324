// Head linking: applies the five scripts and writes the new row numbers
// into the cells that tie the tables together.
#pragma once

#include <array>
#include <ostream>
#include <string>
#include <vector>

#include "fileio/fileio.h"
#include "table/table.h"

namespace headlink {

// The scripts, in the order they are applied.
inline constexpr std::array<const char*, 5> kScriptFiles = {
    "head.txt", "apphead1.txt", "apphead2.txt", "apphead3.txt", "portraits.txt"};

// Link columns (0-based): appearance's head row, and portraits' three
// appearance rows.
inline constexpr int32_t kAppearanceHeadColumn = 10;
inline constexpr int32_t kPortraitMainColumn = 2;   // gets the second appearance row
inline constexpr int32_t kPortraitAlt1Column = 7;   // the first
inline constexpr int32_t kPortraitAlt2Column = 8;   // the third

// What the linking did, one line per fact ("head.txt: heads row 30 (label
// "30") added, ..."), written to `out` as each step succeeds when it is
// set, and the scripts' warnings ("apphead1.txt: line 2: warning: ...").
// Where warnings are printed as they arise, besides being kept: each as
// "headlink: <warning>" on `err`, with "error:" for "warning:" when
// `asErrors` (--strict). The report is flushed first, so that a terminal
// shows each script's warnings right after its steps.
struct LiveWarnings {
    std::ostream* err = nullptr;
    bool asErrors = false;
};

struct LinkReport {
    std::ostream* out = nullptr;
    std::vector<std::string> warnings;
    LiveWarnings live;
    // Keeps a warning ("<file>: [line N: ]warning: ...") and prints it live.
    void warn(std::string line);
};

// Applies head.txt to heads, apphead1-3.txt to appearance and portraits.txt
// to portraits, writing the link cells after each. `scripts` holds the five
// scripts' bytes in kScriptFiles order. False, with "<file name>: <reason>"
// in *why, at the first failure; the tables are then partly edited and must
// not be written. The report, when given, covers the steps that succeeded.
bool runLinking(Table& appearance, Table& heads, Table& portraits,
                const std::array<FileBytes, 5>& scripts, std::string* why,
                LinkReport* report = nullptr);

// A table's name in the report: its file name without ".2da".
std::string tableTitle(const Table& table);

}  // namespace headlink
