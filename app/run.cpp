#include "app/run.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <new>
#include <sstream>
#include <system_error>
#include <utility>

#include "app/link.h"
#include "app/loadable.h"
#include "game/find.h"
#include "game/folder.h"
#include "game/install.h"
#include "patch/patch.h"
#include "table/format.h"
#include "table/table.h"

#ifdef _WIN32
#include <direct.h>
#else
#include <unistd.h>
#endif

namespace headlink {

std::string nearMissHint(const std::string& wanted, const std::string& given) {
    return "the folder holds " + headlink::quoted(given, kWhole) + "; headlink opens exactly " + headlink::quoted(wanted) +
           " (a file browser may hide an extension), so rename it";
}

namespace {


std::string growthText(const OutputGrowth& growth) {
    return std::to_string(growth.rowsBefore) + " -> " + std::to_string(growth.rowsAfter) + " rows, " +
           std::to_string(growth.stringsAdded) + (growth.stringsAdded == 1 ? " new text" : " new texts");
}

// What the console adds to a run's failures, found before the run: the
// near misses of each missing input ("appearance.2da: hint: ..." when the
// folder holds a name the user most likely meant for it), and whether the
// first table is missing.
struct Hints {
    std::vector<std::pair<std::string, std::string>> nearMisses;  // the input, and its hint
    bool firstTableMissing = false;
};

Hints hintsFor(const RunInputs& inputs, const std::vector<std::string>& names) {
    std::vector<std::string> missing;
    for (std::size_t i = 0; i < inputs.tables.size(); ++i)
        if (inputs.tables[i].missing()) missing.push_back(kTableFiles[i]);
    for (std::size_t i = 0; i < inputs.scripts.size(); ++i)
        if (inputs.scripts[i].missing()) missing.push_back(kScriptFiles[i]);
    Hints hints;
    hints.firstTableMissing = inputs.tables[0].missing();
    for (const std::string& name : missing)
        for (const std::string& nearMiss : nearMisses(name, names))
            hints.nearMisses.emplace_back(name, name + ": hint: " + nearMissHint(name, nearMiss));
    return hints;
}

Result enterFolder(const std::string& folder) {
#ifdef _WIN32
    if (_chdir(folder.c_str()) == 0) return {};
#else
    if (::chdir(folder.c_str()) == 0) return {};
#endif
    return Result::failure(Status::notFound, std::string("cannot enter the folder: ") + std::strerror(errno), folder);
}

constexpr const char* kNoneWritten =
    "none of the three outputs was written (they are written together or not at all)";

std::string listOf(std::size_t from, std::size_t to) {
    std::string list;
    for (std::size_t i = from; i < to; ++i) list += std::string(i > from ? ", " : "") + kOutputFiles[i];
    return list;
}

// Writes the three outputs together; the failures go to *errors. Returns
// how many of them, in order, are now the new ones.
std::size_t writeOutputs(const std::array<Table, kTableCount>& tables, std::vector<Result>* errors) {
    std::array<Table::Scratch, kTableCount> scratch;
    std::array<Table::Parts, kTableCount> parts;
    std::array<FileToWrite, kTableCount> files;
    for (std::size_t i = 0; i < files.size(); ++i) {
        parts[i] = tables[i].parts(&scratch[i]);
        files[i] = {kOutputFiles[i], parts[i]};
    }
    const WriteResult result = writeFilesTogether(files);
    using Stage = WriteResult::Stage;
    auto failure = [errors](std::string reason, std::string file = {}) {
        errors->push_back(Result::failure(Status::cannotWrite, std::move(reason), std::move(file)));
    };
    if (result.stage == Stage::flush) {
        failure(result.failures.front().reason + "; the three new outputs are in place but may not survive a power cut");
        return files.size();
    }
    errors->insert(errors->end(), result.failures.begin(), result.failures.end());
    if (result.stage == Stage::prepare || (result.stage == Stage::replace && result.replaced == 0))
        failure(kNoneWritten);
    else if (result.stage == Stage::replace)
        failure("the outputs no longer match each other: new: " + listOf(0, result.replaced) +
                "; as before this run: " + listOf(result.replaced, files.size()) +
                "; run headlink again to write all three");
    return result.replaced;
}

// Each table, loaded from its bytes (or copied, when the caller loaded it
// already); every one that cannot be read or loaded is a failure, in the
// fixed order of kTableFiles.
void loadTables(RunInputs& inputs, RunOutcome& outcome, LinkReport& said) {
    for (std::size_t i = 0; i < kTableCount; ++i) {
        workOn(kTableFiles[i]);
        Table& table = outcome.tables[i];
        FileBytes& file = inputs.tables[i];
        Result why = file.result;
        why.file = kTableFiles[i];
        if (inputs.loaded[i] != nullptr) table = *inputs.loaded[i];
        const bool loaded = inputs.loaded[i] != nullptr ||
                            (file.ok() && table.loadBytes(std::move(file.bytes), kTableFiles[i], &why) == 0);
        std::vector<uint8_t>().swap(file.bytes);  // a table that failed to load
        if (!loaded) {
            outcome.fail(why);
            continue;
        }
        // Read as it is either way: the bytes we do not interpret are kept.
        if (table.signatureLine() != format::kSignature)
            said.warn({kTableFiles[i], 0,
                       "the first line is " + quoted(table.signatureLine()) + ", not the binary signature \"" +
                           std::string(format::kSignature) + "\"; the table is read as it is"});
    }
}

// Every script of every head that cannot be read is a failure, named as
// the run names the script.
void checkScripts(const std::vector<HeadInputs>& heads, RunOutcome& outcome, LinkReport& said) {
    for (std::size_t h = 0; h < heads.size(); ++h) {
        said.head = heads[h].name;
        said.headIndex = h;
        for (std::size_t i = 0; i < kScriptCount; ++i) {
            if (heads[h].scripts[i].ok()) continue;
            Result why = heads[h].scripts[i].result;
            why.file = said.named(kScriptFiles[i]);
            outcome.fail(why, said.headNumber(), static_cast<int>(i));
        }
    }
}

// Each head edits the tables as the one before it left them, as a run
// edits its inputs (the same bytes as running the heads one by one on each
// other's outputs), within its own limit of added rows; the first failure
// ends the run. In a pack each head's growth is reported.
void runHeads(const std::vector<HeadInputs>& heads, bool pack, RunOutcome& outcome, LinkReport& said) {
    std::array<Table, kTableCount>& tables = outcome.tables;
    for (std::size_t i = 0; i < kTableCount; ++i) outcome.growth[i].rowsBefore = tables[i].rowCount();
    for (std::size_t h = 0; h < heads.size(); ++h) {
        for (Table& table : tables) table.restartAppendedCount(pack ? "this head" : "");
        std::array<OutputGrowth, kTableCount> growth;
        for (std::size_t i = 0; i < kTableCount; ++i) {
            growth[i].rowsBefore = tables[i].rowCount();
            growth[i].stringsAdded = tables[i].poolIndex().size();
        }
        said.head = heads[h].name;
        said.headIndex = h;
        Result linked = runLinking(tables[kAppearance], tables[kHeads], tables[kPortraits], heads[h].scripts, &said);
        if (!linked) {
            // A script's name holds its head already ("moonveil/head.txt"); a table's gets it before it.
            if (pack && said.failedScript < 0) linked.file = linked.file.empty() ? heads[h].name : heads[h].name + ": " + linked.file;
            outcome.fail(linked, said.headNumber(), said.failedScript);
            return;
        }
        for (std::size_t i = 0; i < kTableCount; ++i) {
            growth[i].rowsAfter = tables[i].rowCount();
            growth[i].stringsAdded = tables[i].poolIndex().size() - growth[i].stringsAdded;
            outcome.growth[i].stringsAdded += growth[i].stringsAdded;
            if (pack && said.out != nullptr)
                *said.out << heads[h].name << ": " << kTableFiles[i] << ": " << growthText(growth[i]) << '\n';
        }
    }
}

// The names the scripts set that the game cannot load, warned about as
// the scripts' own slips are, each under its head; in the report, those
// found only in a subfolder of the override folder.
void checkNames(const std::array<Table, kTableCount>& tables, const ResourceIndex& index,
                const std::vector<HeadInputs>& heads, LinkReport& said) {
    std::vector<std::string> notes;
    std::vector<Warning> names = unloadableNames(tables, said.marks, index, heads, said.links, said.out ? &notes : nullptr);
    for (const std::string& note : notes) *said.out << note << '\n';
    for (Warning& name : names) {
        said.head = heads[static_cast<std::size_t>(name.head)].name;
        said.headIndex = static_cast<std::size_t>(name.head);
        const int script = name.script;
        said.warn(std::move(name), script);
    }
}

}  // namespace

void RunOutcome::fail(Result why, int head, int script) {
    why.head = head;
    why.script = script;
    failures.push_back(std::move(why));
}

RunOutcome runInMemory(RunInputs inputs, std::ostream* report, LiveWarnings live) {
    RunOutcome outcome;
    LinkReport said;
    said.out = report;
    said.live = live;
    for (std::size_t i = 0; report != nullptr && i < kTableCount; ++i)
        if (!inputs.sources[i].empty()) *report << kTableFiles[i] << ": from " << inputs.sources[i] << '\n';
    for (const std::string& note : inputs.notes)
        if (report != nullptr) *report << note << '\n';
    for (Warning& warning : inputs.warnings) said.warn(std::move(warning));
    for (const Result& error : inputs.errors) outcome.fail(error);
    // Every table and every script that cannot be read or loaded is
    // reported, in this fixed order; then nothing more is done.
    loadTables(inputs, outcome, said);
    // Without a pack, the one head is the folder's own five scripts.
    const bool pack = !inputs.heads.empty();
    if (!pack) inputs.heads.push_back({"", std::move(inputs.scripts), {}});
    checkScripts(inputs.heads, outcome, said);
    if (outcome.ok()) runHeads(inputs.heads, pack, outcome, said);
    if (outcome.ok() && inputs.resources) checkNames(outcome.tables, *inputs.resources, inputs.heads, said);
    outcome.scriptWarnings = said.warnings.size();
    outcome.warnings = std::move(said.warnings);
    outcome.warningsAreErrors = live.asErrors;
    outcome.marks = std::move(said.marks);
    outcome.links = said.links;
    if (!outcome.ok()) {
        for (Table& table : outcome.tables) table.clear();
        return outcome;
    }
    for (std::size_t i = 0; i < kTableCount; ++i) outcome.growth[i].rowsAfter = outcome.tables[i].rowCount();
    return outcome;
}

namespace {

// What the run read of the game, for the install: each table's checksum
// and where it came from, and the heads' names for the record.
struct ReadFromGame {
    std::array<std::string, kTableCount> sums;
    std::array<std::string, kTableCount> sources;
    std::vector<std::string> heads;
    PackSign pack;
};

ReadFromGame readForInstall(const RunInputs& inputs, const std::string& pack) {
    ReadFromGame read;
    for (std::size_t i = 0; i < kTableCount; ++i)
        if (inputs.loaded[i] != nullptr) read.sums[i] = inputs.loadedSums[i];
        else if (inputs.tables[i].ok()) read.sums[i] = checksumOf(inputs.tables[i].bytes);
    read.sources = inputs.sources;
    for (const HeadInputs& head : inputs.heads) read.heads.push_back(head.name);
    // One head: its scripts' folder names it.
    std::error_code ec;
    // (At a drive's or the system's root the folder has no name of its own.)
    const std::filesystem::path cwd = std::filesystem::current_path(ec);
    const std::u8string here = (cwd.has_filename() ? cwd.filename() : cwd).generic_u8string();
    if (inputs.heads.empty() && !here.empty()) read.heads.emplace_back(here.begin(), here.end());
    if (inputs.heads.empty()) {
        HeadInputs one{read.heads.empty() ? std::string() : read.heads[0], inputs.scripts, {}};
        read.pack.sum = packChecksum({one});
    } else {
        read.pack.sum = packChecksum(inputs.heads);
    }
    read.pack.path = packPlace(pack.empty() ? cwd.string() : pack);
    return read;
}

// Installs the tables the run changed into the game folder: the report
// first (on `out` when asked for, and kept with the install), then what the
// install did; its warnings are said as they come, and a failure ends the
// outcome.
void installIntoGame(RunOutcome& outcome, const ReadFromGame& read, const std::vector<BroughtFile>& brought,
                     std::ostringstream& kept, const Folder& folder, const Options& options, bool report,
                     std::ostream& out, const LiveWarnings& live) {
    std::array<std::vector<uint8_t>, kTableCount> bytes;
    std::vector<FileToInstall> files;
    for (std::size_t i = 0; i < kTableCount; ++i) {
        bytes[i] = outcome.tables[i].bytes();
        const bool changed = checksumOf(bytes[i]) != read.sums[i];
        kept << kTableFiles[i] << ": " << growthText(outcome.growth[i]) << (changed ? "" : "; unchanged") << '\n';
        if (changed) files.push_back({kTableFiles[i], bytes[i], {}, read.sources[i], read.sums[i]});
    }
    for (const BroughtFile& file : brought) files.push_back({file.name, file.bytes, file.from});
    // The warnings are kept with the install; on the console they were
    // said already, as they came.
    if (report) out << kept.str();
    for (const Warning& warning : outcome.warnings) kept << warning.describe(outcome.warningsAreErrors) << '\n';
    std::vector<Warning> warnings;
    const Result installed = install({folder.game, options.game}, files, read.heads, kept.str(),
                                     {options.dryRun, options.strict, folder.listed, read.pack}, out, &warnings);
    for (Warning& warning : warnings) {
        if (live.err != nullptr) *live.err << "headlink: " << warning.describe(live.asErrors) << '\n';
        outcome.warnings.push_back(std::move(warning));
    }
    if (!installed) outcome.fail(installed);
}

// The files a pack's heads bring, each name once (the pack was checked to
// bring no name twice with different bytes), taken out of the inputs.
std::vector<BroughtFile> broughtFiles(RunInputs& inputs) {
    std::vector<BroughtFile> files;
    for (HeadInputs& head : inputs.heads)
        for (BroughtFile& file : head.files)
            if (std::none_of(files.begin(), files.end(), [&](const BroughtFile& f) { return sameText(f.name, file.name); }))
                files.push_back({file.name, file.from, std::move(file.bytes)});  // the names stay, for the check
    return files;
}

// The outputs of a run that worked (or stopped by --strict), written, or
// installed into the game, as the options say, and the report's lines on
// them. The outputs are one linked set: written all together or not at all.
void finishOutputs(RunOutcome& outcome, const ReadFromGame& read, const std::vector<BroughtFile>& brought,
                   std::ostringstream& kept, const Folder& folder, const Options& options, std::ostream& out,
                   const LiveWarnings& live) {
    const bool report = options.verbose || options.dryRun;
    const bool installing = !folder.game.empty();
    std::size_t written = 0;
    if (!options.dryRun && !installing && outcome.ok()) {
        std::vector<Result> failures;
        written = writeOutputs(outcome.tables, &failures);
        for (const Result& failure : failures) outcome.fail(failure);
    }
    for (std::size_t i = 0; report && !installing && i < kOutputFiles.size(); ++i)
        out << kOutputFiles[i] << ": " << growthText(outcome.growth[i]) << "; "
            << (options.dryRun ? "not written (dry run)" : i < written ? "written" : "not written") << '\n';
    if (installing && outcome.ok()) installIntoGame(outcome, read, brought, kept, folder, options, report, out, live);
}

RunOutcome runJob(RunInputs inputs, const Folder& folder, const Options& options, std::ostream& out,
                  std::ostream& err) {
    const bool report = options.verbose || options.dryRun;
    // Installing, a table goes into the game only when the run changed it;
    // the report is kept with the install too.
    const bool installing = !folder.game.empty();
    const ReadFromGame read = installing ? readForInstall(inputs, folder.pack) : ReadFromGame{};
    const std::vector<BroughtFile> brought = broughtFiles(inputs);
    if (!brought.empty() && !installing)
        inputs.notes.push_back("the heads bring " + std::to_string(brought.size()) +
                               (brought.size() == 1 ? " file" : " files") +
                               " for the game's override folder: without --game they are not copied anywhere");
    std::ostringstream kept;
    // Warnings are printed as they arise, beside the report; --strict
    // shows them as errors even with -q.
    LiveWarnings live;
    if (!options.quiet || options.strict) live.err = &err;
    live.asErrors = options.strict;
    RunOutcome outcome = runInMemory(std::move(inputs), installing ? &kept : report ? &out : nullptr, live);
    workOn("the outputs");
    const bool strictStop = options.strict && outcome.ok() && outcome.scriptWarnings > 0;
    if (strictStop)
        outcome.fail(Result::failure(Status::warnings, "nothing was written because of --strict: every "
                                                       "warning above is an error"));
    if (outcome.ok() || strictStop) finishOutputs(outcome, read, brought, kept, folder, options, out, live);
    if (options.dryRun) out << "dry run: nothing was written\n";
    // The report is all a dry run gives: losing it is a failure.
    if (report && !out.flush())
        outcome.fail(Result::failure(Status::cannotWrite, "cannot write the report", "standard output"));
    return outcome;
}

// A job's failures as headlink prints them, each near miss's hint after
// the failure of its input; a missing first table with no near miss
// usually means headlink ran in the wrong folder, and says so.
void printFailures(const RunOutcome& outcome, const Hints& hints, const Folder& folder, std::ostream& err) {
    std::vector<std::string> lines;
    std::vector<std::string> files;  // of each line
    for (const Result& failure : outcome.failures) {
        lines.push_back(failure.description());
        files.push_back(failure.file);
    }
    for (const auto& [name, hint] : hints.nearMisses) {
        const auto at = std::find(files.begin(), files.end(), name);
        if (at == files.end()) continue;
        const auto after = at - files.begin() + 1;
        lines.insert(lines.begin() + after, hint);
        files.insert(files.begin() + after, std::string());
    }
    const bool nearMissFirst = !hints.nearMisses.empty() && hints.nearMisses.front().first == kTableFiles[0];
    if (hints.firstTableMissing && !nearMissFirst && !lines.empty()) {
        std::string hint = std::string("hint: there is no ") + kTableFiles[0] + " in " + folder.path +
                           "; run headlink in the folder that holds ";
        for (const char* name : kTableFiles) hint += std::string(name) + ", ";
        for (std::size_t i = 0; i + 1 < kScriptFiles.size(); ++i) hint += std::string(kScriptFiles[i]) + ", ";
        hint += std::string("and ") + kScriptFiles.back() + " (or name that folder with -C)";
        lines.insert(lines.begin() + 1, hint);
    }
    for (const std::string& line : lines) err << "headlink: " << line << '\n';
}

}  // namespace

int runOnInputs(RunInputs inputs, const Folder& folder, const Options& options, std::ostream& out,
                std::ostream& err, RunOutcome* answer) {
    // Running out of memory anywhere in the job is caught here, and named
    // after the file being worked on.
    workOn("the outputs");
    try {
        const Hints hints = hintsFor(inputs, folder.names);
        RunOutcome outcome = runJob(std::move(inputs), folder, options, out, err);
        printFailures(outcome, hints, folder, err);
        const int status = outcome.ok() ? 0 : 1;
        if (answer != nullptr) *answer = std::move(outcome);
        return status;
    } catch (const std::bad_alloc&) {
        err << "headlink: " << workingOn() << ": " << kNotEnoughMemory << '\n';
        return 1;
    }
}

void readFromGame(const std::string& dir, RunInputs* inputs) {
    Game game(dir);
    readFromGame(game, inputs);
}

void readFromGame(Game& game, RunInputs* inputs) {
    for (std::size_t i = 0; i < kTableFiles.size(); ++i) {
        FoundTable table;
        Result found = game.read(kTableFiles[i], &table);
        if (!found) {
            // Named after the table, and where in the game the trouble is.
            if (!found.file.empty() && found.file != kTableFiles[i]) found.reason = found.file + ": " + found.reason;
            inputs->tables[i].result = std::move(found);
            continue;
        }
        inputs->tables[i].bytes = std::move(table.bytes);
        inputs->sources[i] = std::move(table.from);
        std::move(table.warnings.begin(), table.warnings.end(), std::back_inserter(inputs->warnings));
    }
}

void readResources(Game& game, RunInputs* inputs) {
    auto index = std::make_shared<ResourceIndex>();
    if (game.resources(index.get(), &inputs->warnings)) inputs->resources = std::move(index);
}

namespace {

// Takes the game folder's lock: exclusive for a run that installs or
// undoes, failing at once when another holds it; shared, waiting a while,
// for one that only reads. 0 to go on, or the exit status.
int lockGame(const std::string& game, const Options& options, FolderLock* lock, std::ostream& err) {
    const bool changes = !options.dryRun && !options.checkLinks;
    FolderLock::State state = FolderLock::State::held;
    // A folder this user cannot write in is said so, before anything is read.
    if (changes)
        if (const Result why = writeAccess({game, options.game}); !why) {
            err << "headlink: " << why.description() << "; nothing was " << (options.uninstall ? "undone" : "installed")
                << '\n';
            return 1;
        }
    // A reader of a folder that cannot even be looked at fails where it is
    // read, with its reason; a run that would change it stops here.
    if (const Result taken = lock->take(game, changes, changes ? 0 : kGameLockWaitMs, &state); !taken) {
        if (!changes) return 0;
        err << "headlink: " << options.game << ": " << taken.reason
            << ": headlink changes a game folder only while it holds its lock, so nothing was changed; if "
            << kLockFileName << " there is a folder, move it away and try again\n";
        return 1;
    }
    if (state == FolderLock::State::busy || state == FolderLock::State::reading) {
        err << "headlink: " << options.game << ": " << (state == FolderLock::State::busy ? kGameBusy : kGameRead)
            << '\n';
        return options.checkLinks ? 2 : 1;  // (for --check-links, 1 means links that lead nowhere)
    }
    if (state == FolderLock::State::unsupported) {
        err << "headlink: " << options.game << ": " << (options.strict ? "error: " : "warning: ")
            << "this file system cannot lock the game folder, so another headlink could change it at the same time\n";
        if (options.strict) return 1;
    }
    return 0;
}

// Reads the game's tables. A run holding the exclusive lock reads what it
// will change; a reader reads again when an install or undo came and went
// meanwhile, and gives up, saying so, if that goes on.
bool readWholeInstalls(const std::string& game, const Options& options, RunInputs* inputs, std::ostream& err) {
    auto read = [&] {
        *inputs = RunInputs{};
        Game folder(game);
        readFromGame(folder, inputs);
        if (std::all_of(inputs->tables.begin(), inputs->tables.end(), [](const FileBytes& t) { return t.ok(); }))
            readResources(folder, inputs);
    };
    if (!options.dryRun && !options.checkLinks) {
        read();
        return true;
    }
    if (readSteadily(game, read)) return true;
    err << "headlink: " << options.game << ": " << kGameBusy << '\n';
    return false;
}

// The game and pack folders named on the command line, made absolute from
// where headlink started (before -C); "" for one not named; *shown is
// the game's as said in messages. 0 when each
// named one is a folder, else the exit status, said on `err`.
int namedFolders(const Options& options, std::string* game, std::string* shown, std::string* pack, std::ostream& out,
                 std::ostream& err) {
    std::error_code ec;
    *game = options.game.empty() ? std::string() : std::filesystem::absolute(options.game, ec).string();
    if (!game->empty() && !std::filesystem::is_directory(*game, ec)) {
        const bool file = std::filesystem::exists(*game, ec);
        err << "headlink: " << options.game << ": not a game folder: "
            << (file ? std::string("it is a file, not a folder") : ec ? ec.message() : std::string("no folder of this name"))
            << '\n';
        return 2;
    }
    // A game folder whose files are in its steamassets subfolder: that one.
    if (!game->empty()) {
        const std::string data = gameDataFolder(*game);
        if (data != *game) {
            *shown = (std::filesystem::path(options.game) / std::filesystem::path(data).filename()).string();
            if (options.verbose || options.dryRun)
                out << "the game's files are in " << *shown << ": headlink uses that folder\n";
            *game = data;
        }
    }
    *pack = options.heads.empty() ? std::string() : std::filesystem::absolute(options.heads, ec).string();
    if (!pack->empty() && !std::filesystem::is_directory(*pack, ec)) {
        err << "headlink: " << options.heads << ": not a pack folder: "
            << (ec ? ec.message() : std::string("no folder of this name")) << '\n';
        return 2;
    }
    return 0;
}

// The job's inputs: the tables from the game folder or the current one,
// and the pack's heads or the current folder's five scripts. False, said
// on `err`, when there is nothing to run.
bool readInputs(const Options& options, const std::string& game, const std::string& pack, RunInputs* inputs,
                std::ostream& err) {
    if (!game.empty() && !readWholeInstalls(game, options, inputs, err)) return false;
    for (std::size_t i = 0; game.empty() && i < kTableFiles.size(); ++i) inputs->tables[i] = readFile(kTableFiles[i]);
    if (!pack.empty()) {
        PackInputs read = readPack(pack, options.heads);
        inputs->heads = std::move(read.heads);
        inputs->errors = std::move(read.errors);
        for (const std::string& skipped : read.skipped) inputs->notes.push_back(skippedNote(skipped));
    }
    for (std::size_t i = 0; pack.empty() && i < kScriptFiles.size(); ++i) inputs->scripts[i] = readFile(kScriptFiles[i]);
    // With the tables from a game, a folder without a single script is most
    // likely the wrong folder: said once, with the ways to the right one.
    if (!game.empty() && pack.empty() &&
        std::all_of(inputs->scripts.begin(), inputs->scripts.end(), [](const FileBytes& s) { return s.missing(); })) {
        err << "headlink: none of the five scripts is in " << (options.directory.empty() ? "this folder" : options.directory)
            << " (" << listed(std::vector<std::string>(kScriptFiles.begin(), kScriptFiles.end()))
            << "): run headlink where they are, name their folder with -C FOLDER, or a pack of heads with --heads PACK\n";
        return false;
    }
    return true;
}

// The folder the inputs came from; it is looked at only for a hint about a
// missing input.
Folder folderOf(const RunInputs& inputs, const std::string& game) {
    Folder folder;
    folder.game = game;
    bool missing = false;
    for (const FileBytes& file : inputs.tables) missing = missing || file.missing();
    for (const FileBytes& file : inputs.scripts) missing = missing || file.missing();
    if (missing) {
        std::error_code ec;
        folder.path = std::filesystem::current_path(ec).string();
        for (std::filesystem::directory_iterator it(".", ec), end; !ec && it != end; it.increment(ec))
            folder.names.push_back(it->path().filename().string());
    }
    return folder;
}

}  // namespace

int runInDirectory(const Options& given, std::ostream& out, std::ostream& err) {
    std::string game, pack;
    Options options = given;  // its game named as the folder used
    if (const int status = namedFolders(given, &game, &options.game, &pack, out, err); status != 0) return status;
    if (const Result entered = options.directory.empty() ? Result{} : enterFolder(options.directory); !entered) {
        err << "headlink: " << entered.description() << '\n';
        return 2;
    }
    // One run at a time in a game folder, from before its tables are read
    // until the last write; released when this returns, before the
    // console's "press Enter" wait.
    FolderLock lock;
    if (!game.empty())
        if (const int status = lockGame(game, options, &lock, err); status != 0) return status;
    if (options.checkLinks) return checkLinks(options, game, err);
    if (options.uninstall) {
        std::vector<Warning> warnings;
        const Result undone = uninstall({game, options.game}, {options.dryRun, options.force}, out, &warnings);
        for (const Warning& warning : warnings) err << "headlink: " << warning.describe() << '\n';
        if (!undone) err << "headlink: " << undone.description() << '\n';
        return undone ? 0 : 1;
    }
    RunInputs inputs;
    if (!readInputs(options, game, pack, &inputs, err)) return 1;
    Folder folder = folderOf(inputs, game);
    folder.pack = pack;
    return runOnInputs(std::move(inputs), folder, options, out, err);
}

}  // namespace headlink
