// One run: load the three tables, edit and link them, write the results.
#pragma once

#include <array>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "table/fileio.h"

namespace headlink {

// The run's fixed files, in the order they are loaded and written.
inline constexpr std::array<const char*, 3> kTableFiles = {"appearance.2da", "heads.2da",
                                                           "portraits.2da"};
inline constexpr std::array<const char*, 3> kOutputFiles = {
    "appearance_updated.2da", "heads_updated.2da", "portraits_updated.2da"};

// Everything a run reads, as bytes (or the reason a file could not be read).
struct RunInputs {
    std::array<FileBytes, 3> tables;   // in kTableFiles order
    std::array<FileBytes, 5> scripts;  // in kScriptFiles order (app/link.h)
};

// What a run produced: either the three output files' bytes, or the
// failures, one line each, as "<file name>: <reason>".
struct RunOutcome {
    std::vector<std::string> errors;
    std::array<std::vector<uint8_t>, 3> outputs;  // in kOutputFiles order
    bool ok() const { return errors.empty(); }
};

// The whole run without touching the disk.
RunOutcome runInMemory(const RunInputs& inputs);

// The real program: reads the inputs from the current directory, writes the
// outputs there, prints one "headlink: ..." line per failure on `err` and
// returns the exit status (0 success, 1 failure).
int runInDirectory(std::ostream& err);

}  // namespace headlink
