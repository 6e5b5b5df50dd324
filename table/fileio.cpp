#include "table/fileio.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
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
#include <unistd.h>
#endif

namespace headlink {
namespace fs = std::filesystem;

namespace {

std::string errnoText(int err) { return std::strerror(err); }

// Thin wrappers over the low-level I/O calls, which differ only in spelling
// between the two platforms. Low-level I/O is used because it is the only
// portable way to create a file exclusively (so a temporary never clobbers
// anything) with the permissions a plain create would give.
#ifdef _WIN32
int openExclusive(const std::string& name) {
    return _open(name.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY,
                 _S_IREAD | _S_IWRITE);
}
long long writeSome(int fd, const uint8_t* data, std::size_t size) {
    unsigned chunk = size > (1u << 30) ? (1u << 30) : static_cast<unsigned>(size);
    return _write(fd, data, chunk);
}
int syncFile(int fd) { return _commit(fd); }
int closeFile(int fd) { return _close(fd); }
int processId() { return _getpid(); }

std::string windowsErrorText(DWORD code) {
    switch (code) {
    case ERROR_ACCESS_DENIED: return "Permission denied";
    case ERROR_SHARING_VIOLATION: return "the file is open in another program";
    case ERROR_LOCK_VIOLATION: return "the file is locked by another program";
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: return "No space left on device";
    default: return "Windows error " + std::to_string(code);
    }
}

bool replaceFile(const std::string& from, const std::string& to, std::string* why) {
    // MoveFileEx with REPLACE_EXISTING is the Windows counterpart of an
    // atomic rename over an existing file.
    if (MoveFileExA(from.c_str(), to.c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    *why = "cannot replace: " + windowsErrorText(GetLastError());
    return false;
}
#else
int openExclusive(const std::string& name) {
    // 0666: the umask then gives exactly the mode of a plain create.
    return ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
}
long long writeSome(int fd, const uint8_t* data, std::size_t size) {
    return ::write(fd, data, size);
}
int syncFile(int fd) { return ::fsync(fd); }
int closeFile(int fd) { return ::close(fd); }
int processId() { return static_cast<int>(::getpid()); }

bool replaceFile(const std::string& from, const std::string& to, std::string* why) {
    if (std::rename(from.c_str(), to.c_str()) == 0) return true;
    *why = "cannot replace: " + errnoText(errno);
    return false;
}
#endif

bool writeAll(int fd, std::span<const uint8_t> bytes, std::string* why) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        long long n = writeSome(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            *why = "cannot write: " + (n < 0 ? errnoText(errno) : std::string("nothing was written"));
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

FileBytes readFile(const std::string& name) {
    FileBytes result;
    std::error_code ec;
    fs::file_status status = fs::status(name, ec);
    if (fs::is_directory(status)) {
        result.error = "cannot open: it is a folder, not a file";
        return result;
    }
    // Opening a pipe or a device could block or never end.
    if (fs::exists(status) && !fs::is_regular_file(status)) {
        result.error = "cannot open: not a regular file";
        return result;
    }
    std::FILE* file = std::fopen(name.c_str(), "rb");
    if (file == nullptr) {
        result.error = "cannot open: " + errnoText(errno);
        return result;
    }
    uintmax_t size = fs::file_size(name, ec);
    if (ec) {
        std::fclose(file);
        result.error = "cannot read: " + ec.message();
        return result;
    }
    if (size > 0x7FFFFFFF) {
        std::fclose(file);
        result.error = "file is too large (" + std::to_string(size) + " bytes)";
        return result;
    }
    result.bytes.resize(static_cast<std::size_t>(size));
    std::size_t got = std::fread(result.bytes.data(), 1, result.bytes.size(), file);
    bool failed = std::ferror(file) != 0;
    int err = errno;
    std::fclose(file);
    if (failed) {
        result.error = "cannot read: " + errnoText(err);
    } else if (got < result.bytes.size()) {
        result.error = "cannot read: got " + std::to_string(got) + " of " +
                       std::to_string(size) + " bytes";
    }
    if (!result.ok()) result.bytes.clear();
    return result;
}

bool writeFileSafely(const std::string& name, std::span<const uint8_t> bytes,
                     std::string* why) {
    std::string ignored;
    if (why == nullptr) why = &ignored;
    std::error_code ec;
    fs::file_status target = fs::status(name, ec);
    if (fs::is_directory(target)) {
        *why = "cannot write: a folder of this name is in the way";
        return false;
    }
    // A read-only output is the user's way of protecting it; a plain
    // create would fail on it, and so do we.
    if (fs::exists(target) &&
        (target.permissions() & fs::perms::owner_write) == fs::perms::none) {
        *why = "cannot write: the existing file is read-only";
        return false;
    }

    // The temporary lies in the target's own folder so that the final
    // rename never crosses file systems.
    std::string temp;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temp = name + "." + std::to_string(processId()) + "-" +
               std::to_string(attempt) + ".tmp";
        fd = openExclusive(temp);
        if (fd < 0 && errno != EEXIST) break;
    }
    if (fd < 0) {
        *why = "cannot create: " + errnoText(errno);
        return false;
    }

    bool ok = writeAll(fd, bytes, why);
    if (ok && syncFile(fd) != 0) {
        *why = "cannot write: " + errnoText(errno);
        ok = false;
    }
    if (closeFile(fd) != 0 && ok) {
        *why = "cannot write: " + errnoText(errno);
        ok = false;
    }
    if (ok) ok = replaceFile(temp, name, why);
    if (!ok) std::remove(temp.c_str());
    return ok;
}

}  // namespace headlink
