#include "game/install.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <system_error>
#include <utility>

#include "fileio/fileio.h"
#include "game/folder.h"
#include "table/text.h"

// Header-only: nothing to link, on any platform the programs are built for.
#define XXH_INLINE_ALL
#include <xxhash.h>

namespace headlink {

namespace fs = std::filesystem;

namespace {

constexpr const char* kBackups = "headlink-backups";
constexpr const char* kRecordFile = "record.txt";
constexpr const char* kReportFile = "report.txt";
constexpr const char* kRecordTitle = "headlink install record";
constexpr const char* kAbsent = "absent";

// What record.txt says, line by line:
//   headlink install record
//   made override                     (when the install made that folder)
//   file PATH BEFORE AFTER            (each file it writes)
//   temporary PATH                    (each temporary it, or an undo, renames)
//   complete                          (once every file is in place)
// Paths are relative to the game folder, with '/'; a checksum is 32 hex
// digits, BEFORE "absent" for a file that was not there. A path is read
// from its end back (checksums hold no space), so it may hold spaces.
struct RecordedFile {
    std::string path;
    std::string before;
    std::string after;
};
struct Record {
    std::string madeFolder;  // the override folder, when the install made it
    std::vector<RecordedFile> files;
    std::vector<std::string> temporaries;
    bool complete = false;
};

std::string recordText(const Record& record) {
    std::string text = kRecordTitle;
    text += '\n';
    if (!record.madeFolder.empty()) text += "made " + record.madeFolder + '\n';
    for (const RecordedFile& file : record.files) {
        text += "file ";
        text += file.path;
        text += ' ';
        text += file.before;
        text += ' ';
        text += file.after;
        text += '\n';
    }
    for (const std::string& temporary : record.temporaries) text += "temporary " + temporary + '\n';
    if (record.complete) text += "complete\n";
    return text;
}

bool isChecksum(const std::string& text) {
    return text.size() == 32 && std::all_of(text.begin(), text.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
           });
}

// A path read from a record leads only into the game folder: relative,
// with no step up, no drive and no empty or "." step.
bool staysInside(const std::string& path) {
    if (path.empty() || path.find('\\') != std::string::npos || path.find(':') != std::string::npos) return false;
    std::size_t at = 0;
    while (true) {
        const std::size_t end = std::min(path.find('/', at), path.size());
        const std::string step = path.substr(at, end - at);
        if (step.empty() || step == "." || step == "..") return false;
        if (end == path.size()) return true;
        at = end + 1;
    }
}

// Reads the record `text` (from `name`, for the message).
Result parseRecord(const std::string& text, const std::string& name, Record* record) {
    *record = Record{};
    std::size_t at = 0;
    int number = 0;
    auto bad = [&](const char* why) {
        return Result::failure(Status::malformed, std::string("not a record headlink wrote: ") + why, name, number);
    };
    while (at < text.size()) {
        const std::size_t end = text.find('\n', at);
        if (end == std::string::npos) return bad("its last line is cut off");
        const std::string line = text.substr(at, end - at);
        at = end + 1;
        ++number;
        if (record->complete) return bad("a line after \"complete\"");
        if (number == 1) {
            if (line != kRecordTitle) return bad("the first line is not \"headlink install record\"");
        } else if (line == "complete") {
            record->complete = true;
        } else if (line.rfind("made ", 0) == 0) {
            record->madeFolder = line.substr(5);
            if (!staysInside(record->madeFolder)) return bad("a path that leaves the game folder");
        } else if (line.rfind("temporary ", 0) == 0) {
            record->temporaries.push_back(line.substr(10));
            if (!staysInside(record->temporaries.back())) return bad("a path that leaves the game folder");
        } else if (line.rfind("file ", 0) == 0) {
            const std::size_t last = line.rfind(' ');
            const std::size_t middle = last > 5 ? line.rfind(' ', last - 1) : std::string::npos;
            if (middle == std::string::npos || middle <= 5) return bad("a file line without two checksums");
            RecordedFile file{line.substr(5, middle - 5), line.substr(middle + 1, last - middle - 1),
                              line.substr(last + 1)};
            if (!staysInside(file.path)) return bad("a path that leaves the game folder");
            if ((!isChecksum(file.before) && file.before != kAbsent) || !isChecksum(file.after))
                return bad("a checksum that is not 32 hex digits");
            record->files.push_back(std::move(file));
        } else {
            return bad("a line it does not know");
        }
    }
    if (number == 0) return bad("it is empty");
    return {};
}

// An install folder's name: the time it began, in UTC ("20261208-221500"),
// with "-2", "-3"... for a second install in the same second.
bool isInstallName(const std::string& name) {
    if (name.size() < 15 || name[8] != '-') return false;
    for (std::size_t i = 0; i < 15; ++i)
        if (i != 8 && (name[i] < '0' || name[i] > '9')) return false;
    if (name.size() == 15) return true;
    if (name.size() < 17 || name.size() > 22 || name[15] != '-' || name[16] == '0') return false;
    return std::all_of(name.begin() + 16, name.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Oldest first: by time, then by the number after it.
bool installedBefore(const std::string& a, const std::string& b) {
    const auto number = [](const std::string& name) {
        return name.size() > 15 ? std::stoull(name.substr(16)) : 1ull;
    };
    const int byTime = a.compare(0, 15, b, 0, 15);
    return byTime != 0 ? byTime < 0 : number(a) < number(b);
}

std::string timeStamp() {
    using namespace std::chrono;
    const auto now = floor<seconds>(system_clock::now());
    const auto day = floor<days>(now);
    const year_month_day date(day);
    const hh_mm_ss time(now - day);
    char text[32];
    std::snprintf(text, sizeof text, "%04d%02u%02u-%02d%02d%02d", static_cast<int>(date.year()),
                  static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                  static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
                  static_cast<int>(time.seconds().count()));
    return text;
}

// A temporary's name for the record, with '/' on every system.
std::string temporaryFor(const std::string& relative) {
    return fs::path(temporaryNameFor(relative)).generic_string();
}

std::string joined(const std::string& dir, const std::string& relative) { return (fs::path(dir) / relative).string(); }

// One install folder: its name, and its record when it has one.
struct Install {
    std::string name;
    bool recorded = false;
    Record record;
};

// The install folders of `game`, oldest first, with their records.
Result installsOf(const GameDir& game, std::vector<Install>* installs) {
    installs->clear();
    const std::string backups = joined(game.path, kBackups);
    std::error_code ec;
    auto cannot = [&](const char* what) {
        return Result::failure(Status::cannotRead, std::string(what) + ec.message(), kBackups);
    };
    if (!fs::exists(backups, ec)) return ec ? cannot("cannot look at the folder: ") : Result{};
    for (fs::directory_iterator it(backups, ec), end; !ec && it != end; it.increment(ec)) {
        const bool folder = it->is_directory(ec);
        if (!ec && folder && isInstallName(it->path().filename().string()))
            installs->push_back({it->path().filename().string(), false, {}});
    }
    if (ec) return cannot("cannot list the folder: ");
    std::sort(installs->begin(), installs->end(),
              [](const Install& a, const Install& b) { return installedBefore(a.name, b.name); });
    for (Install& install : *installs) {
        const std::string name = std::string(kBackups) + "/" + install.name + "/" + kRecordFile;
        FileBytes file = readFile(joined(game.path, name));
        if (file.missing()) continue;
        if (!file.ok()) {
            file.result.file = name;
            return file.result;
        }
        install.recorded = true;
        if (Result why = parseRecord(std::string(file.bytes.begin(), file.bytes.end()), name, &install.record); !why)
            return why;
    }
    return {};
}

// The checksum of the file at `relative` as it is now, kAbsent when there
// is none; *bytes gets its bytes when asked for.
Result stateOf(const GameDir& game, const std::string& relative, std::string* sum,
               std::vector<uint8_t>* bytes = nullptr) {
    FileBytes file = readFile(joined(game.path, relative));
    if (file.missing()) {
        *sum = kAbsent;
        return {};
    }
    if (!file.ok()) {
        file.result.file = relative;
        return file.result;
    }
    *sum = checksumOf(file.bytes);
    if (bytes != nullptr) *bytes = std::move(file.bytes);
    return {};
}

std::span<const uint8_t> bytesOf(const std::string& text) {
    return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

Result failure(const GameDir& game, std::string reason) {
    return Result::failure(Status::cannotWrite, std::move(reason), game.shown);
}

// Every failure of a write, in one line.
std::string describe(const WriteResult& written) {
    std::string text;
    for (const Result& why : written.failures) text += (text.empty() ? "" : "; ") + why.description();
    return text;
}

// Puts back what the install in `folder` (its path from the game folder)
// replaced, all or none: see uninstall(). `others` are the other installs,
// to say which one changed a file since. Lines go to `out` when given.
Result undo(const GameDir& game, const std::string& folder, Record record, const std::vector<Install>& others,
            bool dryRun, std::ostream* out) {
    struct Restore {
        const RecordedFile* file;
        std::vector<uint8_t> bytes;
    };
    std::vector<Restore> restores;
    std::vector<const RecordedFile*> removals;
    for (const RecordedFile& file : record.files) {
        std::string now;
        if (Result why = stateOf(game, file.path, &now); !why) return why;
        if (now == file.before) continue;  // never written, or already put back
        if (now != file.after) {
            std::string reason = file.path + " has changed since the install " + folder;
            for (const Install& other : others)
                for (const RecordedFile& theirs : other.record.files)
                    if (theirs.path == file.path && theirs.after == now)
                        reason += " (the install " + std::string(kBackups) + "/" + other.name + " wrote it)";
            reason += ": nothing was undone";
            return failure(game, reason);
        }
        if (file.before == kAbsent) {
            removals.push_back(&file);
            continue;
        }
        Restore restore{&file, {}};
        const std::string backup = folder + "/" + file.path;
        std::string sum;
        if (Result why = stateOf(game, backup, &sum, &restore.bytes); !why) return why;
        if (sum != file.before)
            return failure(game, "the backup " + backup + " is " + (sum == kAbsent ? "missing" : "not what was there") +
                                     ": nothing was undone");
        restores.push_back(std::move(restore));
    }
    std::error_code ec;
    const bool removeMade = !record.madeFolder.empty() && fs::is_directory(joined(game.path, record.madeFolder), ec);
    if (dryRun) {
        for (const Restore& restore : restores)
            *out << "would put back " << restore.file->path << " from " << folder << '\n';
        for (const RecordedFile* file : removals) *out << "would remove " << file->path << '\n';
        if (removeMade) *out << "would remove the folder " << record.madeFolder << " if it is then empty\n";
        *out << "would remove " << folder << '\n';
        return {};
    }

    // The temporaries of the files put back are recorded before they exist,
    // like the install's own: an undo cut short leaves nothing that undoing
    // again does not remove.
    std::vector<std::vector<std::span<const uint8_t>>> parts(restores.size());
    std::vector<FileToWrite> writes;
    for (std::size_t i = 0; i < restores.size(); ++i) {
        const std::string temporary = temporaryFor(restores[i].file->path);
        record.temporaries.push_back(temporary);
        parts[i] = {restores[i].bytes};
        writes.push_back({joined(game.path, restores[i].file->path), parts[i], joined(game.path, temporary)});
    }
    const std::string recordPath = joined(game.path, folder + "/" + kRecordFile);
    const std::string again = "; run headlink --game " + game.shown + " --uninstall again to finish";
    if (!writes.empty()) {
        const std::string text = recordText(record);
        if (Result why = writeFileSafely(recordPath, bytesOf(text)); !why)
            return failure(game, why.description() + ": nothing was undone");
        const WriteResult written = writeFilesTogether(writes);
        if (written.stage == WriteResult::Stage::prepare) return failure(game, describe(written) + ": nothing was undone");
        if (!written.ok()) return failure(game, describe(written) + again);
    }
    for (const RecordedFile* file : removals)
        if (Result why = removeFile(joined(game.path, file->path)); !why) return failure(game, why.description() + again);
    for (const std::string& temporary : record.temporaries)
        if (Result why = removeFile(joined(game.path, temporary)); !why)
            return failure(game, why.description() + again);
    if (removeMade && fs::is_empty(joined(game.path, record.madeFolder), ec) && !ec)
        if (Result why = removeFolder(joined(game.path, record.madeFolder)); !why)
            return failure(game, why.description() + again);
    // The record goes first: without it the folder holds nothing of the
    // game's, and undoing again removes whatever of it is left.
    if (Result why = removeFile(recordPath); !why) return failure(game, why.description() + again);
    fs::remove_all(joined(game.path, folder), ec);
    if (ec) return failure(game, folder + ": cannot remove the folder: " + ec.message() + again);
    const std::string backups = joined(game.path, kBackups);
    if (Result why = flushFolder(backups); !why) return failure(game, why.description() + again);
    if (fs::is_empty(backups, ec) && !ec)
        if (Result why = removeFolder(backups); !why) return failure(game, why.description() + again);
    for (const Restore& restore : restores) *out << "put back " << restore.file->path << '\n';
    for (const RecordedFile* file : removals) *out << "removed " << file->path << '\n';
    return {};
}

}  // namespace

std::string checksumOf(std::span<const uint8_t> bytes) {
    // The one-shot call: GCC 12 warns wrongly about the streaming one.
    const XXH128_hash_t hash = XXH3_128bits(bytes.data(), bytes.size());
    char text[33];
    std::snprintf(text, sizeof text, "%016llx%016llx", static_cast<unsigned long long>(hash.high64),
                  static_cast<unsigned long long>(hash.low64));
    return text;
}

Result install(const GameDir& game, std::span<const FileToInstall> files, const std::string& report,
               InstallOptions options, std::ostream& out, std::vector<Result>* warnings) {
    const bool dryRun = options.dryRun;
    std::vector<Install> installs;
    if (Result why = installsOf(game, &installs); !why) return why;
    for (const Install& earlier : installs)
        if (earlier.recorded && !earlier.record.complete)
            return failure(game, "an earlier install was interrupted: run headlink --game " + game.shown +
                                     " --uninstall first");

    // What is there now, file by file.
    std::string override;
    if (Result why = findInGame(game.path, "", "override", true, &override); !why) return why;
    Record record;
    if (override.empty()) record.madeFolder = override = "override";
    std::vector<std::vector<uint8_t>> earlier;
    std::vector<std::span<const uint8_t>> bytes;
    for (const FileToInstall& file : files) {
        std::string name;
        if (record.madeFolder.empty())
            if (Result why = findInGame(game.path, override, file.name, false, &name); !why) return why;
        RecordedFile recorded{override + "/" + (name.empty() ? file.name : name), kAbsent, checksumOf(file.bytes)};
        std::vector<uint8_t> was;
        if (Result why = stateOf(game, recorded.path, &recorded.before, &was); !why) return why;
        if (recorded.before != kAbsent && std::equal(was.begin(), was.end(), file.bytes.begin(), file.bytes.end()))
            continue;
        if (!file.from.empty() && recorded.before != kAbsent)
            warnings->push_back(Result::failure(Status::warnings,
                                                "replaces " + recorded.path +
                                                    ", which holds other bytes (the install backs it up first)",
                                                file.from));
        record.files.push_back(std::move(recorded));
        earlier.push_back(std::move(was));
        bytes.push_back(file.bytes);
    }
    if (options.strict && !warnings->empty())
        return failure(game, "nothing was installed because of --strict: every warning above is an error");
    if (record.files.empty()) {
        out << "nothing to install: the game's tables already hold every row and cell; " << game.shown
            << " was not changed\n";
        return {};
    }
    if (dryRun) {
        if (!record.madeFolder.empty()) out << "would make the folder " << record.madeFolder << '\n';
        for (const RecordedFile& file : record.files)
            out << "would write " << file.path
                << (file.before == kAbsent ? " (new)" : " (the file there now backed up first)") << '\n';
        out << "would keep the backups, the record and the report in " << kBackups << "/" << timeStamp() << '\n';
        return {};
    }

    // The install's own folder, named for when it began.
    bool existed = false;
    if (Result why = createFolder(joined(game.path, kBackups), &existed); !why) return failure(game, why.description());
    const std::string stamp = timeStamp();
    std::string folder;
    for (int n = 1; n < 1000 && folder.empty(); ++n) {
        const std::string name = std::string(kBackups) + "/" + stamp + (n == 1 ? "" : "-" + std::to_string(n));
        if (Result why = createFolder(joined(game.path, name), &existed); !why) return failure(game, why.description());
        if (!existed) folder = name;
    }
    if (folder.empty()) return failure(game, "cannot name a new folder in " + std::string(kBackups));
    auto leave = [&](const std::string& reason) {
        // Nothing of the game's has changed yet: the folder goes, and with
        // no record in it, undoing would remove it anyway.
        std::error_code ec;
        fs::remove_all(joined(game.path, folder), ec);
        return failure(game, reason + ": nothing was installed");
    };

    // The backups and the report, flushed, before the record exists.
    std::vector<std::span<const uint8_t>> parts;
    parts.reserve(record.files.size() + 1);
    std::vector<FileToWrite> saved;
    for (std::size_t i = 0; i < record.files.size(); ++i) {
        if (record.files[i].before == kAbsent) continue;
        const fs::path backup = fs::path(joined(game.path, folder)) / record.files[i].path;
        if (Result why = createFolder(backup.parent_path().string(), &existed); !why) return leave(why.description());
        parts.push_back(earlier[i]);
        saved.push_back({backup.string(), std::span(&parts.back(), 1)});
    }
    parts.push_back(bytesOf(report));
    saved.push_back({joined(game.path, folder + "/" + kReportFile), std::span(&parts.back(), 1)});
    if (const WriteResult written = writeFilesTogether(saved); !written.ok()) return leave(describe(written));

    // The record, whole, before the first temporary in the game exists.
    for (const RecordedFile& file : record.files) record.temporaries.push_back(temporaryFor(file.path));
    const std::string recordPath = joined(game.path, folder + "/" + kRecordFile);
    std::string text = recordText(record);
    if (Result why = writeFileSafely(recordPath, bytesOf(text)); !why) return leave(why.description());

    // From here on the game changes: a failure is undone by the record.
    auto rollBack = [&](const std::string& reason) {
        std::ostringstream ignored;
        if (Result undone = undo(game, folder, record, {}, false, &ignored); !undone)
            return failure(game, reason + "; putting the game folder back failed too: " + undone.reason);
        return failure(game, reason + ": nothing was installed");
    };
    if (!record.madeFolder.empty())
        if (Result why = createFolder(joined(game.path, record.madeFolder), &existed); !why)
            return rollBack(why.description());
    std::vector<FileToWrite> writes;
    for (std::size_t i = 0; i < record.files.size(); ++i)
        writes.push_back({joined(game.path, record.files[i].path), std::span(&bytes[i], 1),
                          joined(game.path, record.temporaries[i])});
    if (const WriteResult written = writeFilesTogether(writes); !written.ok()) return rollBack(describe(written));
    record.complete = true;
    text = recordText(record);
    if (Result why = writeFileSafely(recordPath, bytesOf(text)); !why) return rollBack(why.description());

    std::vector<std::string> paths;
    for (const RecordedFile& file : record.files) paths.push_back(file.path);
    out << "installed " << listed(paths) << " into " << game.shown << " (backups, record and report in " << folder
        << ")\nundo with: headlink --game " << game.shown << " --uninstall\n";
    return {};
}

Result uninstall(const GameDir& game, bool dryRun, std::ostream& out) {
    std::vector<Install> installs;
    if (Result why = installsOf(game, &installs); !why) return why;
    std::vector<Install> recorded;
    std::vector<std::string> leftovers;
    for (Install& install : installs) {
        if (install.recorded) recorded.push_back(std::move(install));
        else leftovers.push_back(std::string(kBackups) + "/" + install.name);
    }
    if (!recorded.empty()) {
        Install newest = std::move(recorded.back());
        recorded.pop_back();
        const std::string folder = std::string(kBackups) + "/" + newest.name;
        if (Result why = undo(game, folder, std::move(newest.record), recorded, dryRun, &out); !why) return why;
        if (!dryRun) out << "undid the install " << folder << " in " << game.shown << '\n';
    }
    // Folders of installs cut short before their record was in place hold
    // nothing of the game's.
    for (const std::string& leftover : leftovers) {
        if (dryRun) {
            out << "would remove " << leftover << " (an install cut short before it changed anything)\n";
            continue;
        }
        std::error_code ec;
        fs::remove_all(joined(game.path, leftover), ec);
        if (ec) return failure(game, leftover + ": cannot remove the folder: " + ec.message());
        out << "removed " << leftover << " (an install cut short before it changed anything)\n";
    }
    // An empty backups folder is one an undo cut short left.
    const std::string backups = joined(game.path, kBackups);
    std::error_code ec;
    if (!dryRun && fs::is_directory(backups, ec) && fs::is_empty(backups, ec) && !ec)
        if (Result why = removeFolder(backups); !why) return failure(game, why.description());
    if (installs.size() == leftovers.size()) out << "headlink: " << game.shown << ": nothing to undo\n";
    return {};
}

}  // namespace headlink
