// Whole-file reading and safe writing: the logic every platform shares.
// What differs between POSIX and Windows sits behind fileio/platform.h.
#include "fileio/fileio.h"

#include <algorithm>
#include <atomic>
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
#include <thread>

#include "fileio/names.h"
#include "fileio/platform.h"

// Header-only: nothing to link, on any platform the programs are built for.
#define XXH_INLINE_ALL
#include <xxhash.h>

namespace headlink {
namespace fs = std::filesystem;

namespace {

using platform::errnoText;
using platform::InterruptionsHeld;

constexpr long long kMaxFileBytes = 0x7FFFFFFF;

// The temporaries being written, for the interruption handler: a list
// threaded through records that the writer owns, however many files it
// writes together. The handler may not allocate, so the writer makes each
// record and its name beforehand; a record is linked and unlinked only
// while interruptions are held off (InterruptionsHeld), so the handler
// never removes a file that is not ours: not before our exclusive create
// succeeded, not after the rename made it the output.
struct Temporary {
    std::string path;
    Temporary* next = nullptr;
    bool listed = false;
};
Temporary* volatile gTemporaries = nullptr;

// Both with interruptions held off.
void list(Temporary& temp) {
    temp.next = gTemporaries;
    gTemporaries = &temp;
    temp.listed = true;
}
void unlist(Temporary& temp) {
    if (!temp.listed) return;
    Temporary* volatile* at = &gTemporaries;
    while (*at != &temp) at = &(*at)->next;
    *at = temp.next;
    temp.listed = false;
}

// The temporaries of one write: unlisted however the write ends, even by
// an exception.
class Temporaries {
public:
    explicit Temporaries(std::size_t count) : temps_(count) {}
    ~Temporaries() {
        InterruptionsHeld held;
        for (Temporary& temp : temps_) unlist(temp);
    }
    Temporaries(const Temporaries&) = delete;
    Temporaries& operator=(const Temporaries&) = delete;
    Temporary& operator[](std::size_t i) { return temps_[i]; }
    std::size_t size() const { return temps_.size(); }

private:
    std::vector<Temporary> temps_;  // never resized: the list points into it
};

const char* gLastWords = "not enough memory\n";
int gTerminateStatus = 1;

// Safe in a signal handler: no allocation, no lock.
// The lock file a writer holds, removed with the temporaries on an
// interruption (the lock is still held then); "" for none.
char gHeldLockFile[4096];

void removeTemporariesNow() {
    for (Temporary* temp = gTemporaries; temp != nullptr; temp = temp->next) platform::removeNow(temp->path.c_str());
    if (gHeldLockFile[0] != '\0') platform::removeNow(gHeldLockFile);
}

// What an interruption says on its way out, made whole before it is set.
std::atomic<const char*> gInterruptedLine{nullptr};

void onInterruption() {
    removeTemporariesNow();
    if (const char* line = gInterruptedLine.load()) platform::sayNow(line);
}

Result writeAll(platform::Handle h, std::span<const uint8_t> bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        long long n = platform::writeSome(h, bytes.data() + done, bytes.size() - done);
        if (n <= 0)
            return Result::failure(Status::cannotWrite, "cannot write: " + (n < 0 ? platform::lastErrorText()
                                                                                 : std::string("nothing was written")));
        done += static_cast<std::size_t>(n);
    }
    return {};
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
    bits ^= (platform::processId() << 40) ^ ++counter;
    static const char* hex = "0123456789abcdef";
    std::string tag(16, '0');
    for (char& c : tag) {
        c = hex[bits & 0xF];
        bits >>= 4;
    }
    return tag;
}

// ".headlink-0123456789abcdef.tmp" beside the output: hidden in a listing,
// plainly ours when shown, and as short whatever the output's name, so
// that a name as long as the folder allows still has a temporary.
std::string temporaryName(const std::string& name) {
    std::string file = ".headlink-";  // appended piecewise: GCC 12 warns wrongly on a chain of +
    file += randomTag();
    file += ".tmp";
    return (fs::path(name).parent_path() / file).string();
}

}  // namespace

namespace {

Result cannotRead(const std::string& name, std::string why) {
    return Result::failure(Status::cannotRead, std::move(why), name);
}

Result cannotWrite(const std::string& name, std::string why) {
    return Result::failure(Status::cannotWrite, std::move(why), name);
}

// Reads `size` bytes into `to`, or says why it could not.
Result readAll(int fd, uint8_t* to, std::size_t size, const std::string& name) {
    std::size_t got = 0;
    while (got < size) {
        long long n = platform::readSome(fd, to + got, size - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return cannotRead(name, "cannot read: " + errnoText(errno));
        if (n == 0)
            return cannotRead(name, "cannot read: got " + std::to_string(got) + " of " + std::to_string(size) + " bytes");
        got += static_cast<std::size_t>(n);
    }
    return {};
}

// Opens a regular file to read, and gives its size; -1 with the reason in
// *result otherwise.
int openRegular(const std::string& name, long long* fileSize, FileBytes* result) {
    // Open first, then look at what was opened: a name checked and then
    // opened could be swapped in between for a pipe that blocks forever.
    const int fd = platform::openToRead(name, result);
    if (fd < 0) return -1;
    auto kind = platform::FileKind::other;
    if (!platform::lookAt(fd, &kind, fileSize)) result->result = cannotRead(name, "cannot read: " + errnoText(errno));
    else if (kind == platform::FileKind::folder) result->result = cannotRead(name, "cannot open: it is a folder, not a file");
    else if (kind != platform::FileKind::regular) result->result = cannotRead(name, "cannot open: not a regular file");
    if (result->ok()) return fd;
    platform::closeToRead(fd);
    return -1;
}

}  // namespace

FilePart readFilePart(const std::string& name, uint64_t offset, std::size_t size) {
    FilePart part;
    FileBytes opened;
    long long fileSize = 0;
    const int fd = openRegular(name, &fileSize, &opened);
    part.result = opened.result;
    if (fd < 0) return part;
    part.fileSize = static_cast<uint64_t>(fileSize);
    // Fewer bytes when the file ends first; none past its end.
    const uint64_t available = offset < part.fileSize ? part.fileSize - offset : 0;
    const auto wanted = static_cast<std::size_t>(std::min<uint64_t>(size, available));
    if (wanted > static_cast<std::size_t>(kMaxFileBytes)) {
        part.result = cannotRead(name, "cannot read " + std::to_string(wanted) + " bytes at once");
    } else if (wanted > 0 && !platform::seekTo(fd, static_cast<long long>(offset))) {
        part.result = cannotRead(name, "cannot read: " + errnoText(errno));
    } else {
        void* room = ::operator new(wanted, std::nothrow);
        if (room == nullptr) {
            part.result = Result::failure(Status::notEnoughMemory, kNotEnoughMemory, name);
        } else {
            ::operator delete(room);
            part.bytes.resize(wanted);
            part.result = readAll(fd, part.bytes.data(), wanted, name);
        }
    }
    platform::closeToRead(fd);
    if (!part.ok()) part.bytes = {};
    return part;
}

Result missingFile(const std::string& name) {
    return Result::failure(Status::notFound, "cannot open: " + errnoText(ENOENT), name);
}

FileBytes readFile(const std::string& name) {
    FileBytes result;
    long long fileSize = 0;
    const int fd = openRegular(name, &fileSize, &result);
    if (fd < 0) return result;
    if (fileSize > kMaxFileBytes) {
        result.result = cannotRead(name, "file is too large (" + std::to_string(fileSize) + " bytes)");
        platform::closeToRead(fd);
        return result;
    }
    const auto size = static_cast<std::size_t>(fileSize);
    // Asked for without throwing first: when memory is that short, the
    // exception itself may find no room, and the runtime would abort.
    void* room = ::operator new(size, std::nothrow);
    if (room == nullptr) {
        platform::closeToRead(fd);
        result.result = Result::failure(Status::notEnoughMemory, kNotEnoughMemory, name);
        return result;
    }
    ::operator delete(room);
    try {
        result.bytes.reserve(size);
        result.bytes.resize(size);
    } catch (const std::bad_alloc&) {
        platform::closeToRead(fd);
        result.result = Result::failure(Status::notEnoughMemory, kNotEnoughMemory, name);
        return result;
    }
    result.result = readAll(fd, result.bytes.data(), size, name);
    platform::closeToRead(fd);
    if (!result.ok()) result.bytes.clear();
    return result;
}

namespace {

// Why `name` cannot be replaced, or "" when it can. A read-only output is
// the user's way of protecting it; a plain create would fail on it, and so
// do we (even where the user's rights would let a rename through, as for
// root, or in a folder anyone may write to). A file we cannot even look at
// is not replaced either: its protection cannot be checked.
Result checkTarget(const std::string& name) {
    // A symbolic link is replaced itself, never written through: what it
    // leads to is not ours to judge.
    bool link = false;
    if (platform::isLink(name, &link) && link) return {};
    std::error_code ec;
    const fs::file_status target = fs::status(name, ec);
    if (target.type() == fs::file_type::not_found) return {};
    if (ec) return cannotWrite(name, "cannot write: cannot look at the existing file: " + ec.message());
    if (fs::is_directory(target)) return cannotWrite(name, "cannot write: a folder of this name is in the way");
    if ((target.permissions() & fs::perms::owner_write) == fs::perms::none)
        return cannotWrite(name, "cannot write: the existing file is read-only");
    Result problem = platform::cannotReplace(name);
    if (!problem) problem.reason = "cannot write: " + problem.reason;
    return problem;
}

// Writes `file` to a new temporary beside it, listed in `temp` for the
// interruption handler: every byte, flushed, closed. The temporary stays
// listed, even when a later step fails, until it is renamed or removed.
Result writeTemporary(const FileToWrite& file, Temporary& temp) {
    // The temporary lies in the target's own folder so that the final
    // rename never crosses file systems. A taken name is someone else's
    // file: another name is drawn, and the file left alone.
    platform::Handle h = platform::kNoHandle;
    bool exists = true;
    // A name given by the caller is tried once: it was recorded.
    for (int attempt = 0; attempt < (file.temporary.empty() ? 1000 : 1) && exists; ++attempt) {
        temp.path = file.temporary.empty() ? temporaryName(file.name) : file.temporary;
        InterruptionsHeld held;
        if (file.link.kind != FileLink::Kind::none) {
            if (platform::makeLink(temp.path, file.link, &exists)) {
                list(temp);
                return {};  // a link holds no bytes to flush; its folder is flushed after the renames
            }
            continue;
        }
        h = platform::createExclusive(temp.path, &exists);
        if (h != platform::kNoHandle) list(temp);
    }
    if (h == platform::kNoHandle && file.link.kind != FileLink::Kind::none)
        return cannotWrite(file.name, "cannot make the link: " + platform::lastErrorText());
    if (h == platform::kNoHandle) return cannotWrite(file.name, "cannot create: " + platform::lastErrorText());
    Result written;
    for (std::size_t i = 0; written && i < file.parts.size(); ++i) written = writeAll(h, file.parts[i]);
    if (written && !platform::syncFile(h)) written = cannotWrite(file.name, "cannot write: " + platform::lastErrorText());
    if (!platform::closeFile(h) && written) written = cannotWrite(file.name, "cannot write: " + platform::lastErrorText());
    if (written && !platform::unhide(temp.path))
        written = cannotWrite(file.name, "cannot write: " + platform::lastErrorText());
    return written;
}

// Removes the temporaries still there; a reason for each one that stays,
// naming it so that the user can delete it.
std::string removeTemporaries(Temporaries& temps) {
    std::string left;
    InterruptionsHeld held;
    for (std::size_t i = 0; i < temps.size(); ++i) {
        if (!temps[i].listed) continue;
        if (std::remove(temps[i].path.c_str()) != 0 && errno != ENOENT)
            left += "; the temporary " + temps[i].path + " could not be removed (" + errnoText(errno) + "): delete it";
        unlist(temps[i]);
    }
    return left;
}

}  // namespace

WriteResult writeFilesTogether(std::span<const FileToWrite> files) {
    WriteResult result;
    result.stage = WriteResult::Stage::prepare;
    for (std::size_t i = 0; i < files.size(); ++i)
        if (Result problem = checkTarget(files[i].name); !problem) result.failures.push_back(std::move(problem));
    if (!result.failures.empty()) return result;
    // Worked out now: nothing after the first rename may run out of memory.
    std::vector<std::string> folders;
    for (const FileToWrite& file : files) {
        const fs::path parent = fs::path(file.name).parent_path();
        const std::string folder = parent.empty() ? std::string(".") : parent.string();
        if (std::find(folders.begin(), folders.end(), folder) == folders.end()) folders.push_back(folder);
    }
    result.failures.reserve(1);

    Temporaries temps(files.size());
    for (std::size_t i = 0; i < files.size(); ++i) {
        if (Result why = writeTemporary(files[i], temps[i]); !why) {
            result.failures.push_back(cannotWrite(files[i].name, why.reason + removeTemporaries(temps)));
            return result;
        }
    }

    {
        // Interruptions wait until every rename is done: they would end the
        // program between two of them, leaving a set that does not match.
        InterruptionsHeld held;
        for (; result.replaced < files.size(); ++result.replaced) {
            const std::size_t i = result.replaced;
            if (Result why = platform::replaceFile(temps[i].path, files[i].name); !why) {
                result.stage = WriteResult::Stage::replace;
                result.failures.push_back(cannotWrite(files[i].name, why.reason + removeTemporaries(temps)));
                return result;
            }
            unlist(temps[i]);
        }
    }

    for (std::size_t i = 0; i < folders.size(); ++i) {
        if (Result why = platform::syncFolder(folders[i]); !why) {
            result.stage = WriteResult::Stage::flush;
            result.failures.push_back(cannotWrite({}, why.reason));
            return result;
        }
    }
    result.stage = WriteResult::Stage::done;
    return result;
}

std::vector<std::string> nearMisses(std::string_view wanted, std::span<const std::string> names) {
    const std::string target = foldedCase(wanted);
    std::vector<std::string> found;
    for (const std::string& name : names) {
        const std::string folded = foldedCase(name);
        const bool moreExtensions = folded.size() > target.size() + 1 && folded.compare(0, target.size(), target) == 0 &&
                                    folded[target.size()] == '.';
        if (name != wanted && (folded == target || moreExtensions)) found.push_back(name);
    }
    return found;
}

std::string temporaryNameFor(const std::string& name) { return temporaryName(name); }

namespace {
// A fixed buffer: it must outlive the strings of the step that names it,
// and naming a file must not need memory.
char gWorkingOn[4096];
}  // namespace

void workOn(std::string_view name) {
    const std::size_t size = std::min(name.size(), sizeof gWorkingOn - 1);
    std::memcpy(gWorkingOn, name.data(), size);
    gWorkingOn[size] = '\0';
}

const char* workingOn() { return gWorkingOn; }

namespace {

// The folder holding `path`, for flushing it.
std::string parentOf(const std::string& path) {
    const fs::path parent = fs::path(path).parent_path();
    return parent.empty() ? std::string(".") : parent.string();
}

}  // namespace

Result flushFolder(const std::string& path) { return platform::syncFolder(path); }

Result createFolder(const std::string& path, bool* existed) {
    std::error_code ec;
    const bool made = fs::create_directory(path, ec);
    if (ec) return cannotWrite(path, "cannot create the folder: " + ec.message());
    *existed = !made;
    if (!made && !fs::is_directory(path, ec)) return cannotWrite(path, "cannot create the folder: a file is in the way");
    return made ? flushFolder(parentOf(path)) : Result{};
}

Result removeFile(const std::string& path) {
    std::error_code ec;
    const bool removed = fs::remove(path, ec);
    // A name too long for the folder names nothing there.
    if (ec == std::errc::filename_too_long) return {};
    if (ec) return cannotWrite(path, "cannot remove: " + ec.message());
    return removed ? flushFolder(parentOf(path)) : Result{};
}

Result identityOf(const std::string& path, FileIdentity* id, bool* exists) {
    *id = {};
    *exists = true;
    if (platform::identityOf(path, id, exists)) return {};
    return cannotRead(path, "cannot look at it: " + platform::lastErrorText());
}

Result whyHeld(const std::string& path) { return platform::whyHeld(path); }
Result whyUnwritable(const std::string& folder) { return platform::whyUnwritable(folder); }

std::size_t longestPath() {
#ifdef _WIN32
    return 259;
#else
    return 0;
#endif
}

std::size_t longestNameIn(const std::string& folder) {
    const std::size_t longest = platform::longestName(folder);
    return longest == 0 ? 255 : longest;
}

Result isLink(const std::string& path, bool* link) {
    if (platform::isLink(path, link)) return {};
    return cannotRead(path, "cannot look at it: " + platform::lastErrorText());
}

Result readLink(const std::string& path, FileLink* link) {
    if (platform::readLink(path, link)) return {};
    return cannotRead(path, "cannot look at it: " + platform::lastErrorText());
}

Result makeLink(const std::string& path, const FileLink& link, bool* refused) {
    bool exists = false;
    if (refused != nullptr) *refused = false;
    if (!platform::makeLink(path, link, &exists)) {
        if (refused != nullptr) *refused = platform::linksRefused();
        return cannotWrite(path, "cannot make the link: " + platform::lastErrorText());
    }
    return flushFolder(parentOf(path));
}

Result moveFolder(const std::string& from, const std::string& to) {
    std::error_code ec;
    // Never over an existing folder: POSIX would replace an empty one.
    if (fs::symlink_status(to, ec).type() != fs::file_type::not_found)
        return cannotWrite(to, ec ? "cannot look at it: " + ec.message() : std::string("is in the way"));
    fs::rename(from, to, ec);
    if (ec) return cannotWrite(from, "cannot rename it: " + ec.message());
    if (Result why = flushFolder(parentOf(to)); !why) return why;
    return parentOf(from) == parentOf(to) ? Result{} : flushFolder(parentOf(from));
}

Result removeFolder(const std::string& path) {
    std::error_code ec;
    const bool removed = fs::remove(path, ec);
    if (ec) return cannotWrite(path, "cannot remove the folder: " + ec.message());
    return removed ? flushFolder(parentOf(path)) : Result{};
}

Result writeFileSafely(const std::string& name, std::span<const uint8_t> bytes) {
    const std::span<const uint8_t> parts[] = {bytes};
    return writeFileSafely(name, parts);
}

Result writeFileSafely(const std::string& name, std::span<const std::span<const uint8_t>> parts) {
    const FileToWrite file[] = {{name, parts}};
    const WriteResult written = writeFilesTogether(file);
    if (written.ok()) return {};
    Result failure = written.failures.front();
    if (written.stage == WriteResult::Stage::flush) {
        failure.file = name;
        failure.reason += "; the new file is in place but may not survive a power cut";
    }
    return failure;
}

namespace {

[[noreturn]] void onTerminate() {
    removeTemporariesNow();
    std::fputs(gLastWords, stderr);
    std::_Exit(gTerminateStatus);
}

}  // namespace

Result FolderLock::take(const std::string& folder, bool exclusive, int waitMs, State* state) {
    release();
    lockFile_ = (fs::path(folder) / kLockFileName).string();
    writer_ = exclusive;
    for (int waited = 0;; waited += 50) {
        platform::LockState got = platform::lockFolder(folder, exclusive, &folder_);
        if (got == platform::LockState::held) {
            got = platform::lockFile(lockFile_, exclusive, &file_);
            if (got != platform::LockState::held) release();
        }
        if (got == platform::LockState::held && exclusive && file_ != platform::kNoHandle &&
            lockFile_.size() < sizeof gHeldLockFile) {
            platform::InterruptionsHeld held;
            std::memcpy(gHeldLockFile, lockFile_.c_str(), lockFile_.size() + 1);
        }
        switch (got) {
        case platform::LockState::held: *state = State::held; return {};
        case platform::LockState::unsupported: *state = State::unsupported; return {};
        case platform::LockState::failed:
            return Result::failure(Status::cannotRead, std::string("cannot take the lock ") + kLockFileName + ": " + platform::lastErrorText(), folder);
        case platform::LockState::busy:
        case platform::LockState::reading: break;
        }
        if (waited >= waitMs) {
            *state = got == platform::LockState::reading ? State::reading : State::busy;
            return {};
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

void FolderLock::release() {
    if (writer_ && file_ != platform::kNoHandle) {
        platform::InterruptionsHeld held;
        gHeldLockFile[0] = '\0';
    }
    if (file_ != platform::kNoHandle) platform::unlockFile(file_, lockFile_);
    if (folder_ != platform::kNoHandle) platform::unlockFolder(folder_);
    file_ = folder_ = platform::kNoHandle;
}

void sayOnInterruption(const char* line) { gInterruptedLine.store(line); }

void startProgram(const char* lastWords, int status, bool closedPipeFails) {
    gLastWords = lastWords;
    gTerminateStatus = status;
    std::set_terminate(onTerminate);
    platform::catchInterruptions(onInterruption);
    platform::makeWritesFail(closedPipeFails);
}

std::string checksumOf(std::span<const uint8_t> bytes) {
    // The one-shot call: GCC 12 warns wrongly about the streaming one.
    const XXH128_hash_t hash = XXH3_128bits(bytes.data(), bytes.size());
    char text[33];
    std::snprintf(text, sizeof text, "%016llx%016llx", static_cast<unsigned long long>(hash.high64),
                  static_cast<unsigned long long>(hash.low64));
    return text;
}

}  // namespace headlink
