#include "game/install.h"

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

namespace {

constexpr const char* kBackups = "headlink-backups";
constexpr const char* kRecordFile = "record.txt";
constexpr const char* kReportFile = "report.txt";
constexpr const char* kOverride = "override";  // the name an install gives the folder it makes
// In an install folder, one more name for each file the game folder had
// under several (hard links), so that the undo can give it back that file.
constexpr const char* kLinked = "linked/";
// In an install folder, where an undo moves the files it replaces or
// removes before it puts anything back: all of them can be moved, or none
// is changed. An undo cut short finds them there.
constexpr const char* kUndone = "undone/";

// An install folder's path from the game folder.
std::string installFolder(const std::string& name) { return std::string(kBackups) + "/" + name; }

// The command that undoes an install, or finishes what was cut short.
std::string undoCommand(const GameDir& game) { return "headlink --game " + game.shown + " --uninstall"; }

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

// Past the steps an interruption must explain, it says nothing more.
struct InterruptionsExplained {
    ~InterruptionsExplained() { sayOnInterruption(nullptr); }
};

// A failure of the game folder, every path in it named from the folder as
// the user gave it (the steps below it work on absolute paths).
Result failure(const GameDir& game, std::string reason) {
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
FileBytes readInGame(const GameDir& game, const std::string& relative, GameFiles* listed) {
    return listed != nullptr ? listed->readAll(relative) : readFile(joined(game.path, relative));
}

// The checksum of the file at `relative` as it is now, kAbsent when there
// is none; *bytes gets its bytes when asked for.
Result stateOf(const GameDir& game, const std::string& relative, std::string* sum,
               std::vector<uint8_t>* bytes = nullptr, GameFiles* listed = nullptr) {
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

Result readRecord(const GameDir& game, const std::string& relative, Record* record, bool* found,
                  GameFiles* listed = nullptr) {
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

// One install folder: its name, and its record when it has one.
struct Install {
    std::string name;
    bool recorded = false;
    Record record;
};

// What headlink keeps in a game folder: the install folders (recorded ones
// oldest first, by number), and what an install or undo cut short left
// under one of our temporaries' names: DIR/.headlink-HEX.tmp (the first
// install's folders, before they took their place, or the last undo's,
// after they left it) and headlink-backups/.headlink-HEX.tmp (an undo's,
// after it left its place). Earlier versions named these
// .headlink-backups.headlink-HEX.tmp and .NAME.headlink-HEX.tmp.
struct Backups {
    bool exists = false;
    std::vector<Install> recorded;
    std::vector<std::string> unrecorded;  // install folders without a record
    std::vector<std::string> residues;    // paths from the game folder
    uint64_t highest = 0;
};

// The folders in `relative` (a link is not one), or in `listed` the
// folders its files' paths name there.
Result listFolders(const GameDir& game, const std::string& relative, const std::function<void(const std::string&)>& each,
                   GameFiles* listed = nullptr) {
    if (listed != nullptr) {
        std::vector<GameFiles::Entry> entries;
        const Result listing = listed->list(relative, [](const std::string&) { return true; }, &entries);
        for (const GameFiles::Entry& entry : entries)
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

Result readBackups(const GameDir& game, Backups* backups, GameFiles* listed = nullptr) {
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
        std::vector<GameFiles::Entry> entries;
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
Result whyKept(const GameDir& game, const std::string& relative, std::string* reason) {
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
Result removeInstallFolder(const GameDir& game, const std::string& relative) {
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

// What undoing an install changes, checked before anything is.
struct UndoPlan {
    struct Restore {
        const RecordedFile* file;
        std::vector<uint8_t> bytes;
        FileLink link = {};  // put back as this link instead
        std::string how = {};  // for the report: what it comes back as
    };
    std::vector<Restore> restores;
    std::vector<const RecordedFile*> removals;
    std::vector<const RecordedFile*> setAside;  // changed since, and moved aside first (--force)
};

// Checks that every file the install in `folder` wrote is still what it
// wrote (or already back as it was) and that each backup needed is whole.
// A file changed since stops the undo, naming every such file and its
// backup, unless `force` sets it aside. `others` are the other installs,
// to say which one changed a file since.
Result verifyUndo(const GameDir& game, const std::string& folder, const Record& record,
                  const std::vector<Install>& others, bool force, UndoPlan* plan) {
    std::string changed;
    for (const RecordedFile& file : record.files) {
        std::string now;
        if (Result why = stateOf(game, file.path, &now); !why) return why;
        // Moved aside by an undo cut short (or one that could not put it
        // back), as the install wrote it.
        if (now == kAbsent && file.before != kAbsent)
            if (Result why = stateOf(game, folder + "/" + kUndone + file.path, &now); !why) return why;
        if (now == file.before) continue;  // never written, or already put back
        if (now != file.after) {
            changed += (changed.empty() ? "" : "; ") + file.path + " has changed since the install " + folder;
            for (const Install& other : others)
                for (const RecordedFile& theirs : other.record.files)
                    if (theirs.path == file.path && theirs.after == now)
                        changed += " (the install " + installFolder(other.name) + " wrote it)";
            if (file.before != kAbsent) changed += ", its backup is " + folder + "/" + file.path;
            if (now != kAbsent) plan->setAside.push_back(&file);
            if (!force) continue;
        }
        // A symbolic link comes back as the same link, whatever it leads to now.
        if (file.link.kind == FileLink::Kind::symbolic) {
            plan->restores.push_back({&file, {}, file.link, " as the symbolic link to " + file.link.target + " it was"});
            continue;
        }
        if (file.before == kAbsent) {
            plan->removals.push_back(&file);
            continue;
        }
        UndoPlan::Restore restore{&file, {}};
        const std::string backup = folder + "/" + file.path;
        std::string sum;
        if (Result why = stateOf(game, backup, &sum, &restore.bytes); !why) return why;
        if (sum != file.before)
            return failure(game, "the backup " + backup + " is " + (sum == kAbsent ? "missing" : "not what was there") +
                                     ": nothing was undone");
        // A file that had other names comes back as that same file while
        // it still holds what it held; else as the copy.
        if (file.link.kind == FileLink::Kind::hard) {
            const std::string linked = folder + "/" + kLinked + file.path;
            if (Result why = stateOf(game, linked, &sum); !why) return why;
            if (sum == file.before) {
                restore.link = {FileLink::Kind::hard, joined(game.path, linked)};
                restore.how = " as the same file as before, which has other names too";
            } else {
                restore.how = " from the backup copy: the file it shared with other names has changed since";
            }
        }
        plan->restores.push_back(std::move(restore));
    }
    if (!changed.empty() && !force)
        return failure(game, changed + ": nothing was undone; to move the changed files aside and undo the rest, run " +
                                 undoCommand(game) + " --force");
    return {};
}

// A new folder DIR/headlink-backups/set-aside-YYYYMMDD-HHMMSS ("-2"...):
// a name no install folder has, so nothing ever takes it for one.
Result setAsideFolder(const GameDir& game, std::string* folder) {
    const std::string stamp = std::string(kBackups) + "/set-aside-" + timeStamp();
    bool existed = true;
    for (int n = 1; n < 1000 && existed; ++n) {
        *folder = stamp + (n == 1 ? "" : "-" + std::to_string(n));
        if (Result why = createFolder(joined(game.path, *folder), &existed); !why) return why;
    }
    return existed ? failure(game, "cannot name a new folder in " + std::string(kBackups)) : Result{};
}

// Moves the install folder out of the way, under a temporary's name, and
// removes it: once moved, what is left is a residue that any later
// --uninstall removes and stops at. The folder that made headlink-backups
// and is the last in it takes headlink-backups with it.
Result retire(const GameDir& game, const std::string& folder, const Record& record) {
    const std::string backups = joined(game.path, kBackups);
    fs::file_type type;
    if (Result why = typeOf(backups, &type); !why) return why;
    std::error_code ec;
    // A record from before numbers never says; that version removed it whenever it was empty.
    bool alone = (record.madeBackups || record.number == 0) && type == fs::file_type::directory;
    for (fs::directory_iterator it(backups, ec), end; alone && !ec && it != end; it.increment(ec))
        alone = it->path().filename().string() == folder.substr(folder.rfind('/') + 1);
    if (ec) return Result::failure(Status::cannotRead, "cannot list the folder: " + ec.message(), kBackups);
    const std::string from = alone ? backups : joined(game.path, folder);
    const std::string to = temporaryNameFor(from);
    if (Result why = moveFolder(from, to); !why) return why;
    return removeInstallFolder(game, fs::path(to).lexically_relative(game.path).generic_string());
}

// A file the undo moves out of the way before anything is put back: into
// the set-aside folder (changed since, --force) or the install's undone/.
struct Move {
    std::string from, to;  // from the game folder
    bool done = false;
};

// Renames `from` to `to` (from the game folder); *done says whether it is
// there now, even when the rename is but its folder could not be flushed.
Result moveFile(const GameDir& game, const std::string& from, const std::string& to, bool* done) {
    const Result moved = moveFolder(joined(game.path, from), joined(game.path, to));
    std::error_code ec;
    *done = static_cast<bool>(moved) || (fs::symlink_status(joined(game.path, from), ec).type() == fs::file_type::not_found &&
                                         fs::symlink_status(joined(game.path, to), ec).type() != fs::file_type::not_found);
    return moved;
}

// Moves every file the undo replaces or removes out of the way, all or
// none: a file that cannot be moved (the running game holds it open on
// Windows, it is immutable) stops it, and moveBack puts back what moved.
Result moveAside(const GameDir& game, std::vector<Move>& moves) {
    for (Move& move : moves) {
        const fs::path to = joined(game.path, move.to);
        bool existed = false;
        Result made = createFolder(to.parent_path().parent_path().string(), &existed);
        if (made) made = createFolder(to.parent_path().string(), &existed);
        if (made) made = moveFile(game, move.from, move.to, &move.done);
        if (!made) return made;
    }
    return {};
}

// Puts each moved file back where it was, over what an undo wrote there.
Result moveBack(const GameDir& game, std::vector<Move>& moves) {
    for (auto it = moves.rbegin(); it != moves.rend(); ++it) {
        if (!it->done) continue;
        Result back = removeFile(joined(game.path, it->from));
        bool there = false;
        if (back) back = moveFile(game, it->to, it->from, &there);
        it->done = !there;
        if (!back) return back;
    }
    return {};
}

// Why a file cannot be moved or removed now, said with what to do; "" when
// nothing says so beforehand.
std::string heldReason(const GameDir& game, const std::string& relative) {
    const std::string why = whyHeld(joined(game.path, relative));
    if (why.empty()) return {};
    std::string text = relative + ": " + why;  // appended piecewise: GCC 12 warns wrongly on a chain of +
    text += ": nothing was undone; ";
    text += why.find("another program") != std::string::npos ? "close the game (and any program using the file)"
                                                              : "change that";
    text += " and run ";
    text += undoCommand(game);
    text += " again";
    return text;
}

// Puts back what the install in `folder` replaced, journaled: the record
// says "undoing" (with the temporaries of the files put back) before the
// first change, and goes last. Every file to be replaced or removed is
// first moved aside, all or none; if anything fails before the files put
// back are in place, every file moved goes back and the record is as it
// was: the game folder is as installed. Lines go to `out`.
Result applyUndo(const GameDir& game, const std::string& folder, Record record, const UndoPlan& plan,
                 std::ostream& out) {
    const std::string again =
        "; run " + undoCommand(game) + (plan.setAside.empty() ? "" : " --force") + " again to finish";
    const Record was = record;
    // What moves aside: the changed files (--force) into a set-aside
    // folder, then every other file that is there now.
    std::vector<Move> moves;
    std::string setAsideIn;
    auto present = [&](const RecordedFile* file) {
        std::error_code ec;
        return fs::symlink_status(joined(game.path, file->path), ec).type() != fs::file_type::not_found;
    };
    std::vector<const RecordedFile*> replaced;
    for (const auto& restore : plan.restores) replaced.push_back(restore.file);
    replaced.insert(replaced.end(), plan.removals.begin(), plan.removals.end());
    for (const RecordedFile* file : replaced) {
        if (!present(file)) continue;
        if (const std::string why = heldReason(game, file->path); !why.empty()) return failure(game, why);
    }
    // The temporaries of an earlier undo that failed (the install recorded
    // one a file) leave the disk before they leave the record: an undo that
    // fails again and again never grows it.
    for (std::size_t i = record.files.size(); i < record.temporaries.size(); ++i)
        if (Result why = removeFile(joined(game.path, record.temporaries[i])); !why)
            return failure(game, why.description() + ": nothing was undone");
    if (record.temporaries.size() > record.files.size()) record.temporaries.resize(record.files.size());
    if (!plan.setAside.empty())
        if (Result why = setAsideFolder(game, &setAsideIn); !why) return failure(game, why.description() + ": nothing was undone");
    for (const RecordedFile* file : plan.setAside)
        moves.push_back({file->path, setAsideIn + "/" + file->path});
    for (const RecordedFile* file : replaced)
        if (std::find(plan.setAside.begin(), plan.setAside.end(), file) == plan.setAside.end() && present(file))
            moves.push_back({file->path, folder + "/" + kUndone + file->path});
    std::vector<std::vector<std::span<const uint8_t>>> parts(plan.restores.size());
    std::vector<FileToWrite> writes;
    for (std::size_t i = 0; i < plan.restores.size(); ++i) {
        const std::string temporary = temporaryFor(plan.restores[i].file->path);
        record.temporaries.push_back(temporary);
        parts[i] = {plan.restores[i].bytes};
        writes.push_back({joined(game.path, plan.restores[i].file->path), parts[i], joined(game.path, temporary),
                          plan.restores[i].link});
    }
    record.undoing = true;
    const std::string text = recordText(record);
    const std::string recordPath = joined(game.path, folder + "/" + kRecordFile);
    if (Result why = writeFileSafely(recordPath, bytesOf(text)); !why) {
        // (It may be in place, only not flushed: the record goes back as it was.)
        (void)writeFileSafely(recordPath, bytesOf(recordText(was)));
        return failure(game, why.description() + ": nothing was undone");
    }
    whenInterrupted("run " + undoCommand(game) + (plan.setAside.empty() ? "" : " --force") + " again to finish");
    // Back to the install as it was: every file moved, the record, and the
    // folders the moves made.
    auto putBack = [&](const std::string& reason) {
        Result back = moveBack(game, moves);
        if (back) {
            std::error_code ec;
            fs::remove_all(joined(game.path, folder + "/" + kUndone), ec);
            if (!setAsideIn.empty()) fs::remove_all(joined(game.path, setAsideIn), ec);
            back = writeFileSafely(recordPath, bytesOf(recordText(was)));
        }
        if (!back) return failure(game, reason + "; putting the files back failed too (" + back.description() + ")" + again);
        return failure(game, reason + ": nothing was undone; run " + undoCommand(game) + " again once that is mended");
    };
    if (Result why = moveAside(game, moves); !why) return putBack(why.description());
    if (!writes.empty())
        if (const WriteResult written = writeFilesTogether(writes); !written.ok()) {
            // Once every file is in place, only flushing the folder failed: go on.
            if (written.stage != WriteResult::Stage::flush) return putBack(describe(written));
        }
    for (std::size_t i = 0; i < plan.setAside.size(); ++i)
        out << "moved " << moves[i].from << " aside, as it was, into " << moves[i].to << '\n';
    for (const std::string& temporary : record.temporaries)
        if (Result why = removeFile(joined(game.path, temporary)); !why) return failure(game, why.description() + again);
    const std::string override = joined(game.path, kOverride);
    fs::file_type type;
    if (Result why = typeOf(override, &type); !why) return failure(game, why.description() + again);
    std::error_code ec;
    const bool empty = record.madeOverride && type == fs::file_type::directory && fs::is_empty(override, ec);
    if (ec) return failure(game, std::string(kOverride) + ": cannot look into the folder: " + ec.message() + again);
    if (empty)
        if (Result why = removeFolder(override); !why) return failure(game, why.description() + again);
    if (Result why = retire(game, folder, record); !why) return failure(game, why.description() + again);
    for (const auto& restore : plan.restores) out << "put back " << restore.file->path << restore.how << '\n';
    for (const RecordedFile* file : plan.removals) out << "removed " << file->path << '\n';
    return {};
}

Result undo(const GameDir& game, const std::string& folder, const Record& record, const std::vector<Install>& others,
            UndoOptions options, std::ostream& out) {
    UndoPlan plan;
    if (Result why = verifyUndo(game, folder, record, others, options.force, &plan); !why) return why;
    if (!options.dryRun) return applyUndo(game, folder, record, plan, out);
    for (const RecordedFile* file : plan.setAside)
        out << "would move " << file->path << " aside, as it was, into " << kBackups << "/set-aside-" << timeStamp()
            << "/" << file->path << '\n';
    for (const auto& restore : plan.restores)
        out << "would put back " << restore.file->path << (restore.how.empty() ? " from " + folder : restore.how) << '\n';
    for (const RecordedFile* file : plan.removals) out << "would remove " << file->path << '\n';
    if (record.madeOverride) out << "would remove the override folder if it is then empty\n";
    out << "would remove " << folder << '\n';
    return {};
}

// --- Installing ------------------------------------------------------------

// What an install will write: its record, and for each recorded file the
// bytes there now (for the backup) and its new bytes.
struct InstallPlan {
    Record record;
    std::vector<std::string> notes;  // links the undo cannot give back here, each said after the install
    std::string override;
    std::vector<std::vector<uint8_t>> earlier;
    std::vector<std::span<const uint8_t>> bytes;
};

// Whether a file of the install, and its backup, can have its name in the
// game folder's file system: the name within the folder's limit (its
// temporaries' names are short), and on Windows the backup's whole path,
// the longest the install makes, within the paths the system opens.
Result checkName(const GameDir& game, const std::string& path, std::size_t longest) {
    const std::string name = path.substr(path.rfind('/') + 1);
    if (name.size() > longest)
        return failure(game, path + ": its name is " + std::to_string(name.size()) +
                                 " bytes long, and the game folder's file system allows at most " +
                                 std::to_string(longest) + ": nothing was installed; shorten it");
    // DIR/headlink-backups/YYYYMMDD-HHMMSS-NNN/PATH
    const std::size_t backup = game.path.size() + 1 + std::string_view(kBackups).size() + 1 + 19 + 1 + path.size();
    if (const std::size_t most = longestPath(); most != 0 && backup > most)
        return failure(game, path + ": its backup's path would be " + std::to_string(backup) +
                                 " characters long, and Windows opens paths of at most " + std::to_string(most) +
                                 ": nothing was installed; shorten its name, or move the game to a shorter path");
    return {};
}

// Before anything is written: no two files of the install are one file,
// as a Windows short name ("APPEAR~1.2DA") or a second name (hard link)
// makes them: writing the second would overwrite the first, and the undo
// could give back neither.
Result checkPaths(const GameDir& game, const InstallPlan& plan) {
    struct Seen {
        bool exists;
        FileIdentity id;
        const std::string* path;
    };
    std::vector<Seen> seen;
    for (const RecordedFile& file : plan.record.files) {
        FileIdentity id;
        bool exists = false;
        if (Result why = identityOf(joined(game.path, file.path), &id, &exists); !why) return failure(game, why.description());
        for (const Seen& other : seen)
            if ((exists && other.exists && other.id == id) || sameText(*other.path, file.path))
                return failure(game, *other.path + " and " + file.path +
                                         " are one file in the game folder (one is another name of the other): "
                                         "nothing was installed; give the pack's file another name");
        seen.push_back({exists, id, &file.path});
    }
    return {};
}

Result planInstall(const GameDir& game, std::span<const FileToInstall> files, const Backups& backups, bool dryRun,
                   GameFiles* listed, InstallPlan* plan, std::vector<Warning>* warnings) {
    for (const Install& earlier : backups.recorded)
        if (!earlier.record.complete || earlier.record.undoing)
            return failure(game, std::string("an earlier ") + (earlier.record.undoing ? "undo" : "install") +
                                     " was interrupted: run " + undoCommand(game) + " first");
    if (!backups.residues.empty())
        return failure(game, "an earlier install or undo was interrupted: run " + undoCommand(game) + " first");
    for (const FileToInstall& file : files) {
        const std::string& shown = file.from.empty() ? file.name : file.from;
        if (const std::string why = unopenableName(file.name); !why.empty())
            return Result::failure(Status::usage, why + ": the game could not open it, so nothing was installed", shown);
        if (const std::string why = aliasLikeName(file.name); !why.empty())
            return Result::failure(Status::usage, why + ": rename it; nothing was installed", shown);
    }

    Record& record = plan->record;
    auto find = [&](const std::string& relative, const std::string& wanted, bool folder, std::string* found) {
        return listed != nullptr ? findInGame(*listed, game.shown, relative, wanted, folder, found)
                                 : findInGame(game.path, relative, wanted, folder, found);
    };
    if (Result why = find("", "override", true, &plan->override); !why) return why;
    if (plan->override.empty()) {
        record.madeOverride = true;
        plan->override = kOverride;
    }
    const std::size_t longest =
        listed != nullptr ? 255 : longestNameIn(joined(game.path, record.madeOverride ? "" : plan->override));
    for (const FileToInstall& file : files) {
        std::string name;
        if (!record.madeOverride)
            if (Result why = find(plan->override, file.name, false, &name); !why) return why;
        RecordedFile recorded{plan->override + "/" + (name.empty() ? file.name : name), kAbsent, checksumOf(file.bytes)};
        if (listed == nullptr)
            if (Result why = checkName(game, recorded.path, longest); !why) return why;
        std::vector<uint8_t> was;
        // What the run read there is known: a dry run need not read it again.
        const bool known = !file.readSum.empty() && recorded.path == file.readFrom;
        if (known && dryRun) recorded.before = file.readSum;
        else if (Result why = stateOf(game, recorded.path, &recorded.before, &was, listed); !why) return why;
        if (known && recorded.before != file.readSum)
            return failure(game, recorded.path + " changed while headlink ran: nothing was installed; run it again");
        if (recorded.before == recorded.after) continue;
        // (A page's list of the files shows no links.)
        if (listed == nullptr)
            if (Result why = readLink(joined(game.path, recorded.path), &recorded.link); !why)
                return failure(game, why.description());
        if (recorded.link.kind == FileLink::Kind::hard) recorded.link.target.clear();
        if (!file.from.empty() && recorded.before != kAbsent)
            warnings->push_back({file.from, 0,
                                 "replaces " + recorded.path + ", which holds other bytes (the install backs it up first)"});
        record.files.push_back(std::move(recorded));
        plan->earlier.push_back(std::move(was));
        plan->bytes.push_back(file.bytes);
    }
    if (listed == nullptr)
        if (Result why = checkPaths(game, *plan); !why) return why;
    if (backups.highest == UINT64_MAX) return failure(game, "the records' install numbers are used up");
    record.number = backups.highest + 1;
    return {};
}

// Where an install keeps what it saves: its folder (from the game folder),
// made in headlink-backups or, by the first install, in a folder under a
// temporary's name that becomes headlink-backups once the record is in it,
// so that a headlink-backups without our record in it is never taken for
// ours. `ours` is what a failure before the game changes removes.
struct Place {
    std::string building;
    std::string name;
    std::string folder;
    std::string ours;
};

// Makes the install's own folder and puts in it, flushed, the backups and
// the report.
Result saveBackups(const GameDir& game, InstallPlan& plan, const Backups& backups, const std::string& report,
                   Place* place) {
    place->building = backups.exists ? std::string(kBackups)
                                     : fs::path(temporaryNameFor(joined(game.path, kBackups))).filename().string();
    bool existed = false;
    if (Result why = createFolder(joined(game.path, place->building), &existed); !why) {
        why.file = kBackups;  // (named as the user will see it, not by the temporary's name)
        return why;
    }
    if (!backups.exists) place->ours = place->building;
    const std::string stamp = timeStamp();
    for (int n = 1; n < 1000 && place->name.empty(); ++n) {
        const std::string candidate = stamp + (n == 1 ? "" : "-" + std::to_string(n));
        if (Result why = createFolder(joined(game.path, place->building + "/" + candidate), &existed); !why) return why;
        if (!existed) place->name = candidate;
    }
    if (place->name.empty()) return failure(game, "cannot name a new folder in " + std::string(kBackups));
    place->folder = place->building + "/" + place->name;
    if (place->ours.empty()) place->ours = place->folder;

    std::vector<std::span<const uint8_t>> parts;
    parts.reserve(plan.record.files.size() + 1);
    std::vector<FileToWrite> saved;
    for (std::size_t i = 0; i < plan.record.files.size(); ++i) {
        if (plan.record.files[i].before == kAbsent) continue;
        const fs::path backup = fs::path(joined(game.path, place->folder)) / plan.record.files[i].path;
        if (Result why = createFolder(backup.parent_path().string(), &existed); !why) return why;
        parts.push_back(plan.earlier[i]);
        saved.push_back({backup.string(), std::span(&parts.back(), 1)});
    }
    parts.push_back(bytesOf(report));
    saved.push_back({joined(game.path, place->folder + "/" + kReportFile), std::span(&parts.back(), 1)});
    if (const WriteResult written = writeFilesTogether(saved); !written.ok())
        return Result::failure(Status::cannotWrite, describe(written));
    // One more name for each file that has others, so that the undo gives
    // that file back; for a symbolic link, a trial that one can be made here
    // at all, before the record promises it. Where none can be (another
    // drive, no right to make one), the undo puts back the copy, and says so.
    for (RecordedFile& file : plan.record.files) {
        if (file.link.kind == FileLink::Kind::none) continue;
        const bool hard = file.link.kind == FileLink::Kind::hard;
        const fs::path linked = hard ? fs::path(joined(game.path, place->folder + "/" + kLinked)) / file.path
                                     : fs::path(temporaryNameFor(joined(game.path, place->folder + "/link-trial")));
        Result made;
        if (hard) made = createFolder(linked.parent_path().parent_path().string(), &existed);
        if (made && hard) made = createFolder(linked.parent_path().string(), &existed);
        bool refused = false;
        if (made) made = makeLink(linked.string(), hard ? FileLink{FileLink::Kind::hard, joined(game.path, file.path)}
                                                        : file.link, &refused);
        if (made && !hard) made = removeFile(linked.string());
        if (made) continue;
        if (!refused) return Result::failure(Status::cannotWrite, "cannot keep " + file.path + "'s link: " + made.reason);
        plan.notes.push_back(file.path + (hard ? " has other names (hard links)" : " is a symbolic link") +
                             ", which cannot be made again here (" + made.reason + "): the undo puts back a copy");
        file.link = {};
    }
    return {};
}

// The record, whole and flushed, in its place before the first temporary
// in the game exists.
Result writeRecord(const GameDir& game, InstallPlan& plan, const Backups& backups, Place* place) {
    plan.record.madeBackups = !backups.exists;
    for (const RecordedFile& file : plan.record.files) plan.record.temporaries.push_back(temporaryFor(file.path));
    const std::string text = recordText(plan.record);
    if (Result why = writeFileSafely(joined(game.path, place->folder + "/" + kRecordFile), bytesOf(text)); !why)
        return why;
    if (backups.exists) return {};
    if (Result why = moveFolder(joined(game.path, place->building), joined(game.path, kBackups)); !why) return why;
    place->folder = installFolder(place->name);
    return {};
}

// Writes the files into the override folder, all or none, and marks the
// record complete; a failure is undone by the record.
Result commitInstall(const GameDir& game, InstallPlan& plan, const std::string& folder) {
    Record& record = plan.record;
    auto rollBack = [&](const std::string& reason) {
        std::ostringstream ignored;
        UndoPlan undoPlan;
        Result undone = verifyUndo(game, folder, record, {}, false, &undoPlan);
        if (undone) undone = applyUndo(game, folder, record, undoPlan, ignored);
        if (!undone) return failure(game, reason + "; putting the game folder back failed too: " + undone.reason);
        return failure(game, reason + ": nothing was installed");
    };
    bool existed = false;
    if (record.madeOverride)
        if (Result why = createFolder(joined(game.path, plan.override), &existed); !why) return rollBack(why.description());
    std::vector<FileToWrite> writes;
    for (std::size_t i = 0; i < record.files.size(); ++i)
        writes.push_back({joined(game.path, record.files[i].path), std::span(&plan.bytes[i], 1),
                          joined(game.path, record.temporaries[i])});
    if (const WriteResult written = writeFilesTogether(writes); !written.ok()) return rollBack(describe(written));
    record.complete = true;
    if (Result why = writeFileSafely(joined(game.path, folder + "/" + kRecordFile), bytesOf(recordText(record))); !why)
        return rollBack(why.description());
    return {};
}

}  // namespace

Result writeAccess(const GameDir& game) {
    std::string override;
    (void)findInGame(game.path, "", "override", true, &override);  // (one it cannot tell is failed where it is read)
    // (Without an override folder, the game folder is where one is made.)
    for (const std::string& folder : {std::string(), override, std::string(kBackups)}) {
        const std::string why = whyUnwritable(joined(game.path, folder));
        if (!why.empty())
            return Result::failure(Status::cannotWrite, "headlink cannot write in this folder: " + why,
                                   folder.empty() ? game.shown : joined(game.shown, folder));
    }
    return {};
}

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

namespace {

// A folder this user cannot write in, as an install or undo says it: what a
// dry run would meet, or what stopped the run.
Result unwritable(Result why, bool dryRun, const char* stopped) {
    if (dryRun) return Result::failure(why.status, "would fail: " + why.description());
    why.reason += "; ";
    why.reason += stopped;
    return why;
}

}  // namespace

Result install(const GameDir& game, std::span<const FileToInstall> files, const std::vector<std::string>& heads,
               const std::string& report, InstallOptions options, std::ostream& out, std::vector<Warning>* warnings) {
    InterruptionsExplained explained;
    if (!options.dryRun) whenInterrupted("nothing was installed");
    GameFiles* pageFiles = options.dryRun ? options.listed : nullptr;
    Backups backups;
    if (Result why = readBackups(game, &backups, pageFiles); !why) return why;
    InstallPlan plan;
    plan.record.heads = heads;
    plan.record.pack = options.pack;
    if (Result why = planInstall(game, files, backups, options.dryRun, pageFiles, &plan, warnings); !why) return why;
    if (options.strict && !warnings->empty())
        return failure(game, "nothing was installed because of --strict: every warning above is an error");
    const Record& record = plan.record;
    if (record.files.empty()) {
        out << "nothing to install: the game's tables already hold every row and cell; " << game.shown
            << " was not changed\n";
        return {};
    }
    if (pageFiles == nullptr)
        if (Result why = writeAccess(game); !why) return unwritable(why, options.dryRun, "nothing was installed");
    if (options.dryRun) {
        if (record.madeOverride) out << "would make the folder " << plan.override << '\n';
        for (const RecordedFile& file : record.files)
            out << "would write " << file.path
                << (file.link.kind == FileLink::Kind::symbolic ? " (a symbolic link to " + file.link.target +
                                                                     ": the link is replaced, never written through)"
                    : file.before == kAbsent ? " (new)"
                                             : " (the file there now backed up first)")
                << '\n';
        out << "would keep the backups, the record and the report in " << installFolder(timeStamp()) << '\n';
        return {};
    }
    Place place;
    Result saved = saveBackups(game, plan, backups, report, &place);
    if (saved) saved = writeRecord(game, plan, backups, &place);
    if (!saved) {
        // Nothing of the game's has changed: what the install made goes.
        std::error_code ec;
        if (!place.ours.empty()) fs::remove_all(joined(game.path, place.ours), ec);
        return failure(game, saved.description() + ": nothing was installed");
    }
    const std::string& folder = place.folder;
    whenInterrupted("run " + undoCommand(game) + " to put the game folder back as it was");
    if (Result why = commitInstall(game, plan, folder); !why) return why;
    whenInterrupted("the install was complete; undo with: " + undoCommand(game));

    std::vector<std::string> paths;
    for (const RecordedFile& file : record.files) paths.push_back(file.path);
    out << "installed " << listed(paths) << " into " << game.shown << " (backups, record and report in " << folder
        << ")\n";
    for (const RecordedFile& file : record.files) {
        if (file.link.kind == FileLink::Kind::symbolic)
            out << file.path << " was a symbolic link to " << file.link.target
                << ": the link was replaced, not what it leads to; the undo puts the link back\n";
        if (file.link.kind == FileLink::Kind::hard)
            out << file.path << " had other names (hard links): only this name was replaced; the undo gives it back "
                                "that file\n";
    }
    for (const std::string& note : plan.notes) out << note << '\n';
    out << "undo with: " << undoCommand(game) << '\n';
    return {};
}

Result uninstall(const GameDir& game, UndoOptions options, std::ostream& out, std::vector<Warning>* warnings) {
    const bool dryRun = options.dryRun;
    InterruptionsExplained explained;
    if (!dryRun) whenInterrupted("nothing was undone");
    Backups backups;
    if (Result why = readBackups(game, &backups); !why) return why;
    if (!backups.recorded.empty() || !backups.residues.empty() || !backups.unrecorded.empty())
        if (Result why = writeAccess(game); !why) return unwritable(why, dryRun, "nothing was undone");
    const std::string removed = dryRun ? "would remove " : "removed ";
    // Folders that hold nothing the game may need go; any other is left
    // for the user, named, and the undo goes on past it.
    auto clear = [&](const std::string& folder, const std::string& what, const std::string& kind, bool* gone) {
        std::string kept;
        if (Result why = whyKept(game, folder, &kept); !why) return why;
        if (!kept.empty()) {
            warnings->push_back(
                {game.shown, 0, folder + " " + what + kept + ": kept; compare it and remove the folder yourself"});
            return Result{};
        }
        if (!dryRun)
            if (Result why = removeInstallFolder(game, folder); !why) return failure(game, why.description());
        out << removed << folder << " (" << kind << ")\n";
        *gone = true;
        return Result{};
    };
    // What an undo left once it was done, or the first install before it
    // began: removing it finishes what was cut short, and is all this run does.
    const bool finished = !backups.residues.empty();
    bool done = false;
    bool gone = false;
    for (const std::string& residue : backups.residues)
        if (Result why = clear(residue, "", "left by an install or undo cut short", &gone); !why) return why;
    for (const std::string& name : backups.unrecorded)
        if (Result why = clear(installFolder(name), "has no record and ", "an install cut short before it changed anything",
                               &done);
            !why)
            return why;
    // So is an undo whose record says it had begun.
    auto newest = std::find_if(backups.recorded.rbegin(), backups.recorded.rend(),
                               [](const Install& install) { return install.record.undoing; });
    const bool stop = finished || newest != backups.recorded.rend();
    if (!stop) newest = backups.recorded.rbegin();
    if (newest != backups.recorded.rend()) {
        const Install install = std::move(*newest);
        backups.recorded.erase(std::prev(newest.base()));
        const std::string folder = installFolder(install.name);
        if (Result why = undo(game, folder, install.record, backups.recorded, options, out); !why) return why;
        if (!dryRun) out << "undid the install " << folder << " in " << game.shown << '\n';
        done = true;
    }
    if (stop && !backups.recorded.empty())
        out << "the install " << installFolder(backups.recorded.back().name) << " is still in place: to undo it too, run "
            << undoCommand(game) << " again\n";
    if (!done && !finished) out << "nothing to undo in " << game.shown << '\n';
    return {};
}

}  // namespace headlink
