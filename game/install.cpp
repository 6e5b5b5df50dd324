// Installing files into a game folder, all or none, with backups and a
// record that the undo reads.
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

using namespace installs;

namespace {

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
Result checkName(const NamedFolder& game, const std::string& path, std::size_t longest) {
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
Result checkPaths(const NamedFolder& game, const InstallPlan& plan) {
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

Result planInstall(const NamedFolder& game, std::span<const FileToInstall> files, const Backups& backups, bool dryRun,
                   FolderFiles* listed, InstallPlan* plan, std::vector<Warning>* warnings) {
    for (const Install& earlier : backups.recorded)
        if (!earlier.record.complete || earlier.record.undoing)
            return failure(game, std::string("an earlier ") + (earlier.record.undoing ? "undo" : "install") +
                                     " was interrupted: run " + undoCommand(game) + " first");
    if (!backups.residues.empty())
        return failure(game, "an earlier install or undo was interrupted: run " + undoCommand(game) + " first");
    for (const FileToInstall& file : files) {
        const std::string& shown = file.from.empty() ? file.name : file.from;
        if (const Result why = unopenableName(file.name); !why)
            return Result::failure(Status::usage, why.reason + ": the game could not open it, so nothing was installed",
                                   shown);
        if (const Result why = aliasLikeName(file.name); !why)
            return Result::failure(Status::usage, why.reason + ": rename it; nothing was installed", shown);
    }

    Record& record = plan->record;
    const std::unique_ptr<FolderFiles> disk = listed != nullptr ? nullptr : gameFilesOnDisk(game.path);
    auto find = [&](const std::string& relative, const std::string& wanted, bool folder, std::string* found) {
        return listed != nullptr ? findInGame(*listed, game.shown, relative, wanted, folder, found)
                                 : findInGame(*disk, game.path, relative, wanted, folder, found);
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
Result saveBackups(const NamedFolder& game, InstallPlan& plan, const Backups& backups, const std::string& report,
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
Result writeRecord(const NamedFolder& game, InstallPlan& plan, const Backups& backups, Place* place) {
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
Result commitInstall(const NamedFolder& game, InstallPlan& plan, const std::string& folder) {
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

Result writeAccess(const NamedFolder& game) {
    std::string override;
    (void)findInGame(game.path, "", "override", true, &override);  // (one it cannot tell is failed where it is read)
    // (Without an override folder, the game folder is where one is made.)
    for (const std::string& folder : {std::string(), override, std::string(kBackups)}) {
        if (const Result why = whyUnwritable(joined(game.path, folder)); !why)
            return Result::failure(Status::cannotWrite, "headlink cannot write in this folder: " + why.reason,
                                   folder.empty() ? game.shown : joined(game.shown, folder));
    }
    return {};
}

Result install(const NamedFolder& game, std::span<const FileToInstall> files, const std::vector<std::string>& heads,
               const std::string& report, InstallOptions options, std::ostream& out, std::vector<Warning>* warnings) {
    InterruptionsExplained explained;
    if (!options.dryRun) whenInterrupted("nothing was installed");
    FolderFiles* pageFiles = options.dryRun ? options.listed : nullptr;
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

}  // namespace headlink
