// The page's way into headlink: plain C functions over the same run the
// program does, with no rule of their own. The page hands in the eight
// files (or marks one missing), runs the job as `headlink -n` would, and
// reads back the exit status, what the program would print on standard
// output and standard error, and the three outputs.
#include <array>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "app/files.h"
#include "app/run.h"
#include "fileio/fileio.h"

namespace {

using namespace headlink;

// The tables in load order, then the scripts in run order.
constexpr std::size_t kInputs = std::size_t{kTableCount} + std::size_t{kScriptCount};

struct Session {
    std::array<FileBytes, kInputs> inputs;
    std::vector<std::string> names;  // every file the user gave, for the hints
    std::string out, err, nearMisses;
    std::array<std::vector<uint8_t>, kTableCount> outputs;
};
Session session;

const char* inputName(int index) {
    const auto i = static_cast<std::size_t>(index);
    return i < kTableCount ? kTableFiles[i] : kScriptFiles[i - kTableCount];
}

}  // namespace

extern "C" {

// Forgets every input, name and result.
void hl_reset() { session = Session{}; }

// Input `index` (the three tables in load order, then the five scripts in
// run order): `size` bytes at `data`, or missing when `size` is negative.
void hl_set_input(int index, const uint8_t* data, int size) {
    if (index < 0 || index >= static_cast<int>(session.inputs.size())) return;
    FileBytes& file = session.inputs[static_cast<std::size_t>(index)];
    file = FileBytes{};
    if (size < 0)
        file.result = Result::failure(Status::notFound, "cannot open: No such file or directory", inputName(index));
    else
        file.bytes.assign(data, data + size);
}

// The name of input `index` ("appearance.2da", ...), and how many there are.
const char* hl_input_name(int index) {
    return index >= 0 && index < static_cast<int>(session.inputs.size()) ? inputName(index) : "";
}
int hl_input_count() { return static_cast<int>(session.inputs.size()); }

// A name the user gave, for the hints a missing input gets.
void hl_add_name(const char* name) { session.names.emplace_back(name); }

// The names given that differ from input `index`'s only in letter case or by
// more extensions, one per line.
const char* hl_near_misses(int index) {
    session.nearMisses.clear();
    for (const std::string& name : nearMisses(hl_input_name(index), session.names))
        session.nearMisses += name + "\n";
    return session.nearMisses.c_str();
}

// Runs the job as `headlink -n` (with `strict`, `headlink -n --strict`)
// would on these inputs; returns its exit status.
int hl_run(int strict) {
    Options options;
    options.dryRun = true;
    options.strict = strict != 0;
    RunInputs inputs;
    for (std::size_t i = 0; i < kTableCount; ++i) inputs.tables[i] = session.inputs[i];
    for (std::size_t i = 0; i < kScriptCount; ++i) inputs.scripts[i] = session.inputs[kTableCount + i];
    std::ostringstream out, err;
    session.outputs = {};
    const int status = runOnInputs(std::move(inputs), Folder{"the files given", session.names}, options, out, err,
                                   &session.outputs);
    session.out = out.str();
    session.err = err.str();
    if (status != 0) session.outputs = {};
    return status;
}

// What the run printed on standard output (the report) and standard error.
const char* hl_stdout() { return session.out.c_str(); }
const char* hl_stderr() { return session.err.c_str(); }

// Output `index` (in the tables' order) of a run that succeeded: its name,
// size and bytes; size 0 after a failure.
const char* hl_output_name(int index) {
    return index >= 0 && index < static_cast<int>(kTableCount) ? kOutputFiles[static_cast<std::size_t>(index)] : "";
}
int hl_output_size(int index) {
    if (index < 0 || index >= static_cast<int>(kTableCount)) return 0;
    return static_cast<int>(session.outputs[static_cast<std::size_t>(index)].size());
}
const uint8_t* hl_output(int index) {
    if (index < 0 || index >= static_cast<int>(kTableCount)) return nullptr;
    return session.outputs[static_cast<std::size_t>(index)].data();
}

}  // extern "C"
