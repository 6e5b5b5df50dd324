// Whole-file reading and safe whole-file writing, shared by tables, scripts
// and the programs that work on them. What it promises, on POSIX systems
// and on Windows alike:
//  - A read takes a whole regular file at once. It never creates anything,
//    and never blocks on a pipe or device: such a name is refused.
//  - A write never leaves a file half written. A set of files that belong
//    together is written all or none: each goes first to a temporary beside
//    its target (so that the rename stays on one file system), and only when
//    every temporary is complete and flushed are they renamed into place,
//    with interruptions held off so that none lands between two renames.
//    Then their folders are flushed, so that a power cut cannot bring the
//    earlier files back.
//  - An interruption, or std::terminate, removes the temporaries being
//    written before the program ends (startProgram).
#pragma once

#include <cstdint>
#include <cstddef>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "fileio/result.h"

namespace headlink {

// The reason given wherever running out of memory ends a step: it is
// reported against the file being worked on, like any other failure.
inline constexpr const char* kNotEnoughMemory = "not enough memory";

// The file being worked on, for the one place a program catches running
// out of memory, which names it: each step names its file as it starts
// ("" for none). Naming needs no memory; a name is cut at 4,095 bytes.
void workOn(std::string_view name);
const char* workingOn();

// A file's bytes, or why they could not be read ("cannot open: ...").
struct FileBytes {
    std::vector<uint8_t> bytes;
    Result result;  // why the bytes could not be read (notFound: no file has the name)
    bool ok() const { return static_cast<bool>(result); }
    bool missing() const { return result.status == Status::notFound; }
    const std::string& error() const { return result.reason; }  // "cannot open: ..."
};

// Reads a whole file, opened by exactly this name (relative names resolve
// against the current directory). Never creates anything, and never blocks
// on a pipe or device: only a regular file is read.
FileBytes readFile(const std::string& name);

// What reading a file gives when no file has the name, for a caller that
// knows it is missing without asking the disk (a page's list of files).
Result missingFile(const std::string& name);

// Part of a file: up to `size` bytes from `offset` (fewer where the file
// ends first), and the whole file's size; only a regular file is read.
// For reading one entry of a large archive without reading the archive.
struct FilePart {
    std::vector<uint8_t> bytes;
    uint64_t fileSize = 0;
    Result result;
    bool ok() const { return static_cast<bool>(result); }
};
FilePart readFilePart(const std::string& name, uint64_t offset, std::size_t size);

// Names among `names` that differ from `wanted` only in the case of A-Z, or
// by more extensions after it ("heads.2da.txt", "portraits.txt.txt", as a
// file browser that hides extensions makes them): what a user who gave a
// file the wrong name most likely meant. `wanted` itself is not one.
std::vector<std::string> nearMisses(std::string_view wanted, std::span<const std::string> names);

// What a name in a folder is besides a file of its own: a symbolic link
// (with its target, exactly as written in it), or one of several hard
// links to one file (`target` is then a name of that file). Windows'
// std::filesystem sees neither, so these ask the system.
struct FileLink {
    enum class Kind { none, symbolic, hard };
    Kind kind = Kind::none;
    std::string target = {};
};
// What `path` is; Kind::none for a plain file, a folder, or nothing there.
Result readLink(const std::string& path, FileLink* link);

// A file to write: its name and its bytes, as parts written one after
// another, so that a caller need not put them together in memory first.
struct FileToWrite {
    std::string name;
    std::span<const std::span<const uint8_t>> parts;
    // The temporary to write it to, when the caller must know the name
    // beforehand (to record it); else one is drawn. It must not exist.
    std::string temporary = {};
    // Instead of bytes: the link to put there (a symbolic link to
    // `target`, or another name for the file `target`).
    FileLink link = {};
};

// A fresh name for a temporary beside `name`, as writeFilesTogether draws
// them: hidden in a listing, and plainly ours when shown.
std::string temporaryNameFor(const std::string& name);

// How writing files together went.
struct WriteResult {
    enum class Stage {
        done,     // every file is new, and durable
        prepare,  // nothing was replaced: every earlier file is as it was
        replace,  // the first `replaced` files are new, the others as they were
        flush,    // every file is new, but its folder could not be flushed
    };
    Stage stage = Stage::done;
    std::size_t replaced = 0;
    // Each failure, naming its file (none for a folder that could not be
    // flushed); a reason names any temporary that could not be removed, so
    // that the user can delete it.
    std::vector<Result> failures;
    bool ok() const { return stage == Stage::done; }
};

// Writes a set of files that belong together, all or none: checks every
// name first (a folder in the way, an existing file that is read-only or
// not the user's to write, one that cannot be looked at), writes and
// flushes a temporary beside each, and only then renames them into place,
// with interruptions held off, and flushes their folders. On a failure
// before the renames every temporary is removed and every earlier file
// kept. Only a failing rename can leave some files new (`replaced`).
WriteResult writeFilesTogether(std::span<const FileToWrite> files);

// The same for one file.
Result writeFileSafely(const std::string& name, std::span<const uint8_t> bytes);
Result writeFileSafely(const std::string& name, std::span<const std::span<const uint8_t>> parts);

// Folders and removals for changing a folder the user keeps (a game
// folder): each is made durable before it returns. createFolder makes one
// folder (its parent must exist) and sets *existed when it was already
// there; removeFile counts a file already gone as removed; removeFolder
// removes an empty folder. moveFolder renames a folder to a name that
// must not exist yet. flushFolder makes the changes inside a folder
// durable.
Result createFolder(const std::string& path, bool* existed);
Result moveFolder(const std::string& from, const std::string& to);
Result removeFile(const std::string& path);
Result removeFolder(const std::string& path);
Result flushFolder(const std::string& path);
// makeLink makes `path` (which must not exist) the link `link`, durably;
// *refused, when given, says that no such link can be made there at all
// (another drive, a file system without links, no right to make one).
Result makeLink(const std::string& path, const FileLink& link, bool* refused = nullptr);
// Whether `path` is itself a link (a symbolic link, or on Windows any
// reparse point, such as a junction), never what it leads to: Windows'
// std::filesystem sees no links, so this asks the system.
Result isLink(const std::string& path, bool* link);

// Which file a name is, as the system tells files apart: the device and
// inode on POSIX, the volume's serial number and the file's index on
// Windows. Two names with one identity are one file, as a second name
// (hard link) or a Windows short name ("APPEAR~1.2DA") is. A symbolic
// link is looked at itself. *exists false (and no failure) when nothing
// has the name.
struct FileIdentity {
    uint64_t device = 0;
    uint64_t index = 0;
    bool operator==(const FileIdentity&) const = default;
};
Result identityOf(const std::string& path, FileIdentity* id, bool* exists);

// A failure saying why the file at `path` cannot be moved or removed now,
// as far as can be told beforehand, or none: on Windows, another program has it open without
// letting it be moved (the running game), or it is read-only; on Linux,
// it is immutable or append-only.
Result whyHeld(const std::string& path);

// A failure saying why this user cannot add files or folders to `folder`,
// and what to do about it, as far as can be told without writing there, or
// none (also for a folder that is not there). On POSIX the owner is named ("it belongs to
// alice, so run headlink as alice or change its permissions"); on Windows
// it is run as administrator, or the game moved out of Program Files.
Result whyUnwritable(const std::string& folder);

// The longest name, in bytes (on Windows, UTF-16 units), a file in
// `folder` may have; 255 where the system cannot say.
std::size_t longestNameIn(const std::string& folder);
// The longest path, in characters, the system opens: 259 on Windows (its
// MAX_PATH, less the end), 0 where paths have no such limit.
std::size_t longestPath();

#ifdef _WIN32
// Windows' UTF-16 text and bytes in a code page, each way: CP_ACP spells
// names as the file system's narrow calls take them here (a character it
// lacks becomes '?'), CP_UTF8 is UTF-8.
std::wstring widened(std::string_view text, unsigned codePage);
std::string narrowed(std::wstring_view text, unsigned codePage);
#endif

// One headlink at a time in a folder the user keeps (a game folder): an
// exclusive lock for a run that changes it, a shared one for a run that
// only reads it. The system drops a lock when its holder ends, however it
// ends. It is a lock on byte 0 of the hidden file ".headlink.lock" in the
// folder, which the Windows build and the native one under the same
// emulator both see, and on POSIX flock on the folder too. A run makes the
// file, and the last to let go removes it; one that a crash left behind is
// held by no one, so it holds nothing off and the next run takes it. A
// reader that can neither make nor open it (a folder it may not write in)
// holds nothing there, and checks afterwards that no writer came and went.
inline constexpr const char* kLockFileName = ".headlink.lock";
class FolderLock {
public:
    // reading: held, but only by runs that read the folder.
    enum class State { held, busy, reading, unsupported };
    FolderLock() = default;
    ~FolderLock() { release(); }
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;
    // Takes the lock on `folder`, trying again for up to `waitMs` while
    // another run holds it; *state says how it went. A failure to try at
    // all (the lock file cannot be made) is the Result.
    Result take(const std::string& folder, bool exclusive, int waitMs, State* state);
    void release();

private:
    std::intptr_t folder_ = -1;
    std::intptr_t file_ = -1;
    std::string lockFile_;
    bool writer_ = false;
};

// The line an interruption prints on standard error on its way out (with
// its line break; nullptr for none), for a step whose interruption the user
// must hear of: set it before the step, made whole, and keep the text alive.
void sayOnInterruption(const char* line);

// The set-up both programs begin with. An interruption (SIGINT, SIGTERM,
// SIGHUP; a console Ctrl-C, break or close on Windows) removes the
// temporaries being written before the program ends as it would have
// (signals it was started with ignored stay ignored), and so does
// std::terminate, which the runtime calls when even an exception finds no
// memory: that prints `lastWords` on stderr and ends with `status`, never
// an abort. A write past a file-size limit fails rather than ending the
// program, and with `closedPipeFails` so does one to a pipe whose reader
// has gone, so that the exit status still tells how the run went.
void startProgram(const char* lastWords, int status, bool closedPipeFails);

// A checksum of `bytes` (XXH3, 128 bits) as 32 hex digits: how an install
// tells the bytes of a file it wrote from any others.
std::string checksumOf(std::span<const uint8_t> bytes);

}  // namespace headlink
