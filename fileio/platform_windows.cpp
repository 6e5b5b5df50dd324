// fileio's platform layer on Windows: the C runtime's descriptors for
// reading, Win32 handles for the temporaries, and a console handler with a
// lock for interruptions.
#include "fileio/platform.h"

#include <cerrno>
#include <cstddef>
#include <filesystem>
#include <vector>
#include <system_error>

#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <sys/stat.h>
#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <winioctl.h>

namespace headlink::platform {

namespace {

void (*gCleanUp)() = nullptr;

// Windows delivers Ctrl-C and console close on a thread of its own, so the
// writer and the handler share a lock instead of a signal mask.
CRITICAL_SECTION gTemporaryLock;
bool gLockReady = false;

BOOL WINAPI onConsoleEvent(DWORD) {
    // The lock is kept on purpose: the process ends when this returns, and
    // the writer must not rename the temporary into place meanwhile. The
    // temporary is open with delete sharing, so it goes when the process
    // closes it.
    EnterCriticalSection(&gTemporaryLock);
    gCleanUp();
    return FALSE;  // the default handling ends the process as usual
}

std::string windowsErrorText(DWORD code) {
    switch (code) {
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS: return "File exists";
    case ERROR_ACCESS_DENIED: return "Permission denied";
    case ERROR_PATH_NOT_FOUND: return "No such file or directory";
    case ERROR_SHARING_VIOLATION: return "the file is open in another program";
    case ERROR_LOCK_VIOLATION: return "the file is locked by another program";
    case ERROR_PRIVILEGE_NOT_HELD: return "making a symbolic link needs administrator rights or developer mode";
    case ERROR_NOT_SAME_DEVICE: return "Invalid cross-device link";
    case ERROR_INVALID_FUNCTION:
    case ERROR_NOT_SUPPORTED: return "the file system cannot do that";
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: return "No space left on device";
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY: return kNotEnoughMemory;
    default: return "Windows error " + std::to_string(code);
    }
}

HANDLE handleOf(Handle h) { return reinterpret_cast<HANDLE>(h); }

}  // namespace

InterruptionsHeld::InterruptionsHeld() {
    if (gLockReady) EnterCriticalSection(&gTemporaryLock);
}

InterruptionsHeld::~InterruptionsHeld() {
    if (gLockReady) LeaveCriticalSection(&gTemporaryLock);
}

void catchInterruptions(void (*cleanUp)()) {
    gCleanUp = cleanUp;
    InitializeCriticalSection(&gTemporaryLock);
    gLockReady = true;
    SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}

// Windows has no signal for either: a failed write is reported as such.
void makeWritesFail(bool) {}

void removeNow(const char* path) { DeleteFileA(path); }

void sayNow(const char* line) {
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), line, static_cast<DWORD>(std::strlen(line)), &written, nullptr);
}

int openToRead(const std::string& name, FileBytes* result) {
    const int fd = _open(name.c_str(), _O_RDONLY | _O_BINARY);
    if (fd < 0) {
        const int err = errno;
        std::error_code ec;
        result->result = Result::failure(err == ENOENT ? Status::notFound : Status::cannotRead,
                                         std::filesystem::is_directory(name, ec)
                                             ? "cannot open: it is a folder, not a file"
                                             : "cannot open: " + errnoText(err),
                                         name);
    }
    return fd;
}

bool lookAt(int fd, FileKind* kind, long long* size) {
    struct _stat64 info {};
    if (_fstat64(fd, &info) != 0) return false;
    const auto type = info.st_mode & _S_IFMT;
    *kind = type == _S_IFREG ? FileKind::regular : type == _S_IFDIR ? FileKind::folder : FileKind::other;
    *size = info.st_size;
    return true;
}

long long readSome(int fd, uint8_t* to, std::size_t size) {
    return _read(fd, to, size > (1u << 30) ? (1u << 30) : static_cast<unsigned>(size));
}

bool seekTo(int fd, long long offset) { return _lseeki64(fd, offset, SEEK_SET) >= 0; }
void closeToRead(int fd) { _close(fd); }

std::string lastErrorText() { return windowsErrorText(GetLastError()); }

// The temporary is made with CreateFile so that it can be hidden and be
// deleted while still open.
Handle createExclusive(const std::string& name, bool* exists) {
    HANDLE h = CreateFileA(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                           CREATE_NEW, FILE_ATTRIBUTE_HIDDEN, nullptr);
    const DWORD code = GetLastError();
    *exists = h == INVALID_HANDLE_VALUE && (code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS);
    SetLastError(code);
    return reinterpret_cast<Handle>(h);
}

long long writeSome(Handle h, const uint8_t* data, std::size_t size) {
    DWORD chunk = size > (1u << 30) ? (1u << 30) : static_cast<DWORD>(size);
    DWORD done = 0;
    if (!WriteFile(handleOf(h), data, chunk, &done, nullptr)) return -1;
    return done;
}

bool syncFile(Handle h) { return FlushFileBuffers(handleOf(h)) != 0; }
bool closeFile(Handle h) { return CloseHandle(handleOf(h)) != 0; }

// The temporary was hidden; the output must look like a plain new file.
bool unhide(const std::string& name) { return SetFileAttributesA(name.c_str(), FILE_ATTRIBUTE_ARCHIVE) != 0; }

Result replaceFile(const std::string& from, const std::string& to) {
    // MoveFileEx with REPLACE_EXISTING is the Windows counterpart of an
    // atomic rename over an existing file.
    if (MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return {};
    return Result::failure(Status::cannotWrite, "cannot replace: " + lastErrorText(), to);
}

Result cannotReplace(const std::string& name) {
    DWORD attributes = GetFileAttributesA(name.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD code = GetLastError();
        if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) return {};
        return Result::failure(Status::cannotWrite, "cannot look at the existing file: " + windowsErrorText(code), name);
    }
    if ((attributes & FILE_ATTRIBUTE_READONLY) == 0) return {};
    return Result::failure(Status::cannotWrite, "the existing file is read-only", name);
}

// MoveFileEx with MOVEFILE_WRITE_THROUGH returns only once the rename is on disk.
Result syncFolder(const std::string&) { return {}; }

unsigned long long processId() { return static_cast<unsigned long long>(_getpid()); }

bool isLink(const std::string& path, bool* link) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return false;
    *link = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    return true;
}

namespace {

// The symbolic link's part of a reparse point's data, as the system lays it
// out (the driver kit's REPARSE_DATA_BUFFER, which MinGW's headers lack).
struct SymlinkReparse {
    DWORD tag;
    WORD dataLength;
    WORD reserved;
    WORD substituteOffset;
    WORD substituteLength;
    WORD printOffset;
    WORD printLength;
    ULONG flags;
    WCHAR names[1];
};

// A symbolic link's target (UTF-8), as shown to the user when it was made.
bool readSymlink(const std::string& path, FileLink* link) {
    HANDLE h = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    std::vector<uint8_t> data(16 * 1024);  // the most a reparse point holds
    DWORD size = 0;
    const bool read = DeviceIoControl(h, FSCTL_GET_REPARSE_POINT, nullptr, 0, data.data(),
                                      static_cast<DWORD>(data.size()), &size, nullptr) != 0;
    const DWORD code = GetLastError();
    CloseHandle(h);
    SetLastError(code);
    if (!read) return false;
    SymlinkReparse head{};
    const std::size_t fixed = offsetof(SymlinkReparse, names);
    if (size < fixed) return true;
    std::memcpy(&head, data.data(), fixed);
    if (head.tag != IO_REPARSE_TAG_SYMLINK) return true;  // another kind: a file as far as we care
    // The name the link was made with, else the one the system resolves.
    WORD offset = head.printLength != 0 ? head.printOffset : head.substituteOffset;
    WORD length = head.printLength != 0 ? head.printLength : head.substituteLength;
    if (fixed + offset + std::size_t{length} > size || length % 2 != 0) return true;
    std::vector<WCHAR> name(length / 2);
    std::memcpy(name.data(), data.data() + fixed + offset, length);
    *link = FileLink{FileLink::Kind::symbolic, headlink::narrowed(std::wstring_view(name.data(), name.size()), CP_UTF8)};
    return true;
}

}  // namespace

bool readLink(const std::string& path, FileLink* link) {
    *link = FileLink{};
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD code = GetLastError();
        return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND;
    }
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return readSymlink(path, link);
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return true;
    HANDLE h = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION info{};
    const bool looked = GetFileInformationByHandle(h, &info) != 0;
    const DWORD code = GetLastError();
    CloseHandle(h);
    SetLastError(code);
    if (looked && info.nNumberOfLinks > 1) *link = FileLink{FileLink::Kind::hard, path};
    return looked;
}

bool linksRefused() {
    const DWORD code = GetLastError();
    return code == ERROR_NOT_SAME_DEVICE || code == ERROR_NOT_SUPPORTED || code == ERROR_INVALID_FUNCTION ||
           code == ERROR_PRIVILEGE_NOT_HELD || code == ERROR_TOO_MANY_LINKS;
}

bool makeLink(const std::string& path, const FileLink& link, bool* exists) {
    bool made = false;
    if (link.kind == FileLink::Kind::hard) {
        made = CreateHardLinkA(path.c_str(), link.target.c_str(), nullptr) != 0;
    } else {
        // Without administrator rights this needs the developer mode's flag.
        const DWORD kUnprivileged = 0x2;  // SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE
        made = CreateSymbolicLinkW(headlink::widened(path, CP_ACP).c_str(), headlink::widened(link.target, CP_UTF8).c_str(),
                                   kUnprivileged) != 0;
        if (!made && GetLastError() == ERROR_INVALID_PARAMETER)  // older systems know no such flag
            made = CreateSymbolicLinkW(headlink::widened(path, CP_ACP).c_str(), headlink::widened(link.target, CP_UTF8).c_str(), 0) != 0;
    }
    const DWORD code = GetLastError();
    *exists = !made && (code == ERROR_ALREADY_EXISTS || code == ERROR_FILE_EXISTS);
    return made;
}

bool identityOf(const std::string& path, FileIdentity* id, bool* exists) {
    HANDLE h = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        *exists = false;
        return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    const bool looked = GetFileInformationByHandle(h, &info) != 0;
    const DWORD code = GetLastError();
    CloseHandle(h);
    SetLastError(code);
    *id = {info.dwVolumeSerialNumber, (uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow};
    return looked;
}

Result whyHeld(const std::string& path) {
    const auto held = [&](std::string why) { return Result::failure(Status::cannotWrite, std::move(why), path); };
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return {};
    if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) return held("it is read-only (clear Read-only in its Properties)");
    // Opened to be moved, sharing all but that: a program that has it open
    // without letting it be moved or deleted (the running game) refuses.
    HANDLE h = CreateFileA(path.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                           FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
        CloseHandle(h);
        return {};
    }
    return GetLastError() == ERROR_SHARING_VIOLATION ? held("another program has it open") : Result{};
}

Result whyUnwritable(const std::string& folder) {
    // Only a folder: anything else in its place is said where it is used.
    const DWORD attributes = GetFileAttributesA(folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) return {};
    // Opened for adding files and folders, which is what its permissions
    // (and a user without administrator rights under Program Files) refuse.
    HANDLE h = CreateFileA(folder.c_str(), FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
        CloseHandle(h);
        return {};
    }
    const DWORD error = GetLastError();
    const auto refused = [&](std::string why) { return Result::failure(Status::cannotWrite, std::move(why), folder); };
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return {};
    if (error == ERROR_WRITE_PROTECT) return refused("its drive is write-protected");
    if (error != ERROR_ACCESS_DENIED) return refused(windowsErrorText(error));
    std::string lower = folder;
    for (char& c : lower) c = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    return refused(std::string("this user may not write there: run headlink as administrator (right-click it, then "
                               "Run as administrator), or ") +
                   (lower.find("program files") != std::string::npos ? "move the game out of Program Files"
                                                                      : "change the folder's permissions"));
}

// NTFS, FAT's long names and exFAT all allow 255 UTF-16 units.
std::size_t longestName(const std::string&) { return 255; }

// On Windows a folder cannot be locked: the lock file is all there is.
LockState lockFolder(const std::string&, bool, Handle* h) {
    *h = kNoHandle;
    return LockState::held;
}

void unlockFolder(Handle) {}

namespace {

bool sameFile(HANDLE a, HANDLE b) {
    BY_HANDLE_FILE_INFORMATION x{}, y{};
    return GetFileInformationByHandle(a, &x) && GetFileInformationByHandle(b, &y) &&
           x.dwVolumeSerialNumber == y.dwVolumeSerialNumber && x.nFileIndexHigh == y.nFileIndexHigh &&
           x.nFileIndexLow == y.nFileIndexLow;
}

bool lockByte(HANDLE h, bool exclusive) {
    OVERLAPPED at{};
    return LockFileEx(h, (exclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0) | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at) != 0;
}

}  // namespace

// Everyone opens the lock file sharing everything, so that only the byte
// lock decides. A file being deleted by the writer that let it go cannot
// be opened for a moment (a sharing violation or access denied): try
// again. So does a lock file of an earlier headlink, opened without sharing.
LockState lockFile(const std::string& path, bool exclusive, Handle* h) {
    *h = kNoHandle;
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    DWORD code = ERROR_SHARING_VIOLATION;
    for (int tries = 0; tries < 40; ++tries) {
        if (tries > 0) Sleep(25);
        HANDLE f = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, share, nullptr, OPEN_ALWAYS,
                               FILE_ATTRIBUTE_HIDDEN, nullptr);
        if (f == INVALID_HANDLE_VALUE && !exclusive && GetLastError() == ERROR_ACCESS_DENIED)
            f = CreateFileA(path.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, 0, nullptr);
        if (f == INVALID_HANDLE_VALUE) {
            code = GetLastError();
            if (!exclusive && (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND)) return LockState::held;
            if (code == ERROR_SHARING_VIOLATION || code == ERROR_ACCESS_DENIED) continue;
            break;
        }
        if (!lockByte(f, exclusive)) {
            code = GetLastError();
            LockState state = code == ERROR_LOCK_VIOLATION || code == ERROR_IO_PENDING ? LockState::busy
                              : code == ERROR_NOT_SUPPORTED || code == ERROR_INVALID_FUNCTION ? LockState::unsupported
                                                                                              : LockState::failed;
            if (state == LockState::busy && exclusive && lockByte(f, false)) state = LockState::reading;
            CloseHandle(f);
            SetLastError(code);
            return state;
        }
        // The writer that held it may have removed it just before: the
        // lock must be on the file that has the name now.
        HANDLE now = CreateFileA(path.c_str(), 0, share, nullptr, OPEN_EXISTING, 0, nullptr);
        const bool same = now != INVALID_HANDLE_VALUE && sameFile(f, now);
        if (now != INVALID_HANDLE_VALUE) CloseHandle(now);
        if (same) {
            *h = reinterpret_cast<Handle>(f);
            return LockState::held;
        }
        CloseHandle(f);
        code = ERROR_SHARING_VIOLATION;
    }
    SetLastError(code);
    // A reader that cannot open it holds nothing, and checks afterwards.
    if (!exclusive) return LockState::held;
    return code == ERROR_SHARING_VIOLATION ? LockState::busy : LockState::failed;
}

void unlockFile(Handle h, const std::string&) {
    // The last to let go deletes it as its handle closes, holding it alone.
    HANDLE f = handleOf(h);
    OVERLAPPED at{};
    UnlockFileEx(f, 0, 1, 0, &at);
    FILE_DISPOSITION_INFO gone{TRUE};
    if (lockByte(f, true)) SetFileInformationByHandle(f, FileDispositionInfo, &gone, sizeof gone);
    CloseHandle(f);
}

}  // namespace headlink::platform

namespace headlink {

std::wstring widened(std::string_view text, unsigned codePage) {
    const int length = static_cast<int>(text.size());
    const int n = MultiByteToWideChar(codePage, 0, text.data(), length, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0) MultiByteToWideChar(codePage, 0, text.data(), length, wide.data(), n);
    return wide;
}

std::string narrowed(std::wstring_view text, unsigned codePage) {
    const int length = static_cast<int>(text.size());
    const int n = WideCharToMultiByte(codePage, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
    if (n > 0) WideCharToMultiByte(codePage, 0, text.data(), length, out.data(), n, nullptr, nullptr);
    return out;
}

}  // namespace headlink
