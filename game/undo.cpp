// Undoing an install: the newest one recorded, all or none.
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

// Checks that every file the install in `folder` wrote is still what it
// wrote (or already back as it was) and that each backup needed is whole.
// A file changed since stops the undo, naming every such file and its
// backup, unless `force` sets it aside. `others` are the other installs,
// to say which one changed a file since.
Result verifyUndo(const NamedFolder& game, const std::string& folder, const Record& record,
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
Result setAsideFolder(const NamedFolder& game, std::string* folder) {
    const std::string stamp = std::string(kBackups) + "/set-aside-" + timeStamp();
    bool existed = true;
    for (int n = 1; n < 1000 && existed; ++n) {
        *folder = stamp;
        if (n > 1) *folder += '-' + std::to_string(n);  // (a char first: GCC 12 warns wrongly on "-" + a string)
        if (Result why = createFolder(joined(game.path, *folder), &existed); !why) return why;
    }
    return existed ? failure(game, "cannot name a new folder in " + std::string(kBackups)) : Result{};
}

// Moves the install folder out of the way, under a temporary's name, and
// removes it: once moved, what is left is a residue that any later
// --uninstall removes and stops at. The folder that made headlink-backups
// and is the last in it takes headlink-backups with it.
Result retire(const NamedFolder& game, const std::string& folder, const Record& record) {
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
Result moveFile(const NamedFolder& game, const std::string& from, const std::string& to, bool* done) {
    const Result moved = moveFolder(joined(game.path, from), joined(game.path, to));
    std::error_code ec;
    *done = static_cast<bool>(moved) || (fs::symlink_status(joined(game.path, from), ec).type() == fs::file_type::not_found &&
                                         fs::symlink_status(joined(game.path, to), ec).type() != fs::file_type::not_found);
    return moved;
}

// Moves every file the undo replaces or removes out of the way, all or
// none: a file that cannot be moved (the running game holds it open on
// Windows, it is immutable) stops it, and moveBack puts back what moved.
Result moveAside(const NamedFolder& game, std::vector<Move>& moves) {
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
Result moveBack(const NamedFolder& game, std::vector<Move>& moves) {
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

// A failure saying why a file cannot be moved or removed now, and what to
// do; none when nothing says so beforehand.
Result held(const NamedFolder& game, const std::string& relative) {
    const Result why = whyHeld(joined(game.path, relative));
    if (why) return {};
    std::string text = relative + ": " + why.reason;  // appended piecewise: GCC 12 warns wrongly on a chain of +
    text += ": nothing was undone; ";
    text += why.reason.find("another program") != std::string::npos ? "close the game (and any program using the file)"
                                                                     : "change that";
    text += " and run ";
    text += undoCommand(game);
    text += " again";
    return failure(game, text);
}

// Puts back what the install in `folder` replaced, journaled: the record
// says "undoing" (with the temporaries of the files put back) before the
// first change, and goes last. Every file to be replaced or removed is
// first moved aside, all or none; if anything fails before the files put
// back are in place, every file moved goes back and the record is as it
// was: the game folder is as installed. Lines go to `out`.
Result applyUndo(const NamedFolder& game, const std::string& folder, Record record, const UndoPlan& plan,
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
        if (Result why = held(game, file->path); !why) return why;
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

Result undo(const NamedFolder& game, const std::string& folder, const Record& record, const std::vector<Install>& others,
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

}  // namespace installs

using namespace installs;

Result uninstall(const NamedFolder& game, UndoOptions options, std::ostream& out, std::vector<Warning>* warnings) {
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
