#include "app/run.h"

#include "app/link.h"
#include "table/table.h"

namespace headlink {

RunOutcome runInMemory(const RunInputs& inputs) {
    RunOutcome outcome;
    std::array<Table, 3> tables;
    // Loaded in order; the first failure ends the run before any output.
    for (std::size_t i = 0; i < tables.size(); ++i) {
        std::string why = inputs.tables[i].error;
        if (inputs.tables[i].ok() && tables[i].loadBytes(inputs.tables[i].bytes, kTableFiles[i], &why) == 0)
            continue;
        outcome.errors.push_back(std::string(kTableFiles[i]) + ": " + why);
        return outcome;
    }
    std::string why;
    if (!runLinking(tables[0], tables[1], tables[2], inputs.scripts, &why)) {
        outcome.errors.push_back(why);
        return outcome;
    }
    for (std::size_t i = 0; i < tables.size(); ++i) outcome.outputs[i] = tables[i].bytes();
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
            if (!writeFileSafely(kOutputFiles[i], outcome.outputs[i], &why))
                outcome.errors.push_back(std::string(kOutputFiles[i]) + ": " + why);
        }
    }
    for (const std::string& line : outcome.errors) err << "headlink: " << line << '\n';
    return outcome.ok() ? 0 : 1;
}

}  // namespace headlink
