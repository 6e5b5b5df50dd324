// fileio's platform layer on POSIX systems: file descriptors, the signal
// mask to hold interruptions off, and signal handlers that clean up.
#include "fileio/platform.h"

#include <csignal>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#ifdef __linux__
#include <linux/fs.h>
#endif
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace headlink::platform {

namespace {

void (*gCleanUp)() = nullptr;

extern "C" void onInterrupt(int sig) {
    gCleanUp();
    // Die of the same signal, so the parent sees the usual status.
    ::signal(sig, SIG_DFL);
    ::raise(sig);
}

}  // namespace

InterruptionsHeld::InterruptionsHeld() {
    sigset_t held;
    sigemptyset(&held);
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&held, sig);
    sigprocmask(SIG_BLOCK, &held, &previous_);
}

InterruptionsHeld::~InterruptionsHeld() { sigprocmask(SIG_SETMASK, &previous_, nullptr); }

void catchInterruptions(void (*cleanUp)()) {
    gCleanUp = cleanUp;
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&action.sa_mask, sig);
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction previous {};
        sigaction(sig, nullptr, &previous);
        if (previous.sa_handler != SIG_IGN) sigaction(sig, &action, nullptr);
    }
}

void makeWritesFail(bool closedPipe) {
    std::signal(SIGXFSZ, SIG_IGN);
    if (closedPipe) std::signal(SIGPIPE, SIG_IGN);
}

void removeNow(const char* path) { ::unlink(path); }

void sayNow(const char* line) {
    for (std::size_t left = std::strlen(line); left > 0;) {
        const ssize_t n = ::write(2, line, left);
        if (n <= 0) return;
        line += n;
        left -= static_cast<std::size_t>(n);
    }
}

int openToRead(const std::string& name, FileBytes* result) {
    // O_NONBLOCK makes opening a pipe or device return at once.
    const int fd = ::open(name.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        result->result = Result::failure(errno == ENOENT ? Status::notFound : Status::cannotRead,
                                         "cannot open: " + errnoText(errno), name);
    }
    return fd;
}

bool lookAt(int fd, FileKind* kind, long long* size) {
    struct stat info {};
    if (::fstat(fd, &info) != 0) return false;
    *kind = S_ISREG(info.st_mode) ? FileKind::regular : S_ISDIR(info.st_mode) ? FileKind::folder : FileKind::other;
    *size = info.st_size;
    return true;
}

long long readSome(int fd, uint8_t* to, std::size_t size) { return ::read(fd, to, size); }
bool seekTo(int fd, long long offset) { return ::lseek(fd, static_cast<off_t>(offset), SEEK_SET) >= 0; }
void closeToRead(int fd) { ::close(fd); }

std::string lastErrorText() { return errnoText(errno); }

Handle createExclusive(const std::string& name, bool* exists) {
    // 0666: the umask then gives exactly the mode of a plain create.
    const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    *exists = fd < 0 && errno == EEXIST;
    return fd;
}

long long writeSome(Handle fd, const uint8_t* data, std::size_t size) {
    // A signal that breaks into the write is no failure: write again.
    long long n = 0;
    do n = ::write(static_cast<int>(fd), data, size);
    while (n < 0 && errno == EINTR);
    return n;
}

bool syncFile(Handle fd) { return ::fsync(static_cast<int>(fd)) == 0; }
bool closeFile(Handle fd) { return ::close(static_cast<int>(fd)) == 0; }
bool unhide(const std::string&) { return true; }  // hidden by its leading dot only

Result replaceFile(const std::string& from, const std::string& to) {
    if (std::rename(from.c_str(), to.c_str()) == 0) return {};
    return Result::failure(Status::cannotWrite, "cannot replace: " + errnoText(errno), to);
}

// What a plain create would check: write permission for the running user.
// (A rename would replace a file of another user in a folder we may write.)
// Plain access(): the variant for effective ids is refused by some
// container sandboxes, which would make every output look unwritable.
Result cannotReplace(const std::string& name) {
    if (::access(name.c_str(), W_OK) == 0 || errno == ENOENT) return {};
    if (errno == EACCES || errno == EPERM)
        return Result::failure(Status::cannotWrite, "the existing file is not writable by you", name);
    return Result::failure(Status::cannotWrite, "cannot look at the existing file: " + errnoText(errno), name);
}

// A rename is on disk only once its folder is: a power cut could bring the
// earlier file back. A file system that cannot flush folders (EINVAL) has
// nothing more to do.
Result syncFolder(const std::string& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    Result synced;
    if (fd < 0 || (::fsync(fd) != 0 && errno != EINVAL))
        synced = Result::failure(Status::cannotWrite, "cannot flush the folder: " + errnoText(errno), folder);
    if (fd >= 0) ::close(fd);
    return synced;
}

unsigned long long processId() { return static_cast<unsigned long long>(::getpid()); }

bool isLink(const std::string& path, bool* link) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return false;
    *link = S_ISLNK(st.st_mode);
    return true;
}

bool readLink(const std::string& path, FileLink* link) {
    *link = FileLink{};
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return errno == ENOENT || errno == ENOTDIR;
    if (S_ISREG(st.st_mode) && st.st_nlink > 1) *link = FileLink{FileLink::Kind::hard, path};
    if (!S_ISLNK(st.st_mode)) return true;
    // The size lstat gives may be 0 (some file systems) or stale: grow until it fits.
    std::string target(st.st_size > 0 ? static_cast<std::size_t>(st.st_size) + 1 : 256, '\0');
    for (;;) {
        const ssize_t n = ::readlink(path.c_str(), target.data(), target.size());
        if (n < 0) return false;
        if (static_cast<std::size_t>(n) < target.size()) {
            target.resize(static_cast<std::size_t>(n));
            break;
        }
        target.resize(target.size() * 2);
    }
    *link = FileLink{FileLink::Kind::symbolic, std::move(target)};
    return true;
}

bool makeLink(const std::string& path, const FileLink& link, bool* exists) {
    const int made = link.kind == FileLink::Kind::symbolic ? ::symlink(link.target.c_str(), path.c_str())
                                                        : ::link(link.target.c_str(), path.c_str());
    *exists = made != 0 && errno == EEXIST;
    return made == 0;
}

// Another file system, one without links, too many links, or no right to make one.
bool linksRefused() {
    return errno == EXDEV || errno == EPERM || errno == EMLINK || errno == ENOTSUP || errno == EOPNOTSUPP;
}

bool identityOf(const std::string& path, FileIdentity* id, bool* exists) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
        *exists = false;
        return errno == ENOENT || errno == ENOTDIR;
    }
    *id = {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
    return true;
}

Result whyHeld(const std::string& path) {
#ifdef __linux__
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return {};
    int flags = 0;
    const bool looked = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    ::close(fd);
    if (looked && (flags & (FS_IMMUTABLE_FL | FS_APPEND_FL)) != 0)
        return Result::failure(Status::cannotWrite,
                               "it is marked immutable or append-only (lsattr shows it; chattr -i -a clears it)", path);
#else
    (void)path;
#endif
    return {};
}

Result whyUnwritable(const std::string& folder) {
    // Only a folder: anything else in its place is said where it is used.
    struct stat info {};
    if (::stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return {};
    // As this process's effective user: what it may do, not what its
    // real user may.
    if (::faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) == 0) return {};
    const auto refused = [&](std::string why) { return Result::failure(Status::cannotWrite, std::move(why), folder); };
    if (errno == EROFS) return refused("it is on a file system mounted read-only: mount it for writing, or move the game");
    if (errno != EACCES && errno != EPERM) return refused(std::strerror(errno));
    if (info.st_uid == ::geteuid()) return refused("it is read-only: change its permissions (chmod u+w)");
    std::string owner = "user " + std::to_string(info.st_uid);
    char buffer[4096];
    passwd entry {};
    passwd* found = nullptr;
    if (::getpwuid_r(info.st_uid, &entry, buffer, sizeof buffer, &found) == 0 && found != nullptr) owner = found->pw_name;
    return refused("it belongs to " + owner + ", so run headlink as " + owner + " or change its permissions");
}

std::size_t longestName(const std::string& folder) {
    const long longest = ::pathconf(folder.c_str(), _PC_NAME_MAX);
    return longest > 0 ? static_cast<std::size_t>(longest) : 0;
}

namespace {

LockState lockStateOf(int err) {
    return err == EWOULDBLOCK || err == EAGAIN || err == EACCES ? LockState::busy
           : err == ENOLCK || err == EOPNOTSUPP || err == ENOTSUP || err == EINVAL ? LockState::unsupported
                                                                                   : LockState::failed;
}

// Byte 0 of the lock file, as LockFileEx locks it under the emulator. An
// open file description's lock, where the system has one, is dropped only
// with its own descriptor, not by closing another of the same file in this
// program; it conflicts with the emulator's process locks all the same.
int lockByte(int fd, short type) {
    struct flock lock {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = 0;
    lock.l_len = 1;
#ifdef F_OFD_SETLK
    return ::fcntl(fd, F_OFD_SETLK, &lock);
#else
    return ::fcntl(fd, F_SETLK, &lock);
#endif
}

}  // namespace

// flock on the folder's own descriptor: nothing is written, and the system
// drops the lock with the descriptor, however the program ends.
LockState lockFolder(const std::string& folder, bool exclusive, Handle* h) {
    *h = kNoHandle;
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return LockState::failed;
    if (::flock(fd, (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB) == 0) {
        *h = fd;
        return LockState::held;
    }
    const int err = errno;
    LockState state = lockStateOf(err);
    // Held, but perhaps only by readers: a shared lock beside theirs tells.
    if (state == LockState::busy && exclusive && ::flock(fd, LOCK_SH | LOCK_NB) == 0) state = LockState::reading;
    ::close(fd);
    errno = err;
    return state;
}

void unlockFolder(Handle h) { ::close(static_cast<int>(h)); }

LockState lockFile(const std::string& path, bool exclusive, Handle* h) {
    *h = kNoHandle;
    for (int tries = 0; tries < 20; ++tries) {
        int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (fd < 0 && !exclusive) fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
        // A reader of a folder it cannot write in, without a lock file, has
        // the folder's own lock against native runs, and checks afterwards.
        if (fd < 0) return exclusive ? LockState::failed : LockState::held;
        struct stat held {};
        if (::fstat(fd, &held) != 0 || !S_ISREG(held.st_mode)) {
            ::close(fd);
            errno = EISDIR;
            return exclusive ? LockState::failed : LockState::held;
        }
        if (lockByte(fd, exclusive ? F_WRLCK : F_RDLCK) != 0) {
            const int err = errno;
            LockState state = lockStateOf(err);
            if (state == LockState::busy && exclusive && lockByte(fd, F_RDLCK) == 0) state = LockState::reading;
            ::close(fd);
            errno = err;
            // The folder's own lock keeps native runs apart where files cannot be locked.
            return state == LockState::unsupported ? LockState::held : state;
        }
        // The writer that held it may have removed it just before: the
        // lock must be on the file that has the name now.
        struct stat now {};
        if (::lstat(path.c_str(), &now) == 0 && now.st_dev == held.st_dev && now.st_ino == held.st_ino) {
            *h = fd;
            return LockState::held;
        }
        ::close(fd);
    }
    errno = EAGAIN;
    return LockState::busy;
}

void unlockFile(Handle h, const std::string& path) {
    // The last to let go removes it: while this holds it alone, no one else
    // can lock this file, and one who opened it meanwhile finds it gone.
    const int fd = static_cast<int>(h);
    if (lockByte(fd, F_WRLCK) == 0) ::unlink(path.c_str());
    ::close(fd);
}

}  // namespace headlink::platform
