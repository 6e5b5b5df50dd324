#include "app/run.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <new>
#include <system_error>

#include "app/link.h"
#include "patch/patch.h"
#include "table/table.h"

#ifdef _WIN32
#include <direct.h>
#else
#include <unistd.h>
#endif

namespace headlink {

namespace {

// Running out of memory is a failure like any other: reported against the
// file being worked on, with nothing written.
constexpr const char* kNoMemory = "not enough memory";
constexpr const char* kSignature = "2DA V2.b";

std::string rowsAndStrings(const Table& before, const Table& after) {
    const std::size_t added = after.poolIndex().size() - before.poolIndex().size();
    return std::to_string(before.rowCount()) + " -> " + std::to_string(after.rowCount()) + " rows, " +
           std::to_string(added) + (added == 1 ? " string" : " strings") + " added to the pool";
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

}  // namespace

RunOutcome runInMemory(const RunInputs& inputs, bool report) {
    RunOutcome outcome;
    std::array<Table, 3> tables;
    // Every table and every script that cannot be read or loaded is
    // reported, in this fixed order; then nothing more is done.
    for (std::size_t i = 0; i < tables.size(); ++i) {
        std::string why = inputs.tables[i].error;
        try {
            if (inputs.tables[i].ok() && tables[i].loadBytes(inputs.tables[i].bytes, kTableFiles[i], &why) == 0) {
                // Read as it is either way: the bytes we do not interpret are kept.
                if (tables[i].signatureLine() != kSignature)
                    outcome.warnings.push_back(std::string(kTableFiles[i]) + ": warning: the first line is " +
                                               quoted(tables[i].signatureLine()) +
                                               ", not the binary signature \"" + kSignature +
                                               "\"; the table is read as it is");
                continue;
            }
        } catch (const std::bad_alloc&) {
            why = kNoMemory;
        }
        outcome.errors.push_back(std::string(kTableFiles[i]) + ": " + why);
    }
    for (std::size_t i = 0; i < inputs.scripts.size(); ++i)
        if (!inputs.scripts[i].ok()) outcome.errors.push_back(std::string(kScriptFiles[i]) + ": " + inputs.scripts[i].error);
    if (!outcome.ok()) return outcome;

    const std::array<Table, 3> loaded = tables;
    LinkReport linkReport;
    linkReport.listChanges = report;
    std::string why;
    const bool linked = runLinking(tables[0], tables[1], tables[2], inputs.scripts, &why, &linkReport);
    outcome.warnings.insert(outcome.warnings.end(), linkReport.warnings.begin(), linkReport.warnings.end());
    outcome.report = std::move(linkReport.lines);
    if (!linked) {
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
        if (report) outcome.report.push_back(std::string(kOutputFiles[i]) + ": " + rowsAndStrings(loaded[i], tables[i]));
    }
    return outcome;
}

int runInDirectory(const Options& options, std::ostream& out, std::ostream& err) {
    std::string why;
    if (!options.directory.empty() && !enterFolder(options.directory, &why)) {
        err << "headlink: " << why << '\n';
        return 2;
    }
    RunInputs inputs;
    for (std::size_t i = 0; i < kTableFiles.size(); ++i) inputs.tables[i] = readFile(kTableFiles[i]);
    for (std::size_t i = 0; i < kScriptFiles.size(); ++i) inputs.scripts[i] = readFile(kScriptFiles[i]);
    const bool report = options.verbose || options.dryRun;
    RunOutcome outcome = runInMemory(inputs, report);

    // An output that cannot be written does not stop the others.
    if (outcome.ok()) {
        for (std::size_t i = 0; i < kOutputFiles.size(); ++i) {
            std::string result = "written";
            if (options.dryRun) {
                result = "not written (dry run)";
            } else {
                bool written = false;
                try {
                    written = writeFileSafely(kOutputFiles[i], outcome.outputs[i], &why);
                } catch (const std::bad_alloc&) {
                    why = kNoMemory;
                }
                if (!written) {
                    outcome.errors.push_back(std::string(kOutputFiles[i]) + ": " + why);
                    result = "not written";
                }
            }
            if (report) outcome.report[outcome.report.size() - kOutputFiles.size() + i] += "; " + result;
        }
    }
    if (options.dryRun) outcome.report.push_back("dry run: nothing was written");

    // A missing first table usually means headlink ran in the wrong folder.
    if (inputs.tables[0].missing && !outcome.errors.empty()) {
        std::error_code ec;
        std::string hint = std::string("hint: there is no ") + kTableFiles[0] + " in " +
                           std::filesystem::current_path(ec).string() + "; run headlink in the folder that holds ";
        for (const char* name : kTableFiles) hint += std::string(name) + ", ";
        for (std::size_t i = 0; i + 1 < kScriptFiles.size(); ++i) hint += std::string(kScriptFiles[i]) + ", ";
        hint += std::string("and ") + kScriptFiles.back() + " (or name that folder with -C)";
        outcome.errors.insert(outcome.errors.begin() + 1, hint);
    }

    if (report)
        for (const std::string& line : outcome.report) out << line << '\n';
    out.flush();
    if (!options.quiet)
        for (const std::string& line : outcome.warnings) err << "headlink: " << line << '\n';
    for (const std::string& line : outcome.errors) err << "headlink: " << line << '\n';
    return outcome.ok() ? 0 : 1;
}

}  // namespace headlink
