// The few operations fileio.cpp needs that each platform spells its own way:
// opening and reading, creating, flushing and renaming files, and holding
// off and catching interruptions. platform_posix.cpp and
// platform_windows.cpp implement them; fileio/CMakeLists.txt builds the one
// that fits. Internal to fileio/: nothing else includes this.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "fileio/fileio.h"

#ifndef _WIN32
#include <signal.h>
#endif

namespace headlink::platform {

inline std::string errnoText(int err) { return std::strerror(err); }

// Holds off interruptions while it lives, so that one never lands between
// creating a temporary and recording it, or between two renames. Guards
// nest. On POSIX this is the signal mask; Windows delivers Ctrl-C and
// console close on a thread of its own, so there the writer and the
// handler share a lock instead.
class InterruptionsHeld {
public:
    InterruptionsHeld();
    ~InterruptionsHeld();
    InterruptionsHeld(const InterruptionsHeld&) = delete;
    InterruptionsHeld& operator=(const InterruptionsHeld&) = delete;

private:
#ifndef _WIN32
    sigset_t previous_;  // the mask to put back
#endif
};

// Makes an interruption call `cleanUp`, which must be safe in a signal
// handler, and then end the program as the interruption would have.
// Signals the program was started with ignored stay ignored.
void catchInterruptions(void (*cleanUp)());

// Makes a write past a file-size limit (and, with `closedPipe`, one to a
// pipe whose reader has gone) fail instead of ending the program.
void makeWritesFail(bool closedPipe);

// Removes a file; safe in a signal handler.
void removeNow(const char* path);
// Writes a line on standard error; safe in a signal handler.
void sayNow(const char* line);

// Reading. openToRead opens by exactly this name, never blocking on a pipe
// or device; on failure it returns -1 with result->result saying why
// ("cannot open: ...", notFound when no file has the name). The others set errno when they fail.
enum class FileKind { regular, folder, other };
int openToRead(const std::string& name, FileBytes* result);
bool lookAt(int fd, FileKind* kind, long long* size);
long long readSome(int fd, uint8_t* to, std::size_t size);
bool seekTo(int fd, long long offset);
void closeToRead(int fd);

// Writing. A file open for writing is a descriptor, or a HANDLE's value;
// lastErrorText says why the latest of these calls failed.
using Handle = std::intptr_t;
inline constexpr Handle kNoHandle = -1;
std::string lastErrorText();
// kNoHandle with *exists set when the name is taken.
Handle createExclusive(const std::string& name, bool* exists);
long long writeSome(Handle h, const uint8_t* data, std::size_t size);
bool syncFile(Handle h);
bool closeFile(Handle h);
// The output must look like a plain new file, whatever hid the temporary.
bool unhide(const std::string& name);
Result replaceFile(const std::string& from, const std::string& to);
// A failure saying why an existing file may not be replaced; none when it
// may (or is not there).
Result cannotReplace(const std::string& name);
// Makes the renames into `folder` durable.
Result syncFolder(const std::string& folder);
unsigned long long processId();
// Sets *link; false (with lastErrorText) when `path` cannot be looked at.
bool isLink(const std::string& path, bool* link);
// What `path` is (Link), false (with lastErrorText) when it cannot be told;
// nothing there is Kind::none. makeLink makes `path` that link, *exists set
// when the name is taken; linksRefused says whether its failure means that
// no such link can be made there at all.
bool readLink(const std::string& path, FileLink* link);
bool makeLink(const std::string& path, const FileLink& link, bool* exists);
bool linksRefused();

// Sets *id, or *exists false when nothing has the name; false (with
// lastErrorText) when it cannot be looked at. longestName: 0 when unknown.
bool identityOf(const std::string& path, FileIdentity* id, bool* exists);
std::size_t longestName(const std::string& folder);
Result whyHeld(const std::string& path);
Result whyUnwritable(const std::string& folder);

// A lock on a folder among headlink runs (FolderLock), in two parts.
// lockFolder is flock on the folder's own descriptor on POSIX (on Windows
// it takes nothing: held, kNoHandle). lockFile locks byte 0 of the lock
// file at `path` (".headlink.lock" in the folder): LockFileEx on Windows,
// an open file description's fcntl lock on POSIX. The emulator that runs
// the Windows build maps LockFileEx onto the same fcntl lock, so native
// runs and Windows runs under it exclude each other. The system drops both
// with their holder, however it ends; a lock file left by a crash is held
// by no one, and so is no obstacle. lockFile makes the file where it can;
// a reader that cannot holds nothing (held, kNoHandle). The last holder to
// let go removes it. busy: a writer holds it; reading: only readers do;
// failed: lastErrorText says why.
enum class LockState { held, busy, reading, unsupported, failed };
LockState lockFolder(const std::string& folder, bool exclusive, Handle* h);
void unlockFolder(Handle h);
LockState lockFile(const std::string& path, bool exclusive, Handle* h);
void unlockFile(Handle h, const std::string& path);

}  // namespace headlink::platform
