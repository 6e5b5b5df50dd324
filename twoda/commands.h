// twoda: see what is in a table, what changed, and convert between the
// binary and the plain-text form.
#pragma once

#include <cstdint>
#include <istream>
#include <ostream>
#include <span>
#include <string>
#include <vector>

#include "game/resources.h"
#include "table/table.h"

namespace headlink {

// Runs one command line (the arguments after the program's name), reading
// `in` for "build -", writing its output to `out` and messages to `err`.
// Returns the exit status: 0
// done (equal, valid, found), 1 the answer is no (different, not valid, not
// found) or a file could not be used, 2 a usage error; diff, check and find
// return 2 for any trouble, as diff does.
int runTwoda(const std::vector<std::string>& args, std::istream& in, std::ostream& out, std::ostream& err);

// The check command on bytes in memory: every problem and note, one per
// line, each starting with `name`. True when headlink would load the table.
bool checkTable(std::span<const uint8_t> bytes, const std::string& name, std::ostream& out);

// A table from a file's bytes in either form (the text form built as
// `build` builds it, its notes on `notes`, each line after `prefix`).
Result loadEitherForm(std::vector<uint8_t> bytes, const std::string& name, Table* table, std::ostream& notes,
                      const std::string& prefix);
// The check command on either form: the verdict `build` gives a text form,
// else the check of the binary table. True when headlink would load it.
bool checkEitherForm(std::span<const uint8_t> bytes, const std::string& name, std::ostream& out);
// What check --game adds: the names `table` gives that the game cannot
// load. A column names resources of a kind when at least half of its
// non-empty values (not "****") name resources of that kind in `index`;
// each value there that names none is a line "NAME: warning: row R
// (LABEL), column C (LABEL): "VALUE": no KIND of that name in the game",
// column by column. A column of numbers, or of names mostly found nowhere,
// is not checked: nothing there says what its values should name. Returns
// how many lines it wrote.
std::size_t checkResourceNames(const Table& table, const ResourceIndex& index, const std::string& name,
                               std::ostream& out);
// The csv command's output (RFC 4180, CR LF, the column labels first).
void writeCsv(const Table& table, std::ostream& out);

// The usage text of --help.
const char* twodaUsage();

}  // namespace headlink
