// Whole-file reading and safe whole-file writing, shared by tables, scripts
// and the programs that work on them.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace headlink {

// The reason given wherever running out of memory ends a step: it is
// reported against the file being worked on, like any other failure.
inline constexpr const char* kNotEnoughMemory = "not enough memory";

// A file's bytes, or why they could not be read ("cannot open: ...").
struct FileBytes {
    std::vector<uint8_t> bytes;
    std::string error;
    bool missing = false;  // the error is that no file of this name exists
    bool ok() const { return error.empty(); }
};

// Reads a whole file, opened by exactly this name (relative names resolve
// against the current directory). Never creates anything, and never blocks
// on a pipe or device: only a regular file is read.
FileBytes readFile(const std::string& name);

// Writes `bytes` to a new temporary file beside `name` and renames it over
// `name` only once every byte was written and the file closed cleanly. On
// failure the temporary is removed, any earlier `name` is left untouched,
// and false is returned with the reason in *why. An existing `name` that the
// user may not write, or that is read-only, is refused.
bool writeFileSafely(const std::string& name, std::span<const uint8_t> bytes,
                     std::string* why);
// The same for a file made of several parts, written one after another, so
// that a caller need not put them together in memory first.
bool writeFileSafely(const std::string& name, std::span<const std::span<const uint8_t>> parts,
                     std::string* why);

// Makes an interruption (SIGINT, SIGTERM, SIGHUP; a console Ctrl-C, break
// or close on Windows) remove the temporary that writeFileSafely is writing
// before the program ends as the interruption would end it. A program calls
// this once at start; signals it was started with ignored stay ignored.
void removeTemporaryOnInterrupt();

}  // namespace headlink
