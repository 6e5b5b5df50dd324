#include "fileio/fileio.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <new>
#include <random>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>

#ifdef _WIN32
#include <io.h>
#include <process.h>
#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace headlink {
namespace fs = std::filesystem;

namespace {

std::string errnoText(int err) { return std::strerror(err); }

constexpr long long kMaxFileBytes = 0x7FFFFFFF;

// The temporaries being written, for the interruption handler. They live
// in fixed buffers because a handler may not allocate, and a slot is set
// and cleared only while interruptions are held off (TemporaryGuard), so
// the handler never removes a file that is not ours: not before our
// exclusive create succeeded, not after the rename made it the output.
constexpr std::size_t kSlots = 8;  // the most files written together
char gTemporary[kSlots][4096];
volatile std::sig_atomic_t gHaveTemporary[kSlots] = {};

void registerTemporary(std::size_t slot, const std::string& path) {
    if (slot >= kSlots || path.size() >= sizeof gTemporary[slot]) return;  // names here are short
    std::memcpy(gTemporary[slot], path.c_str(), path.size() + 1);
    gHaveTemporary[slot] = 1;
}

const char* gLastWords = "not enough memory\n";
int gTerminateStatus = 1;

// Safe in a signal handler: no allocation, no lock.
void removeTemporariesNow() {
    for (std::size_t slot = 0; slot < kSlots; ++slot) {
        if (!gHaveTemporary[slot]) continue;
#ifdef _WIN32
        DeleteFileA(gTemporary[slot]);
#else
        ::unlink(gTemporary[slot]);
#endif
    }
}

#ifdef _WIN32
// Windows delivers Ctrl-C and console close on a thread of its own, so the
// writer and the handler share a lock instead of a signal mask.
CRITICAL_SECTION gTemporaryLock;
bool gLockReady = false;

struct TemporaryGuard {
    TemporaryGuard() {
        if (gLockReady) EnterCriticalSection(&gTemporaryLock);
    }
    ~TemporaryGuard() {
        if (gLockReady) LeaveCriticalSection(&gTemporaryLock);
    }
};

BOOL WINAPI onConsoleEvent(DWORD) {
    // The lock is kept on purpose: the process ends when this returns, and
    // the writer must not rename the temporary into place meanwhile. The
    // temporary is open with delete sharing, so it goes when the process
    // closes it.
    EnterCriticalSection(&gTemporaryLock);
    removeTemporariesNow();
    return FALSE;  // the default handling ends the process as usual
}

// Low-level file access, spelled for each platform. The temporary is made
// with CreateFile so that it can be hidden and be deleted while still open.
using Handle = HANDLE;
const Handle kNoHandle = INVALID_HANDLE_VALUE;

std::string windowsErrorText(DWORD code) {
    switch (code) {
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS: return "File exists";
    case ERROR_ACCESS_DENIED: return "Permission denied";
    case ERROR_PATH_NOT_FOUND: return "No such file or directory";
    case ERROR_SHARING_VIOLATION: return "the file is open in another program";
    case ERROR_LOCK_VIOLATION: return "the file is locked by another program";
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: return "No space left on device";
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY: return kNotEnoughMemory;
    default: return "Windows error " + std::to_string(code);
    }
}
std::string lastErrorText() { return windowsErrorText(GetLastError()); }

// kNoHandle with *exists set when the name is taken.
Handle createExclusive(const std::string& name, bool* exists) {
    Handle h = CreateFileA(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                           nullptr, CREATE_NEW, FILE_ATTRIBUTE_HIDDEN, nullptr);
    const DWORD code = GetLastError();
    *exists = h == kNoHandle && (code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS);
    SetLastError(code);
    return h;
}
long long writeSome(Handle h, const uint8_t* data, std::size_t size) {
    DWORD chunk = size > (1u << 30) ? (1u << 30) : static_cast<DWORD>(size);
    DWORD done = 0;
    if (!WriteFile(h, data, chunk, &done, nullptr)) return -1;
    return done;
}
bool syncFile(Handle h) { return FlushFileBuffers(h) != 0; }
bool closeFile(Handle h) { return CloseHandle(h) != 0; }

// The temporary was hidden; the output must look like a plain new file.
bool unhide(const std::string& name) { return SetFileAttributesA(name.c_str(), FILE_ATTRIBUTE_ARCHIVE) != 0; }

bool replaceFile(const std::string& from, const std::string& to, std::string* why) {
    // MoveFileEx with REPLACE_EXISTING is the Windows counterpart of an
    // atomic rename over an existing file.
    if (MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    *why = "cannot replace: " + lastErrorText();
    return false;
}

// Why an existing file may not be replaced, or "" when it may (or is not there).
std::string cannotReplace(const std::string& name) {
    DWORD attributes = GetFileAttributesA(name.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD code = GetLastError();
        if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) return "";
        return "cannot look at the existing file: " + windowsErrorText(code);
    }
    return (attributes & FILE_ATTRIBUTE_READONLY) ? "the existing file is read-only" : "";
}

// MoveFileEx with MOVEFILE_WRITE_THROUGH returns only once the rename is on disk.
bool syncFolder(const std::string&, std::string*) { return true; }

unsigned long long processId() { return static_cast<unsigned long long>(_getpid()); }
#else
// Interruptions are held off while the temporary is created or renamed.
struct TemporaryGuard {
    TemporaryGuard() {
        sigset_t held;
        sigemptyset(&held);
        for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&held, sig);
        sigprocmask(SIG_BLOCK, &held, &previous);
    }
    ~TemporaryGuard() { sigprocmask(SIG_SETMASK, &previous, nullptr); }
    sigset_t previous;
};

extern "C" void onInterrupt(int sig) {
    removeTemporariesNow();
    // Die of the same signal, so the parent sees the usual status.
    ::signal(sig, SIG_DFL);
    ::raise(sig);
}

using Handle = int;
const Handle kNoHandle = -1;

std::string lastErrorText() { return errnoText(errno); }

Handle createExclusive(const std::string& name, bool* exists) {
    // 0666: the umask then gives exactly the mode of a plain create.
    Handle fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    *exists = fd < 0 && errno == EEXIST;
    return fd;
}
long long writeSome(Handle fd, const uint8_t* data, std::size_t size) { return ::write(fd, data, size); }
bool syncFile(Handle fd) { return ::fsync(fd) == 0; }
bool closeFile(Handle fd) { return ::close(fd) == 0; }
bool unhide(const std::string&) { return true; }  // hidden by its leading dot only

bool replaceFile(const std::string& from, const std::string& to, std::string* why) {
    if (std::rename(from.c_str(), to.c_str()) == 0) return true;
    *why = "cannot replace: " + errnoText(errno);
    return false;
}

// What a plain create would check: write permission for the running user.
// (A rename would replace a file of another user in a folder we may write.)
// Plain access(): the variant for effective ids is refused by some
// container sandboxes, which would make every output look unwritable.
std::string cannotReplace(const std::string& name) {
    if (::access(name.c_str(), W_OK) == 0 || errno == ENOENT) return "";
    if (errno == EACCES || errno == EPERM) return "the existing file is not writable by you";
    return "cannot look at the existing file: " + errnoText(errno);
}

// A rename is on disk only once its folder is: a power cut could bring the
// earlier file back. A file system that cannot flush folders (EINVAL) has
// nothing more to do.
bool syncFolder(const std::string& folder, std::string* why) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    bool ok = fd >= 0 && (::fsync(fd) == 0 || errno == EINVAL);
    if (!ok) *why = "cannot flush the folder: " + errnoText(errno);
    if (fd >= 0) ::close(fd);
    return ok;
}

unsigned long long processId() { return static_cast<unsigned long long>(::getpid()); }
#endif

bool writeAll(Handle h, std::span<const uint8_t> bytes, std::string* why) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        long long n = writeSome(h, bytes.data() + done, bytes.size() - done);
#ifndef _WIN32
        if (n < 0 && errno == EINTR) continue;
#endif
        if (n <= 0) {
            *why = "cannot write: " + (n < 0 ? lastErrorText() : std::string("nothing was written"));
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// 16 hex digits nobody can guess. The process id alone repeats (it is the
// same on every run in a container, or under an emulator), and a name that
// repeats can be blocked for good by leftovers.
std::string randomTag() {
    static unsigned long long counter = 0;
    unsigned long long bits = 0;
    try {
        std::random_device device;
        bits = (static_cast<unsigned long long>(device()) << 32) ^ device();
    } catch (const std::exception&) {
        // No entropy source: the clock, the process and a counter still
        // make names that differ from run to run.
    }
    bits ^= static_cast<unsigned long long>(
                std::chrono::high_resolution_clock::now().time_since_epoch().count()) *
            0x9E3779B97F4A7C15ull;
    bits ^= (processId() << 40) ^ ++counter;
    static const char* hex = "0123456789abcdef";
    std::string tag(16, '0');
    for (char& c : tag) {
        c = hex[bits & 0xF];
        bits >>= 4;
    }
    return tag;
}

// ".heads_updated.2da.headlink-0123456789abcdef.tmp" beside the output:
// hidden in a listing, and plainly ours when shown.
std::string temporaryName(const std::string& name) {
    const fs::path target(name);
    std::string file = ".";  // appended piecewise: GCC 12 warns wrongly on a chain of +
    file += target.filename().string();
    file += ".headlink-";
    file += randomTag();
    file += ".tmp";
    return (target.parent_path() / file).string();
}

// A table of several megabytes would otherwise be brought in 4 KiB at a
// time, one page fault each: at the largest sizes most of a run's CPU time.
// Asking for large pages before the buffer is first touched makes most of
// it a handful of faults (the advice covers the whole pages that hold the
// buffer; each 2 MiB-aligned stretch inside may become one large page).
// Only advice: where the system declines, nothing changes.
void adviseLargeBuffer(uint8_t* start, std::size_t size) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    const long pageSize = ::sysconf(_SC_PAGESIZE);
    if (size < (std::size_t{1} << 20) || pageSize <= 0) return;
    const auto page = static_cast<std::uintptr_t>(pageSize);
    const auto from = reinterpret_cast<std::uintptr_t>(start) & ~(page - 1);
    const auto to = (reinterpret_cast<std::uintptr_t>(start) + size + page - 1) & ~(page - 1);
    ::madvise(reinterpret_cast<void*>(from), to - from, MADV_HUGEPAGE);
#else
    (void)start;
    (void)size;
#endif
}

}  // namespace

FileBytes readFile(const std::string& name) {
    FileBytes result;
    // Open first, then look at what was opened: a name checked and then
    // opened could be swapped in between for a pipe that blocks forever.
    // O_NONBLOCK makes opening a pipe or device return at once.
#ifdef _WIN32
    int fd = _open(name.c_str(), _O_RDONLY | _O_BINARY);
    if (fd < 0) {
        result.missing = errno == ENOENT;
        std::error_code ec;
        result.error = fs::is_directory(name, ec) ? "cannot open: it is a folder, not a file"
                                                  : "cannot open: " + errnoText(errno);
        return result;
    }
    struct _stat64 info {};
    const bool statted = _fstat64(fd, &info) == 0;
    const bool regular = (info.st_mode & _S_IFMT) == _S_IFREG;
    const bool folder = (info.st_mode & _S_IFMT) == _S_IFDIR;
    auto readSome = [fd](uint8_t* to, std::size_t n) {
        return static_cast<long long>(_read(fd, to, n > (1u << 30) ? (1u << 30) : static_cast<unsigned>(n)));
    };
    auto closeIt = [fd] { _close(fd); };
#else
    int fd = ::open(name.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        result.missing = errno == ENOENT;
        result.error = "cannot open: " + errnoText(errno);
        return result;
    }
    struct stat info {};
    const bool statted = ::fstat(fd, &info) == 0;
    const bool regular = S_ISREG(info.st_mode);
    const bool folder = S_ISDIR(info.st_mode);
    auto readSome = [fd](uint8_t* to, std::size_t n) { return static_cast<long long>(::read(fd, to, n)); };
    auto closeIt = [fd] { ::close(fd); };
#endif
    if (!statted) result.error = "cannot read: " + errnoText(errno);
    else if (folder) result.error = "cannot open: it is a folder, not a file";
    else if (!regular) result.error = "cannot open: not a regular file";
    else if (info.st_size > kMaxFileBytes)
        result.error = "file is too large (" + std::to_string(info.st_size) + " bytes)";
    if (!result.ok()) {
        closeIt();
        return result;
    }
    const auto size = static_cast<std::size_t>(info.st_size);
    // Asked for without throwing first: when memory is that short, the
    // exception itself may find no room, and the runtime would abort.
    void* room = ::operator new(size, std::nothrow);
    if (room == nullptr) {
        closeIt();
        result.error = kNotEnoughMemory;
        return result;
    }
    ::operator delete(room);
    try {
        result.bytes.reserve(size);
        adviseLargeBuffer(result.bytes.data(), size);
        result.bytes.resize(size);
    } catch (const std::bad_alloc&) {
        closeIt();
        result.error = kNotEnoughMemory;
        return result;
    }
    std::size_t got = 0;
    while (got < size) {
        long long n = readSome(result.bytes.data() + got, size - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            result.error = "cannot read: " + errnoText(errno);
            break;
        }
        if (n == 0) {
            result.error = "cannot read: got " + std::to_string(got) + " of " + std::to_string(size) + " bytes";
            break;
        }
        got += static_cast<std::size_t>(n);
    }
    closeIt();
    if (!result.ok()) result.bytes.clear();
    return result;
}

namespace {

// Why `name` cannot be replaced, or "" when it can. A read-only output is
// the user's way of protecting it; a plain create would fail on it, and so
// do we (even where the user's rights would let a rename through, as for
// root, or in a folder anyone may write to). A file we cannot even look at
// is not replaced either: its protection cannot be checked.
std::string checkTarget(const std::string& name) {
    std::error_code ec;
    const fs::file_status target = fs::status(name, ec);
    if (target.type() == fs::file_type::not_found) return "";
    if (ec) return "cannot write: cannot look at the existing file: " + ec.message();
    if (fs::is_directory(target)) return "cannot write: a folder of this name is in the way";
    if ((target.permissions() & fs::perms::owner_write) == fs::perms::none)
        return "cannot write: the existing file is read-only";
    const std::string problem = cannotReplace(name);
    return problem.empty() ? "" : "cannot write: " + problem;
}

// Writes `file` to a new temporary beside it, registered in `slot` for the
// interruption handler: every byte, flushed, closed. The temporary's name
// goes to *temp once it exists, even when a later step fails.
bool writeTemporary(const FileToWrite& file, std::size_t slot, std::string* temp, std::string* why) {
    // The temporary lies in the target's own folder so that the final
    // rename never crosses file systems. A taken name is someone else's
    // file: another name is drawn, and the file left alone.
    Handle h = kNoHandle;
    bool exists = true;
    for (int attempt = 0; attempt < 1000 && exists; ++attempt) {
        const std::string name = temporaryName(file.name);
        TemporaryGuard guard;
        h = createExclusive(name, &exists);
        if (h != kNoHandle) {
            registerTemporary(slot, name);
            *temp = name;
        }
    }
    if (h == kNoHandle) {
        *why = "cannot create: " + lastErrorText();
        return false;
    }
    bool ok = true;
    for (std::size_t i = 0; ok && i < file.parts.size(); ++i) ok = writeAll(h, file.parts[i], why);
    if (ok && !syncFile(h)) {
        *why = "cannot write: " + lastErrorText();
        ok = false;
    }
    if (!closeFile(h) && ok) {
        *why = "cannot write: " + lastErrorText();
        ok = false;
    }
    if (ok && !unhide(*temp)) {
        *why = "cannot write: " + lastErrorText();
        ok = false;
    }
    return ok;
}

// Removes the temporaries still there; a reason for each one that stays,
// naming it so that the user can delete it.
std::string removeTemporaries(std::vector<std::string>& temps) {
    std::string left;
    TemporaryGuard guard;
    for (std::size_t slot = 0; slot < temps.size(); ++slot) {
        if (!temps[slot].empty() && std::remove(temps[slot].c_str()) != 0 && errno != ENOENT)
            left += "; the temporary " + temps[slot] + " could not be removed (" + errnoText(errno) +
                    "): delete it";
        if (slot < kSlots) gHaveTemporary[slot] = 0;
    }
    return left;
}

}  // namespace

WriteResult writeFilesTogether(std::span<const FileToWrite> files) {
    WriteResult result;
    result.stage = WriteResult::Stage::prepare;
    for (std::size_t i = 0; i < files.size(); ++i) {
        std::string problem = checkTarget(files[i].name);
        if (!problem.empty()) result.failures.emplace_back(i, std::move(problem));
    }
    if (!result.failures.empty()) return result;
    // Worked out now: nothing after the first rename may run out of memory.
    std::vector<std::string> folders;
    for (const FileToWrite& file : files) {
        const fs::path parent = fs::path(file.name).parent_path();
        const std::string folder = parent.empty() ? std::string(".") : parent.string();
        if (std::find(folders.begin(), folders.end(), folder) == folders.end()) folders.push_back(folder);
    }
    result.failures.reserve(1);

    std::vector<std::string> temps(files.size());
    for (std::size_t i = 0; i < files.size(); ++i) {
        std::string why;
        if (!writeTemporary(files[i], i, &temps[i], &why)) {
            result.failures.emplace_back(i, why + removeTemporaries(temps));
            return result;
        }
    }

    {
        // Interruptions wait until every rename is done: they would end the
        // program between two of them, leaving a set that does not match.
        TemporaryGuard guard;
        for (; result.replaced < files.size(); ++result.replaced) {
            const std::size_t i = result.replaced;
            std::string why;
            if (!replaceFile(temps[i], files[i].name, &why)) {
                result.stage = WriteResult::Stage::replace;
                result.failures.emplace_back(i, why + removeTemporaries(temps));
                return result;
            }
            temps[i].clear();
            if (i < kSlots) gHaveTemporary[i] = 0;
        }
    }

    for (std::size_t i = 0; i < folders.size(); ++i) {
        std::string why;
        if (!syncFolder(folders[i], &why)) {
            result.stage = WriteResult::Stage::flush;
            result.failures.emplace_back(i, why);
            return result;
        }
    }
    result.stage = WriteResult::Stage::done;
    return result;
}

std::vector<std::string> nearMisses(std::string_view wanted, std::span<const std::string> names) {
    auto lower = [](std::string_view text) {
        std::string out(text);
        for (char& c : out)
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        return out;
    };
    const std::string target = lower(wanted);
    std::vector<std::string> found;
    for (const std::string& name : names) {
        const std::string folded = lower(name);
        const bool moreExtensions = folded.size() > target.size() + 1 && folded.compare(0, target.size(), target) == 0 &&
                                    folded[target.size()] == '.';
        if (name != wanted && (folded == target || moreExtensions)) found.push_back(name);
    }
    return found;
}

bool writeFileSafely(const std::string& name, std::span<const uint8_t> bytes, std::string* why) {
    const std::span<const uint8_t> parts[] = {bytes};
    return writeFileSafely(name, parts, why);
}

bool writeFileSafely(const std::string& name, std::span<const std::span<const uint8_t>> parts,
                     std::string* why) {
    const FileToWrite file[] = {{name, parts}};
    const WriteResult result = writeFilesTogether(file);
    if (result.ok()) return true;
    if (why != nullptr) {
        *why = result.failures.front().second;
        if (result.stage == WriteResult::Stage::flush) *why += "; the new file is in place but may not survive a power cut";
    }
    return false;
}

namespace {

[[noreturn]] void onTerminate() {
    removeTemporariesNow();
    std::fputs(gLastWords, stderr);
    std::_Exit(gTerminateStatus);
}

}  // namespace

void removeTemporariesOnInterrupt(const char* lastWords, int status) {
    gLastWords = lastWords;
    gTerminateStatus = status;
    std::set_terminate(onTerminate);
#ifdef _WIN32
    InitializeCriticalSection(&gTemporaryLock);
    gLockReady = true;
    SetConsoleCtrlHandler(onConsoleEvent, TRUE);
#else
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&action.sa_mask, sig);
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction previous {};
        sigaction(sig, nullptr, &previous);
        if (previous.sa_handler != SIG_IGN) sigaction(sig, &action, nullptr);
    }
#endif
}

}  // namespace headlink
