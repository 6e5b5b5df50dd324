// What installs and undos share inside this library: the names headlink
// keeps in a game folder, reading its install folders and their records,
// and the undo's two steps, which an install that fails halfway uses too.
// The programs use game/install.h.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <ostream>
#include <span>
#include <string>
#include <vector>

#include "fileio/fileio.h"
#include "game/folder.h"
#include "game/install.h"
#include "game/record.h"

namespace headlink::installs {

inline constexpr const char* kBackups = "headlink-backups";
inline constexpr const char* kRecordFile = "record.txt";
inline constexpr const char* kReportFile = "report.txt";
inline constexpr const char* kOverride = "override";  // the name an install gives the folder it makes
// In an install folder, one more name for each file the game folder had
// under several (hard links), so that the undo can give it back that file.
inline constexpr const char* kLinked = "linked/";
// In an install folder, where an undo moves the files it replaces or
// removes before it puts anything back: all of them can be moved, or none
// is changed. An undo cut short finds them there.
inline constexpr const char* kUndone = "undone/";

// An install folder's path from the game folder.
std::string installFolder(const std::string& name);
// The command that undoes an install, or finishes what was cut short.
std::string undoCommand(const NamedFolder& game);
// An install folder's name: the time it began, in UTC ("20261208-221500"),
// with "-2", "-3"... for a second install in the same second. It is for
// people: the order of installs comes from their records.
bool isInstallName(const std::string& name);
std::string timeStamp();
// A temporary's name for the record, with '/' on every system.
std::string temporaryFor(const std::string& relative);
std::string joined(const std::string& dir, const std::string& relative);
std::span<const uint8_t> bytesOf(const std::string& text);
// What an interruption of the steps from here on says.
void whenInterrupted(const std::string& what);
// Past the steps an interruption must explain, it says nothing more.
struct InterruptionsExplained {
    ~InterruptionsExplained() { sayOnInterruption(nullptr); }
};

// A failure of the game folder, every path in it named from the folder as
// the user gave it (the steps below it work on absolute paths).
Result failure(const NamedFolder& game, std::string reason);
// Every failure of a write, in one line.
std::string describe(const WriteResult& written);
// A file of the game folder: from disk, or for a dry run from `listed`,
// the list of its files a page gives (whose bytes come as they are needed).
FileBytes readInGame(const NamedFolder& game, const std::string& relative, FolderFiles* listed);
// The checksum of the file at `relative` as it is now, kAbsent when there
// is none; *bytes gets its bytes when asked for.
Result stateOf(const NamedFolder& game, const std::string& relative, std::string* sum,
               std::vector<uint8_t>* bytes = nullptr, FolderFiles* listed = nullptr);
Result readRecord(const NamedFolder& game, const std::string& relative, Record* record, bool* found,
                  FolderFiles* listed = nullptr);

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
Result listFolders(const NamedFolder& game, const std::string& relative, const std::function<void(const std::string&)>& each,
                   FolderFiles* listed = nullptr);
// What is at `path` (not_found when nothing is; a link as a link), or why
// that cannot be told.
Result typeOf(const std::string& path, std::filesystem::file_type* type);
Result readBackups(const NamedFolder& game, Backups* backups, FolderFiles* listed = nullptr);
// Why the folder `relative` (from the game folder) must be kept, or "" when
// the game needs nothing in it.
Result whyKept(const NamedFolder& game, const std::string& relative, std::string* reason);
// Removes the folder `relative`, its record last.
Result removeInstallFolder(const NamedFolder& game, const std::string& relative);
// A folder this user cannot write in, as an install or undo says it: what a
// dry run would meet, or what stopped the run.
Result unwritable(Result why, bool dryRun, const char* stopped);

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

// The undo's steps (undo.cpp): the check before anything changes, and the
// change, journaled.
Result verifyUndo(const NamedFolder& game, const std::string& folder, const Record& record,
                  const std::vector<Install>& others, bool force, UndoPlan* plan);
Result applyUndo(const NamedFolder& game, const std::string& folder, Record record, const UndoPlan& plan,
                 std::ostream& out);

}  // namespace headlink::installs
