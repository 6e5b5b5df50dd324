// Installing files into a game folder's override folder, and undoing that
// exactly. An install keeps, in its own folder under
// DIR/headlink-backups/, a copy of every file it replaces, the run's report
// and a record (game/record.h): its number, for each file it writes a
// checksum of what was there before (or "absent") and of what it wrote, and
// the temporaries it will rename. The record is in place before anything in
// the override folder changes, and ends with "complete" once every file is.
// Undoing takes the highest number, says "undoing" in the record before it
// changes anything, puts back only what is still exactly what the install
// wrote, refuses (changing nothing) when another hand has changed a file
// since, and removes the record last; an interrupted install or undo is
// finished by undoing again, and that is all the undo then does.
#pragma once

#include <cstdint>
#include <functional>
#include <ostream>
#include <span>
#include <string>
#include <vector>

#include "fileio/result.h"
#include "game/record.h"

namespace headlink {

// A file to install: its name in the override folder ("heads.2da") and
// its bytes. A file of that name in any letter case is replaced under its
// existing name.
struct FileToInstall {
    std::string name;
    std::span<const uint8_t> bytes;
    // Where a file a head brings comes from ("moonveil/override/x.mdl"):
    // replacing other bytes with it then gives a warning naming it.
    std::string from = {};
    // Where the run read this file in the game ("Override/heads.2da"), and
    // the checksum of what it read: it must still be there when installed.
    std::string readFrom = {};
    std::string readSum = {};
};

// Runs that change a game folder hold its lock exclusively (FolderLock);
// runs that read it wait this long for the shared lock, then say kGameBusy.
inline constexpr int kGameLockWaitMs = 5000;
inline constexpr const char* kGameBusy =
    "another headlink is installing into or undoing in this game folder: try again when it has finished";
// What an install or undo says when only readers hold the lock.
inline constexpr const char* kGameRead =
    "another headlink or twoda is reading this game folder: try again once it has finished";

// The folders an install or undo writes in (the game folder, its override
// folder and headlink-backups, where they are), each checked as this user
// may write in it, before anything is asked or written. A failure names
// the folder as the user gave it and says what to do.
struct NamedFolder;
Result writeAccess(const NamedFolder& game);

// What the installs in `gameDir` are now: their folders and records, in
// one text that differs whenever an install or undo changed anything. A
// reader without a shared lock compares it before and after it reads.
std::string installsState(const std::string& gameDir);

// Runs `read` (a reader of the game folder, holding at most the shared
// lock) until no install or undo came and went while it ran: on Windows the
// shared lock holds nothing off. False when one kept coming for about five
// seconds.
bool readSteadily(const std::string& gameDir, const std::function<void()>& read);

// The newest install recorded in `gameDir` (the highest number): its
// folder's name (the time it began, "YYYYMMDD-HHMMSS" in UTC) and its
// record; false when there is none, or none can be read.
bool newestInstall(const std::string& gameDir, std::string* folder, Record* record);

// The game folder as the programs use it (`path`, absolute) and as the
// user named it (`shown`), for messages and the command they may run next.
struct NamedFolder {
    std::string path;
    std::string shown;
};

// Installs `files` into the override folder of `game` (made when there is
// none), all or none, with `report` kept beside the record and `heads`
// (the heads' names) in it. A name the game could not open is refused. Files already
// holding exactly their new bytes are left alone; when that is all of them
// nothing is written. Lines saying what was done (or, with dryRun, what
// would be) go to `out`; warnings to *warnings, and with `strict` they stop
// the install before anything is written. A failure names the game folder
// and says what state it was left in.
class FolderFiles;
struct InstallOptions {
    bool dryRun = false;
    bool strict = false;
    // A dry run may look at the game folder through a list of its files (a
    // page's, whose bytes are handed in as they are needed) instead of the disk.
    FolderFiles* listed = nullptr;
    PackSign pack;  // kept in the record
};
Result install(const NamedFolder& game, std::span<const FileToInstall> files, const std::vector<std::string>& heads,
               const std::string& report, InstallOptions options, std::ostream& out, std::vector<Warning>* warnings);

// Undoes the newest install recorded in `game`, all or none, and removes its
// folder, or finishes an undo cut short and stops there. Folders of installs
// that never got as far as a record are removed when they hold nothing the
// game needs, and otherwise kept with a warning in *warnings.
// With `force`, a file changed since the install is first moved aside,
// unchanged, into DIR/headlink-backups/set-aside-YYYYMMDD-HHMMSS/ (its path
// kept), and the undo goes on; nothing is ever deleted.
struct UndoOptions {
    bool dryRun = false;
    bool force = false;
};
Result uninstall(const NamedFolder& game, UndoOptions options, std::ostream& out, std::vector<Warning>* warnings);

}  // namespace headlink
