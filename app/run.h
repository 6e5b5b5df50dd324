// One run: load the three tables, edit and link them, write the results.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "app/link.h"
#include "app/options.h"
#include "app/pack.h"
#include "fileio/fileio.h"
#include "table/table.h"

namespace headlink {

class FolderFiles;
class ResourceIndex;

// Everything a run reads, as bytes (or the reason a file could not be read).
struct RunInputs {
    std::array<FileBytes, kTableCount> tables;    // in kTableFiles order
    std::array<FileBytes, kScriptCount> scripts;  // in kScriptFiles order
    // Where each table came from when it is not the folder's own file
    // ("Override/heads.2da"), for the report; warnings about finding them.
    std::array<std::string, kTableCount> sources;
    std::vector<Warning> warnings;
    // A pack (--heads): its heads run in this order instead of `scripts`,
    // each on the tables as the heads before it left them.
    std::vector<HeadInputs> heads;
    // Failures found while gathering the inputs, and lines for the report.
    std::vector<Result> errors;
    std::vector<std::string> notes;
    // Tables already loaded from their bytes (a page keeps them from one
    // keystroke to the next): copied instead of loaded again, and the
    // checksum of those bytes, by which an install tells a table it changed.
    std::array<const Table*, kTableCount> loaded{};
    std::array<std::string, kTableCount> loadedSums;
    // With --game: every resource the game can load. The names the scripts
    // set are then checked against it (and the files the heads bring).
    std::shared_ptr<const ResourceIndex> resources;
};

// How an output grew, for the report.
struct OutputGrowth {
    int32_t rowsBefore = 0;
    int32_t rowsAfter = 0;
    std::size_t stringsAdded = 0;
};

// What a run produced: the three edited tables, ready to be written
// (bytes() or save()), or the failures; and every warning and failure as
// said, for the console to print and a page to show. A run answers once,
// in this; the program's job on the disk answers in the same shape.
struct RunOutcome {
    // The warnings in the order they arose, and the failures, each naming
    // its file (and its head and script where it is about one); warnings
    // are said before failures, and under --strict as errors.
    std::vector<Warning> warnings;
    std::vector<Result> failures;
    bool warningsAreErrors = false;
    // How many of the warnings the tables and scripts gave (an install's
    // come after them).
    std::size_t scriptWarnings = 0;
    std::array<Table, kTableCount> tables;  // in kOutputFiles order; cleared after a failure
    std::array<OutputGrowth, kTableCount> growth;
    std::vector<CellMark> marks;  // the cells the scripts set and the links
    LinkColumns links;            // where the links are in these tables
    bool ok() const { return failures.empty(); }
    // Says a failure, after everything said so far.
    void fail(Result why, int head = -1, int script = -1);
};

// The whole run without touching the disk. With `report` set, a line for
// each step that succeeded is written to it as the run goes. Each table is
// loaded in its file's own bytes, so the run holds one copy of each.
// Warnings are also printed as they arise when `live` says where. Each step
// names its file with workOn, for a failure that escapes the run (running
// out of memory).
RunOutcome runInMemory(RunInputs inputs, std::ostream* report = nullptr, LiveWarnings live = {});

// The folder a job's inputs come from, for the hints about them: where it
// is, and the names it holds.
struct Folder {
    std::string path;
    std::vector<std::string> names;
    // With --game: the game folder (absolute) to install the outputs into,
    // instead of writing them here; for a dry run in a page, the list of
    // its files to look at instead (the folder then only names it).
    std::string game;
    FolderFiles* listed = nullptr;
    // Installing: the folder the heads came from, the pack or the scripts'
    // own, kept in the record to know the pack again.
    std::string pack;
};

// The program's job on inputs already read: the report, warnings and
// failures printed as headlink prints them, the outputs written unless
// this is a dry run, and the exit status returned. With `answer` given,
// the job's outcome goes there too, for a front end that shows it.
// Running out of memory is caught here, the one place for the job.
int runOnInputs(RunInputs inputs, const Folder& folder, const Options& options, std::ostream& out,
                std::ostream& err, RunOutcome* answer = nullptr);

// The real program after its options were read: reads the inputs from the
// current folder (or options.directory), writes the outputs there unless
// this is a dry run (with --check-links, only checks the links), prints the
// report on `out` when asked for, warnings
// and one "headlink: ..." line per failure on `err`, and returns the exit
// status (0 success, 1 failure, 2 when the folder cannot be entered).
int runInDirectory(const Options& options, std::ostream& out, std::ostream& err);

// A link cell (of LinkColumns of the tables) that names no row of the table it points into.
// Tables and targets by their index in kTableFiles order.
struct DanglingLink {
    std::size_t table;
    int32_t row;
    int32_t column;
    std::size_t target;
};
// Every link cell whose text is neither empty, "****", nor a row number
// as headlink writes them (decimal digits, no sign, no leading zero) of a
// row that exists. The tables must have their link columns.
std::vector<DanglingLink> danglingLinks(const std::array<Table, kTableCount>& tables);

// headlink --check-links, in the current folder: loads the three tables
// (or, with --outputs, the three outputs) and prints a line for each
// dangling link on `err`. Exit status 0 for none, 1 for some, 2 when a
// table is missing, malformed or too narrow for its link cells.
// With `game`, the three tables are the game folder's (not the outputs).
int checkLinks(const Options& options, const std::string& game, std::ostream& err);

// The three tables from game folder `dir`, as the application finds them:
// their bytes (or why not), where each came from, and warnings.
void readFromGame(const std::string& dir, RunInputs* inputs);
class Game;
void readFromGame(Game& game, RunInputs* inputs);
// Every resource of the game, for checking the names the scripts set; its
// warnings (a texture pack that cannot be read) join the inputs'. When the
// key file cannot be read, the tables' read says so, and nothing is checked.
void readResources(Game& game, RunInputs* inputs);

// The hint for a file given as `given` where `wanted` was looked for (a
// near miss: only the letter case or more extensions differ).
std::string nearMissHint(const std::string& wanted, const std::string& given);

}  // namespace headlink
