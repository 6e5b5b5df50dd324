// The record an install keeps in its folder (record.txt), and the names it
// holds. It is read back as untrusted text: a game folder may hold a record
// damaged, edited by hand or made by someone else, and nothing in one may
// lead an undo outside the override folder or to a file it did not write.
//
// Its lines, in this order (the README gives the grammar too):
//   headlink install record
//   install N                         (one above the highest N in the game)
//   heads NAME...                     (the heads it installed)
//   pack SUM PATH                     (what it installed them from: a
//                                     checksum of the pack's heads, and
//                                     its folder, absolute)
//   made override                     (when the install made that folder)
//   made headlink-backups             (likewise)
//   file PATH BEFORE AFTER [LINK]     (each file it writes; LINK, when the
//                                     name was a link: "symlink TARGET", or
//                                     "hardlink" when the file had other names)
//   temporary PATH                    (each temporary it, or an undo, renames)
//   complete                          (once every file is in place)
//   undoing                           (an undo has begun)
// Paths are relative to the game folder, '/' between steps; a checksum is
// 32 hex digits, BEFORE "absent" for a file that was not there. Every name
// is escaped (escapeName), so it never holds a space or a line break of
// its own. A record without "install" (written before installs were
// numbered) holds names unescaped; it reads as it always did, and counts
// as older than every numbered one. Lines may end in CR LF.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fileio/fileio.h"

namespace headlink {

inline constexpr const char* kAbsent = "absent";

struct RecordedFile {
    std::string path;
    std::string before;  // checksum, or kAbsent
    std::string after;
    // What the name was before: a symbolic link (to link.target), or one
    // name of a file with others (Kind::hard; the install folder keeps one
    // more, under linked/PATH).
    FileLink link = {};
};

// The pack an install came from, by which a player who starts it again is
// offered that install's undo: the checksum of its heads' names and files
// (PackInputs' packChecksum) and its folder. Empty in a record written
// before installs kept it.
struct PackSign {
    std::string sum;
    std::string path;
    bool operator==(const PackSign&) const = default;
};

struct Record {
    uint64_t number = 0;  // the install's number; 0 for a record from before numbering
    std::vector<std::string> heads;
    PackSign pack;
    bool madeOverride = false;
    bool madeBackups = false;
    std::vector<RecordedFile> files;
    std::vector<std::string> temporaries;
    bool complete = false;
    bool undoing = false;
};

// The record's text, every name escaped.
std::string recordText(const Record& record);

// Reads `text` (from `name`, for messages). A failure names the line and
// why: a line it does not know or out of order, a path that leaves the
// override folder, a temporary that is not ours beside a recorded file.
Result parseRecord(std::string_view text, const std::string& name, Record* record);

// `name` with every byte outside printable ASCII, and space and backslash,
// written as \xNN; unescapeName reverses it, false for a backslash not so
// followed.
std::string escapeName(std::string_view name);
bool unescapeName(std::string_view text, std::string* name);

// Whether a file's name is one of fileio's temporaries: ".headlink-HEX.tmp",
// or ".NAME.headlink-HEX.tmp" as earlier versions named them beside NAME.
// temporaryTarget gives that NAME, "" for any other name.
bool isTemporaryName(std::string_view fileName);
std::string temporaryTarget(std::string_view fileName);

// A failure saying why the game, a Windows program, could not open a file
// of this name: a byte outside printable ASCII, one of <>:"/\|?*, a dot or
// space at its end, or a device name (CON, NUL, COM1...); none when it could.
Result unopenableName(std::string_view name);

// A failure saying why a file of this name could be taken for another on
// Windows, or none:
// a name of the 8.3 shape with a '~' followed by a letter or a digit in its
// first part, as in the short names Windows gives long ones ("APPEAR~1.2DA"
// on NTFS, "APPE~SI4.2DA" elsewhere), which open that other file.
Result aliasLikeName(std::string_view name);

}  // namespace headlink
