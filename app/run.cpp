#include "app/run.h"

#include <new>

#include "app/link.h"
#include "table/table.h"

namespace headlink {

// Running out of memory is a failure like any other: reported against the
// file being worked on, with nothing written.
constexpr const char* kNoMemory = "not enough memory";

RunOutcome runInMemory(const RunInputs& inputs) {
    RunOutcome outcome;
    std::array<Table, 3> tables;
    // Loaded in order; the first failure ends the run before any output.
    for (std::size_t i = 0; i < tables.size(); ++i) {
        std::string why = inputs.tables[i].error;
        try {
            if (inputs.tables[i].ok() && tables[i].loadBytes(inputs.tables[i].bytes, kTableFiles[i], &why) == 0)
                continue;
        } catch (const std::bad_alloc&) {
            why = kNoMemory;
        }
        outcome.errors.push_back(std::string(kTableFiles[i]) + ": " + why);
        return outcome;
    }
    std::string why;
    if (!runLinking(tables[0], tables[1], tables[2], inputs.scripts, &why)) {
        outcome.errors.push_back(why);
        return outcome;
    }
    for (std::size_t i = 0; i < tables.size(); ++i) {
        try {
            outcome.outputs[i] = tables[i].bytes();
        } catch (const std::bad_alloc&) {
            outcome.outputs = {};
            outcome.errors.push_back(std::string(kOutputFiles[i]) + ": " + kNoMemory);
            return outcome;
        }
    }
    return outcome;
}

int runInDirectory(std::ostream& err) {
    RunInputs inputs;
    // Reading stops at the first table that cannot be read, as loading does.
    for (std::size_t i = 0; i < kTableFiles.size(); ++i) {
        inputs.tables[i] = readFile(kTableFiles[i]);
        if (!inputs.tables[i].ok()) break;
    }
    for (std::size_t i = 0; i < kScriptFiles.size(); ++i) inputs.scripts[i] = readFile(kScriptFiles[i]);
    RunOutcome outcome = runInMemory(inputs);
    // An output that cannot be written does not stop the others.
    if (outcome.ok()) {
        for (std::size_t i = 0; i < kOutputFiles.size(); ++i) {
            std::string why;
            bool written = false;
            try {
                written = writeFileSafely(kOutputFiles[i], outcome.outputs[i], &why);
            } catch (const std::bad_alloc&) {
                why = kNoMemory;
            }
            if (!written) outcome.errors.push_back(std::string(kOutputFiles[i]) + ": " + why);
        }
    }
    for (const std::string& line : outcome.errors) err << "headlink: " << line << '\n';
    return outcome.ok() ? 0 : 1;
}

}  // namespace headlink
