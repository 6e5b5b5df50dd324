// The plain-text form of a table, and the binary layout built from it.
//
//   2DA V2.0
//   (a blank line)
//   label label label ...          the column labels
//   rowlabel value value ...       one line per row, one value per column
//
// Fields are separated by white space (spaces and tabs, any amount, leading
// white space allowed). A field holding white space, or an empty label, is
// written in double quotes; a quoted field cannot hold a double quote.
// "****" unquoted stands for an empty cell, and "\"****\"" for those four
// stars as text.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "table/table.h"

namespace headlink {

// How the text form spells an empty cell.
inline constexpr std::string_view kEmptyCell = "****";

// Builds the binary table from its text form: the signature line "2DA V2.b"
// and a line feed, each column label followed by a tab, a NUL, the row
// count as 32 bits, each row label followed by a tab, the offset grid, the
// pool length as 16 bits, then the pool: each distinct text once, in order
// of first use going row by row, an empty cell stored as the empty text.
// When the text is not a table in this form or cannot be stored in the
// binary one, the Result gives the line and the reason. What lenient
// readers accept is taken as they take it, with a "line N: ..." note each:
// a row with fewer values than columns ends in empty cells, and a double
// quote left open runs to the end of its line.
Result buildFromText(std::string_view text, std::vector<uint8_t>* out, std::vector<std::string>* notes = nullptr);

// Whether `bytes` begin like the text form: a first line "2DA V2.0" (after
// a UTF-8 byte-order mark, with white space around it).
bool isTextForm(std::string_view bytes);

// Writes the text form of a loaded table: tab-separated, the label line
// indented by one tab so that labels stand above their values. Nothing is
// written, and the Result names the row and column, when a text cannot be
// written in this form (a line break or a NUL, or a double quote in a text
// that needs quotes).
Result writeTextForm(const Table& table, std::ostream& out);

}  // namespace headlink
