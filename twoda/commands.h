// twoda: see what is in a table, what changed, and convert between the
// binary and the plain-text form.
#pragma once

#include <cstdint>
#include <istream>
#include <ostream>
#include <span>
#include <string>
#include <vector>

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

// The usage text of --help.
const char* twodaUsage();

}  // namespace headlink
