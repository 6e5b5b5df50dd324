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

namespace {


std::string growthText(const OutputGrowth& growth) {
    return std::to_string(growth.rowsBefore) + " -> " + std::to_string(growth.rowsAfter) + " rows, " +
           std::to_string(growth.stringsAdded) + (growth.stringsAdded == 1 ? " new text" : " new texts");
}

// "appearance.2da: hint: ..." for a missing input when the folder holds a
// name the user most likely meant for it.
std::vector<std::pair<std::string, std::string>> nameHints(const RunInputs& inputs,
                                                           const std::vector<std::string>& names) {
    std::vector<std::string> missing;
    for (std::size_t i = 0; i < inputs.tables.size(); ++i)
        if (inputs.tables[i].missing()) missing.push_back(kTableFiles[i]);
    for (std::size_t i = 0; i < inputs.scripts.size(); ++i)
        if (inputs.scripts[i].missing()) missing.push_back(kScriptFiles[i]);
    std::vector<std::pair<std::string, std::string>> hints;
    for (const std::string& name : missing)
        for (const std::string& nearMiss : nearMisses(name, names))
            hints.emplace_back(name, name + ": hint: the folder holds " + headlink::quoted(nearMiss, kWhole) +
                                         "; headlink opens exactly " + headlink::quoted(name) + " (a file browser may hide "
                                         "an extension), so rename it");
    return hints;
}

// A failure of one head of a pack names it: a script's already does
// ("moonveil/head.txt"); a table's gets the head before it. The limit of
// rows added is the head's own.
void nameTheHead(const std::string& head, Result* why) {
    if (why->file.rfind(head + "/", 0) != 0) why->file = why->file.empty() ? head : head + ": " + why->file;
    const std::string limit = "no more than " + std::to_string(kMaxAppendedRows) + " rows can be added to one table";
    if (const std::size_t at = why->reason.find(limit); at != std::string::npos)
        why->reason.replace(at, limit.size(),
                            "the table already had " + std::to_string(kMaxAppendedRows) + " rows added by this head");
}

bool enterFolder(const std::string& folder, std::string* why) {
#ifdef _WIN32
    if (_chdir(folder.c_str()) == 0) return true;
#else
    if (::chdir(folder.c_str()) == 0) return true;
#endif
    *why = folder + ": cannot enter the folder: " + std::strerror(errno);
    return false;
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

}  // namespace

RunOutcome runInMemory(RunInputs inputs, std::ostream* report, LiveWarnings live, const char** current) {
    RunOutcome outcome;
    std::array<Table, kTableCount>& tables = outcome.tables;
    LinkReport linkReport;
    linkReport.out = report;
    linkReport.live = live;
    linkReport.current = current;
    for (std::size_t i = 0; report != nullptr && i < tables.size(); ++i)
        if (!inputs.sources[i].empty()) *report << kTableFiles[i] << ": from " << inputs.sources[i] << '\n';
    for (const std::string& note : inputs.notes)
        if (report != nullptr) *report << note << '\n';
    for (Warning& warning : inputs.warnings) linkReport.warn(std::move(warning));
    outcome.errors = std::move(inputs.errors);
    // Every table and every script that cannot be read or loaded is
    // reported, in this fixed order; then nothing more is done.
    for (std::size_t i = 0; i < tables.size(); ++i) {
        if (current != nullptr) *current = kTableFiles[i];
        FileBytes& file = inputs.tables[i];
        Result why = file.result;
        why.file = kTableFiles[i];
        if (inputs.loaded[i] != nullptr) tables[i] = *inputs.loaded[i];
        const bool loaded = inputs.loaded[i] != nullptr ||
                            (file.ok() && tables[i].loadBytes(std::move(file.bytes), kTableFiles[i], &why) == 0);
        std::vector<uint8_t>().swap(file.bytes);  // a table that failed to load
        if (!loaded) {
            outcome.errors.push_back(std::move(why));
            continue;
        }
        // Read as it is either way: the bytes we do not interpret are kept.
        if (tables[i].signatureLine() != format::kSignature)
            linkReport.warn({kTableFiles[i], 0,
                             "the first line is " + quoted(tables[i].signatureLine()) +
                                 ", not the binary signature \"" + std::string(format::kSignature) +
                                 "\"; the table is read as it is"});
    }
    // Without a pack, the one head is the folder's own five scripts.
    const bool pack = !inputs.heads.empty();
    if (!pack) inputs.heads.push_back({"", std::move(inputs.scripts), {}});
    for (const HeadInputs& head : inputs.heads) {
        linkReport.head = head.name;
        for (std::size_t i = 0; i < head.scripts.size(); ++i) {
            if (head.scripts[i].ok()) continue;
            outcome.errors.push_back(head.scripts[i].result);
            outcome.errors.back().file = linkReport.named(kScriptFiles[i]);
        }
    }
    if (!outcome.ok()) {
        outcome.warnings = std::move(linkReport.warnings);
        for (Table& table : tables) table.clear();
        return outcome;
    }

    for (std::size_t i = 0; i < tables.size(); ++i) outcome.growth[i].rowsBefore = tables[i].rowCount();
    for (std::size_t h = 0; h < inputs.heads.size(); ++h) {
        HeadInputs& head = inputs.heads[h];
        // Each head edits the tables as the one before it left them, as a
        // run edits its inputs (the same bytes as running the heads one by
        // one on each other's outputs), within its own limit of added rows.
        for (Table& table : tables) table.restartAppendedCount();
        std::array<OutputGrowth, kTableCount> growth;
        for (std::size_t i = 0; i < tables.size(); ++i) {
            growth[i].rowsBefore = tables[i].rowCount();
            growth[i].stringsAdded = tables[i].poolIndex().size();
        }
        linkReport.head = head.name;
        linkReport.headIndex = h;
        Result linked = runLinking(tables[kAppearance], tables[kHeads], tables[kPortraits], head.scripts, &linkReport);
        if (!linked) {
            if (pack) nameTheHead(head.name, &linked);
            outcome.errors.push_back(std::move(linked));
            break;
        }
        for (std::size_t i = 0; i < tables.size(); ++i) {
            growth[i].rowsAfter = tables[i].rowCount();
            growth[i].stringsAdded = tables[i].poolIndex().size() - growth[i].stringsAdded;
            outcome.growth[i].stringsAdded += growth[i].stringsAdded;
            if (pack && report != nullptr)
                *report << head.name << ": " << kTableFiles[i] << ": " << growthText(growth[i]) << '\n';
        }
    }
    outcome.warnings = std::move(linkReport.warnings);
    outcome.marks = std::move(linkReport.marks);
    if (!outcome.ok()) {
        for (Table& table : tables) table.clear();
        return outcome;
    }
    for (std::size_t i = 0; i < tables.size(); ++i) outcome.growth[i].rowsAfter = tables[i].rowCount();
    return outcome;
}

namespace {

// Installs the tables the run changed into the game folder: the report
// first (on `out` when asked for, and kept with the install), then what the
// install did; a failure joins outcome.errors.
// What the run read of the game, for the install: each table's checksum
// and where it came from, and the heads' names for the record.
struct ReadFromGame {
    std::array<std::string, kTableCount> sums;
    std::array<std::string, kTableCount> sources;
    std::vector<std::string> heads;
};

void install(RunOutcome& outcome, const ReadFromGame& read, const std::vector<BroughtFile>& brought,
             std::ostringstream& kept, const Folder& folder, const Options& options, bool report, std::ostream& out,
             const LiveWarnings& live) {
    std::array<std::vector<uint8_t>, kTableCount> bytes;
    std::vector<FileToInstall> files;
    for (std::size_t i = 0; i < kTableCount; ++i) {
        bytes[i] = outcome.tables[i].bytes();
        const bool changed = checksumOf(bytes[i]) != read.sums[i];
        kept << kTableFiles[i] << ": " << growthText(outcome.growth[i]) << (changed ? "" : "; unchanged") << '\n';
        if (changed) files.push_back({kTableFiles[i], bytes[i], {}, read.sources[i], read.sums[i]});
    }
    for (const BroughtFile& file : brought) files.push_back({file.name, file.bytes, file.from});
    for (const Warning& warning : outcome.warnings) kept << warning.describe(false) << '\n';
    if (report) out << kept.str();
    std::vector<Result> warnings;
    Result installed = headlink::install({folder.game, options.game}, files, read.heads, kept.str(),
                                         {options.dryRun, options.strict, folder.listed}, out, &warnings);
    for (const Result& warning : warnings) {
        if (live.err != nullptr) *live.err << "headlink: " << Warning{warning.file, 0, warning.reason}.describe(live.asErrors) << '\n';
        outcome.warnings.push_back({warning.file, 0, warning.reason});
    }
    if (!installed) outcome.errors.push_back(std::move(installed));
}

// The files a pack's heads bring, each name once (the pack was checked to
// bring no name twice with different bytes), taken out of the inputs.
std::vector<BroughtFile> broughtFiles(RunInputs& inputs) {
    std::vector<BroughtFile> files;
    for (HeadInputs& head : inputs.heads)
        for (BroughtFile& file : head.files)
            if (std::none_of(files.begin(), files.end(), [&](const BroughtFile& f) { return sameText(f.name, file.name); }))
                files.push_back(std::move(file));
    return files;
}

int runJob(RunInputs inputs, const Folder& folder, const Options& options, std::ostream& out, std::ostream& err,
           const char** current, JobOutputs* outputs) {
    const bool report = options.verbose || options.dryRun;
    const bool firstTableMissing = inputs.tables[0].missing();
    const auto hints = nameHints(inputs, folder.names);
    // Installing, a table goes into the game only when the run changed it;
    // the report is kept with the install too.
    const bool installing = !folder.game.empty();
    ReadFromGame read;
    for (std::size_t i = 0; installing && i < kTableCount; ++i)
        if (inputs.loaded[i] != nullptr) read.sums[i] = inputs.loadedSums[i];
        else if (inputs.tables[i].ok()) read.sums[i] = checksumOf(inputs.tables[i].bytes);
    if (installing) {
        read.sources = inputs.sources;
        for (const HeadInputs& head : inputs.heads) read.heads.push_back(head.name);
        // One head: its scripts' folder names it.
        std::error_code ec;
        // (At a drive's or the system's root the folder has no name of its own.)
        const std::filesystem::path cwd = std::filesystem::current_path(ec);
        const std::u8string here = (cwd.has_filename() ? cwd.filename() : cwd).generic_u8string();
        if (inputs.heads.empty() && !here.empty()) read.heads.emplace_back(here.begin(), here.end());
    }
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
    RunOutcome outcome =
        runInMemory(std::move(inputs), installing ? &kept : report ? &out : nullptr, live, current);
    if (outputs != nullptr) outputs->warnings = outcome.warnings.size();
    *current = "the outputs";
    const bool strictStop = options.strict && outcome.ok() && !outcome.warnings.empty();
    if (strictStop)
        outcome.errors.push_back(Result::failure(Status::warnings, "nothing was written because of --strict: every "
                                                                   "warning above is an error"));

    // The outputs are one linked set: written all together or not at all.
    if (outcome.ok() || strictStop) {
        std::size_t written = 0;
        if (!options.dryRun && !installing && outcome.ok()) written = writeOutputs(outcome.tables, &outcome.errors);
        for (std::size_t i = 0; outputs != nullptr && outcome.ok() && i < kTableCount; ++i)
            outputs->rowsBefore[i] = outcome.growth[i].rowsBefore;
        if (outputs != nullptr && outcome.ok()) outputs->marks = std::move(outcome.marks);
        for (std::size_t i = 0; report && !installing && i < kOutputFiles.size(); ++i)
            out << kOutputFiles[i] << ": " << growthText(outcome.growth[i]) << "; "
                << (options.dryRun ? "not written (dry run)" : i < written ? "written" : "not written") << '\n';
        if (installing && outcome.ok()) install(outcome, read, brought, kept, folder, options, report, out, live);
        if (outputs != nullptr && outcome.ok()) outputs->tables = std::move(outcome.tables);
    }
    for (const Warning& warning : outcome.warnings)
        if (outputs != nullptr) outputs->said.push_back({warning.file, warning.line, warning.describe(options.strict), true});
    for (const Result& error : outcome.errors)
        if (outputs != nullptr) outputs->said.push_back({error.file, error.line, error.description()});
    if (options.dryRun) out << "dry run: nothing was written\n";
    // The report is all a dry run gives: losing it is a failure.
    if (report && !out.flush())
        outcome.errors.push_back(Result::failure(Status::cannotWrite, "cannot write the report", "standard output"));
    std::vector<std::string> lines;
    for (const Result& error : outcome.errors) lines.push_back(error.description());

    // A name that almost matches is most likely the file meant.
    for (const auto& [name, hint] : hints) {
        auto at = std::find_if(lines.begin(), lines.end(),
                               [&name = name](const std::string& line) { return line.rfind(name + ": ", 0) == 0; });
        if (at != lines.end()) lines.insert(at + 1, hint);
    }
    // A missing first table (with no near miss) usually means headlink ran
    // in the wrong folder.
    const bool nearMissFirst = !hints.empty() && hints.front().first == kTableFiles[0];
    if (firstTableMissing && !nearMissFirst && !lines.empty()) {
        std::string hint = std::string("hint: there is no ") + kTableFiles[0] + " in " + folder.path +
                           "; run headlink in the folder that holds ";
        for (const char* name : kTableFiles) hint += std::string(name) + ", ";
        for (std::size_t i = 0; i + 1 < kScriptFiles.size(); ++i) hint += std::string(kScriptFiles[i]) + ", ";
        hint += std::string("and ") + kScriptFiles.back() + " (or name that folder with -C)";
        lines.insert(lines.begin() + 1, hint);
    }

    for (const std::string& line : lines) err << "headlink: " << line << '\n';
    return outcome.ok() ? 0 : 1;
}

}  // namespace

int runOnInputs(RunInputs inputs, const Folder& folder, const Options& options, std::ostream& out,
                std::ostream& err, JobOutputs* outputs) {
    // Running out of memory anywhere in the job is caught here, and named
    // after the file being worked on.
    const char* current = "the outputs";
    try {
        return runJob(std::move(inputs), folder, options, out, err, &current, outputs);
    } catch (const std::bad_alloc&) {
        err << "headlink: " << current << ": " << kNotEnoughMemory << '\n';
        return 1;
    }
}

void readFromGame(const std::string& dir, RunInputs* inputs) {
    Game game(dir);
    readFromGame(game, inputs);
}

void readFromGame(Game& game, RunInputs* inputs) {
    for (std::size_t i = 0; i < kTableFiles.size(); ++i) {
        GameTable table;
        Result found = game.read(kTableFiles[i], &table);
        if (!found) {
            // Named after the table, and where in the game the trouble is.
            if (!found.file.empty() && found.file != kTableFiles[i]) found.reason = found.file + ": " + found.reason;
            inputs->tables[i].result = std::move(found);
            continue;
        }
        inputs->tables[i].bytes = std::move(table.bytes);
        inputs->sources[i] = std::move(table.from);
        for (std::string& warning : table.warnings) inputs->warnings.push_back({kTableFiles[i], 0, std::move(warning)});
    }
}

namespace {

// Takes the game folder's lock: exclusive for a run that installs or
// undoes, failing at once when another holds it; shared, waiting a while,
// for one that only reads. 0 to go on, or the exit status.
int lockGame(const std::string& game, const Options& options, FolderLock* lock, std::ostream& err) {
    const bool changes = !options.dryRun && !options.checkLinks;
    FolderLock::State state = FolderLock::State::held;
    // A folder that cannot even be looked at fails where it is read, with its reason.
    if (!lock->take(game, changes, changes ? 0 : kGameLockWaitMs, &state)) return 0;
    if (state == FolderLock::State::busy) {
        err << "headlink: " << options.game << ": " << kGameBusy << '\n';
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
        readFromGame(game, inputs);
    };
    if (!options.dryRun && !options.checkLinks) {
        read();
        return true;
    }
    if (readSteadily(game, read)) return true;
    err << "headlink: " << options.game << ": " << kGameBusy << '\n';
    return false;
}

}  // namespace

int runInDirectory(const Options& options, std::ostream& out, std::ostream& err) {
    std::string why;
    // A game folder is named from where headlink started, before -C.
    std::error_code ec;
    const std::string game = options.game.empty() ? std::string() : std::filesystem::absolute(options.game, ec).string();
    if (!game.empty() && !std::filesystem::is_directory(game, ec)) {
        const bool file = std::filesystem::exists(game, ec);
        err << "headlink: " << options.game << ": not a game folder: "
            << (file ? std::string("it is a file, not a folder") : ec ? ec.message() : std::string("no folder of this name"))
            << '\n';
        return 2;
    }
    // So is a pack.
    const std::string pack = options.heads.empty() ? std::string() : std::filesystem::absolute(options.heads, ec).string();
    if (!pack.empty() && !std::filesystem::is_directory(pack, ec)) {
        err << "headlink: " << options.heads << ": not a pack folder: "
            << (ec ? ec.message() : std::string("no folder of this name")) << '\n';
        return 2;
    }
    if (!options.directory.empty() && !enterFolder(options.directory, &why)) {
        err << "headlink: " << why << '\n';
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
        std::vector<Result> warnings;
        const Result undone = uninstall({game, options.game}, {options.dryRun, options.force}, out, &warnings);
        for (const Result& warning : warnings) err << "headlink: " << Warning{warning.file, 0, warning.reason}.describe(false) << '\n';
        if (!undone) err << "headlink: " << undone.description() << '\n';
        return undone ? 0 : 1;
    }
    RunInputs inputs;
    if (!game.empty() && !readWholeInstalls(game, options, &inputs, err)) return 1;
    for (std::size_t i = 0; game.empty() && i < kTableFiles.size(); ++i) inputs.tables[i] = readFile(kTableFiles[i]);
    if (!pack.empty()) {
        PackInputs read = readPack(pack, options.heads);
        inputs.heads = std::move(read.heads);
        inputs.errors = std::move(read.errors);
        for (const std::string& skipped : read.skipped)
            inputs.notes.push_back(skippedNote(skipped));
    }
    for (std::size_t i = 0; pack.empty() && i < kScriptFiles.size(); ++i) inputs.scripts[i] = readFile(kScriptFiles[i]);
    // With the tables from a game, a folder without a single script is most
    // likely the wrong folder: said once, with the ways to the right one.
    if (!game.empty() && pack.empty() &&
        std::all_of(inputs.scripts.begin(), inputs.scripts.end(), [](const FileBytes& s) { return s.missing(); })) {
        err << "headlink: none of the five scripts is in " << (options.directory.empty() ? "this folder" : options.directory)
            << " (" << listed(std::vector<std::string>(kScriptFiles.begin(), kScriptFiles.end()))
            << "): run headlink where they are, name their folder with -C FOLDER, or a pack of heads with --heads PACK\n";
        return 1;
    }
    // The folder is looked at only for a hint about a missing input.
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
    return runOnInputs(std::move(inputs), folder, options, out, err);
}

}  // namespace headlink
