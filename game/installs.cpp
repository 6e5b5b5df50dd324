#include "game/installs.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <functional>
#include <sstream>
#include <system_error>
#include <thread>
#include <utility>

#include "fileio/fileio.h"
#include "game/folder.h"
#include "game/record.h"
#include "table/text.h"

namespace headlink {

namespace fs = std::filesystem;

namespace installs {

// An install folder's path from the game folder.
std::string installFolder(const std::string& name) { return std::string(kBackups) + "/" + name; }

// The command that undoes an install, or finishes what was cut short.
std::string undoCommand(const NamedFolder& game) { return "headlink --game " + game.shown + " --uninstall"; }

// An install folder's name: the time it began, in UTC ("20261208-221500"),
// with "-2", "-3"... for a second install in the same second. It is for
// people: the order of installs comes from their records.
bool isInstallName(const std::string& name) {
    if (name.size() < 15 || name[8] != '-') return false;
    for (std::size_t i = 0; i < 15; ++i)
        if (i != 8 && (name[i] < '0' || name[i] > '9')) return false;
    if (name.size() == 15) return true;
    if (name.size() < 17 || name.size() > 22 || name[15] != '-' || name[16] == '0') return false;
    return std::all_of(name.begin() + 16, name.end(), [](char c) { return c >= '0' && c <= '9'; });
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

std::span<const uint8_t> bytesOf(const std::string& text) {
    return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

// What an interruption of the steps from here on says. Each line is kept
// for the program's life: a signal may read it at any moment.
void whenInterrupted(const std::string& what) {
    static std::deque<std::string> lines;
    lines.push_back("headlink: interrupted: " + what + "\n");
    sayOnInterruption(lines.back().c_str());
}

// A failure of the game folder, every path in it named from the folder as
// the user gave it (the steps below it work on absolute paths).
Result failure(const NamedFolder& game, std::string reason) {
    for (std::size_t at = 0; !game.path.empty() && (at = reason.find(game.path, at)) != std::string::npos;) {
        const std::size_t end = at + game.path.size();
        const bool step = end < reason.size() && (reason[end] == '/' || reason[end] == '\\');
        reason.replace(at, step ? game.path.size() + 1 : game.path.size(), step ? "" : game.shown);
        at += step ? 0 : game.shown.size();
    }
    return Result::failure(Status::cannotWrite, std::move(reason), game.shown);
}

// Every failure of a write, in one line.
std::string describe(const WriteResult& written) {
    std::string text;
    for (const Result& why : written.failures) text += (text.empty() ? "" : "; ") + why.description();
    return text;
}

// A file of the game folder: from disk, or for a dry run from `listed`,
// the list of its files a page gives (whose bytes come as they are needed).
FileBytes readInGame(const NamedFolder& game, const std::string& relative, FolderFiles* listed) {
    return listed != nullptr ? listed->readAll(relative) : readFile(joined(game.path, relative));
}

// The checksum of the file at `relative` as it is now, kAbsent when there
// is none; *bytes gets its bytes when asked for.
Result stateOf(const NamedFolder& game, const std::string& relative, std::string* sum,
               std::vector<uint8_t>* bytes, FolderFiles* listed) {
    FileBytes file = readInGame(game, relative, listed);
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

Result readRecord(const NamedFolder& game, const std::string& relative, Record* record, bool* found,
                  FolderFiles* listed) {
    FileBytes file = readInGame(game, relative, listed);
    *found = !file.missing();
    if (!*found) return {};
    if (!file.ok()) {
        file.result.file = relative;
        return file.result;
    }
    return parseRecord(std::string_view(reinterpret_cast<const char*>(file.bytes.data()), file.bytes.size()),
                       relative, record);
}

// The folders in `relative` (a link is not one), or in `listed` the
// folders its files' paths name there.
Result listFolders(const NamedFolder& game, const std::string& relative, const std::function<void(const std::string&)>& each,
                   FolderFiles* listed) {
    if (listed != nullptr) {
        std::vector<FolderFiles::Entry> entries;
        const Result listing = listed->list(relative, [](const std::string&) { return true; }, &entries);
        for (const FolderFiles::Entry& entry : entries)
            if (entry.folder) each(entry.name);
        return listing;
    }
    const std::string path = joined(game.path, relative);
    std::error_code ec;
    for (fs::directory_iterator it(path, ec), end; !ec && it != end; it.increment(ec)) {
        const bool folder = it->symlink_status(ec).type() == fs::file_type::directory;
        if (ec) break;
        if (folder) each(it->path().filename().string());
    }
    if (ec) return Result::failure(Status::cannotRead, "cannot list the folder: " + ec.message(), path);
    return {};
}

// What is at `path` (not_found when nothing is; a link as a link), or why
// that cannot be told.
Result typeOf(const std::string& path, fs::file_type* type) {
    std::error_code ec;
    *type = fs::symlink_status(path, ec).type();
    if (*type == fs::file_type::not_found || !ec) return {};
    return Result::failure(Status::cannotRead, "cannot look at it: " + ec.message(), path);
}

Result readBackups(const NamedFolder& game, Backups* backups, FolderFiles* listed) {
    *backups = Backups{};
    bool listedFolder = false;
    if (Result why = listFolders(game, "", [&](const std::string& name) {
            // (Earlier versions named the temporary for the folder it became.)
            if (isTemporaryName(name) && (temporaryTarget(name).empty() || temporaryTarget(name) == kBackups))
                backups->residues.push_back(name);
            listedFolder = listedFolder || name == kBackups;
        }, listed);
        !why)
        return why;
    const std::string path = joined(game.path, kBackups);
    fs::file_type type = listedFolder ? fs::file_type::directory : fs::file_type::not_found;
    if (listed != nullptr) {
        std::vector<FolderFiles::Entry> entries;
        if (Result why = listed->list("", [](const std::string& name) { return name == kBackups; }, &entries); !why)
            return why;
        if (!entries.empty() && entries[0].file) type = fs::file_type::regular;
    } else if (Result why = typeOf(path, &type); !why) {
        return failure(game, std::string(kBackups) + ": " + why.reason);
    }
    if (type == fs::file_type::not_found) return {};
    // A link the user put there is theirs: followed, never removed.
    std::error_code ec;
    if (type != fs::file_type::directory && (listed != nullptr || !fs::is_directory(path, ec)))
        return failure(game, std::string(kBackups) + " is not a folder, and headlink keeps its backups there: move it "
                                                     "away first");
    backups->exists = true;
    std::vector<std::string> names;
    if (Result why = listFolders(game, kBackups, [&](const std::string& name) { names.push_back(name); }, listed); !why) {
        why.file = kBackups;
        return why;
    }
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
        if (isInstallName(temporaryTarget(name)) || (isTemporaryName(name) && temporaryTarget(name).empty())) {
            backups->residues.push_back(installFolder(name));
            continue;
        }
        if (!isInstallName(name)) continue;
        Install install{name, false, {}};
        if (Result why = readRecord(game, installFolder(name) + "/" + kRecordFile, &install.record, &install.recorded,
                                    listed);
            !why)
            return why;
        if (!install.recorded) {
            backups->unrecorded.push_back(name);
            continue;
        }
        backups->highest = std::max(backups->highest, install.record.number);
        backups->recorded.push_back(std::move(install));
    }
    // Folder names in byte order are times, for records older than numbers.
    std::stable_sort(backups->recorded.begin(), backups->recorded.end(),
                     [](const Install& a, const Install& b) { return a.record.number < b.record.number; });
    return {};
}

// Why the folder `relative` (from the game folder) must be kept, or "" when
// the game needs nothing in it: every file is the report, one of our
// temporaries, a record whose files are all as they were before, or a
// backup whose bytes are the game's file at that path now. A folder of
// an install cut short before its record was in place is such a folder;
// one whose record was lost, holding the only copy of a table, is not.
Result whyKept(const NamedFolder& game, const std::string& relative, std::string* reason) {
    reason->clear();
    const fs::path root = joined(game.path, relative);
    bool link = false;
    if (Result why = isLink(root.string(), &link); !why) return why;
    if (link) *reason = "is a link, which headlink never makes";
    std::error_code ec;
    for (fs::recursive_directory_iterator it(root, ec), end; !ec && !link && it != end && reason->empty();
         it.increment(ec)) {
        const fs::file_type type = it->symlink_status(ec).type();
        if (ec) break;
        const std::string inside = it->path().lexically_relative(root).generic_string();
        if (Result why = isLink(it->path().string(), &link); !why) return why;
        // (The one link headlink makes is a trial, under a temporary's name, removed at once.)
        if (link && isTemporaryName(it->path().filename().string())) {
            link = false;
            continue;
        }
        if (link) {
            *reason = "holds " + relative + "/" + inside + ", a link, which headlink never makes";
            break;
        }
        if (type == fs::file_type::directory) continue;
        // In a residue of the first install, the install folder is one step down.
        const std::size_t slash = inside.find('/');
        const bool nested = relative.find('/') == std::string::npos && slash != std::string::npos;
        const std::string backup = nested ? inside.substr(slash + 1) : inside;
        const std::string shown = relative + "/" + inside;
        if (type != fs::file_type::regular) {
            *reason = "holds " + shown + ", which headlink did not write";
        } else if (backup == kReportFile || backup.starts_with(kLinked) || backup.starts_with(kUndone) ||
                   isTemporaryName(it->path().filename().string())) {
            continue;  // (another name of a file the game folder had: the backup beside it is the copy)
        } else if (backup == kRecordFile) {
            Record record;
            bool found = false;
            if (Result why = readRecord(game, shown, &record, &found); !why) {
                *reason = "holds a record that cannot be read (" + why.description() + ")";
                continue;
            }
            for (const RecordedFile& file : record.files) {
                std::string now;
                if (Result why = stateOf(game, file.path, &now); !why) return why;
                if (now != file.before) *reason = "holds the record of an install still in " + file.path;
            }
        } else {
            std::string now, sum;
            if (Result why = stateOf(game, backup, &now); !why) return why;
            if (Result why = stateOf(game, shown, &sum); !why) return why;
            if (now == kAbsent) *reason = "holds a backup of " + backup + ", which the game folder no longer has";
            else if (now != sum) *reason = "holds a backup of " + backup + " that differs from the game's";
        }
    }
    if (ec) return Result::failure(Status::cannotRead, "cannot look into the folder: " + ec.message(), relative);
    return {};
}

// Removes the folder `relative`, its record last: until then, undoing
// again knows what the folder was. A link in it is removed, never followed.
Result removeInstallFolder(const NamedFolder& game, const std::string& relative) {
    const fs::path root = joined(game.path, relative);
    bool link = false;
    if (Result why = isLink(root.string(), &link); !why) return why;
    if (link) return removeFolder(root.string());
    std::vector<fs::path> records, folders;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec)) {
        const bool folder = it->symlink_status(ec).type() == fs::file_type::directory;
        if (ec) break;
        if (Result why = isLink(it->path().string(), &link); !why) return why;
        if (link) {
            it.disable_recursion_pending();
            std::error_code gone;
            fs::remove(it->path(), gone);
            if (gone) return Result::failure(Status::cannotWrite, "cannot remove: " + gone.message(), it->path().string());
            continue;
        }
        if (folder) folders.push_back(it->path());
        else if (it->path().filename() == kRecordFile) records.push_back(it->path());
        else if (Result why = removeFile(it->path().string()); !why) return why;
    }
    if (ec) return Result::failure(Status::cannotWrite, "cannot look into the folder: " + ec.message(), relative);
    for (const fs::path& record : records)
        if (Result why = removeFile(record.string()); !why) return why;
    // Deepest first: each is empty by then.
    std::sort(folders.begin(), folders.end(), [](const fs::path& a, const fs::path& b) { return a.native() > b.native(); });
    folders.push_back(root);
    for (const fs::path& folder : folders)
        if (Result why = removeFolder(folder.string()); !why) return why;
    return {};
}

// A folder this user cannot write in, as an install or undo says it: what a
// dry run would meet, or what stopped the run.
Result unwritable(Result why, bool dryRun, const char* stopped) {
    if (dryRun) return Result::failure(why.status, "would fail: " + why.description());
    why.reason += "; ";
    why.reason += stopped;
    return why;
}

}  // namespace installs

using namespace installs;

std::string installsState(const std::string& gameDir) {
    std::string state;
    std::error_code ec;
    for (const char* folder : {"", kBackups})
        for (fs::directory_iterator it(joined(gameDir, folder), ec), end; !ec && it != end; it.increment(ec)) {
            const std::string name = it->path().filename().string();
            if (*folder == 0 && name != kBackups && !isTemporaryName(name)) continue;
            FileBytes record = readFile((it->path() / kRecordFile).string());
            state += name + (record.ok() ? " " + checksumOf(record.bytes) : std::string(" -")) + '\n';
        }
    return state;
}

bool newestInstall(const std::string& gameDir, std::string* folder, Record* record) {
    Backups backups;
    if (!readBackups({gameDir, gameDir}, &backups) || backups.recorded.empty()) return false;
    *folder = backups.recorded.back().name;
    *record = backups.recorded.back().record;
    return true;
}

bool readSteadily(const std::string& gameDir, const std::function<void()>& read) {
    for (int tries = 0; tries < kGameLockWaitMs / 250; ++tries) {
        const std::string before = installsState(gameDir);
        read();
        FolderLock check;
        FolderLock::State now = FolderLock::State::held;
        if (check.take(gameDir, false, 0, &now) && now != FolderLock::State::busy && installsState(gameDir) == before)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
    }
    return false;
}

}  // namespace headlink
