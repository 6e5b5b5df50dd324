// How an operation went, in one shape for every library: a status a caller
// can switch on and a test can compare, where it went wrong (the file, a
// line of it, or a byte offset in it), and a reason for people.
//
//   Result r = readLayout(bytes, &layout);
//   if (!r) print(r.description());   // "heads.2da: malformed: row labels end after 12 of 40 rows"
//
// Operations whose result is a number keep it (a row, or -1; 0 or 1) and
// give the Result beside it through an optional pointer.
#pragma once

#include <cstddef>
#include <string>

namespace headlink {

enum class Status {
    ok,
    notFound,         // no file of that name
    cannotRead,       // a file that could not be opened or read
    cannotWrite,      // an output that could not be written
    malformed,        // a table file that is damaged or not a table
    badScript,        // a script that says what cannot be done
    limit,            // past what the format or the table can hold
    outOfRange,       // a row, column or cell that does not exist
    notEnoughMemory,
    usage,            // a command line that cannot be followed
    warnings,         // warnings where --strict allows none
};

struct [[nodiscard]] Result {
    static constexpr std::size_t kNoOffset = static_cast<std::size_t>(-1);

    Status status = Status::ok;
    std::string file;                 // the file it concerns, or empty
    int line = 0;                     // 1-based, or 0 when no line applies
    std::size_t offset = kNoOffset;   // a byte offset in the file
    std::string reason;               // what went wrong, for people
    // In a run of several heads and scripts: the head (its index in the
    // run's heads) and the script (in kScriptFiles order) it is about, or -1.
    int head = -1;
    int script = -1;

    static Result failure(Status status, std::string reason, std::string file = {}, int line = 0,
                          std::size_t offset = kNoOffset) {
        return Result{status, std::move(file), line, offset, std::move(reason), -1, -1};
    }
    explicit operator bool() const { return status == Status::ok; }
    // "<file>: line <N>: <reason>", each part when there is one.
    std::string description() const {
        std::string text = file.empty() ? std::string() : file + ": ";
        if (line > 0) text += "line " + std::to_string(line) + ": ";
        return text + reason;
    }
};

// A slip that gives a result nobody wants but is no error: the file it is
// in, its line (0 when no line applies) and what it says, and as a Result
// does, the head and script it is about. Every library gives its warnings
// in this shape, and they stay so until printed.
struct Warning {
    std::string file;
    int line = 0;
    std::string text;
    int head = -1;
    int script = -1;
    // "<file>: [line N: ]warning: <text>", with "error:" under --strict.
    std::string describe(bool asError = false) const {
        std::string described = file + ": ";
        if (line > 0) described += "line " + std::to_string(line) + ": ";
        return described + (asError ? "error: " : "warning: ") + text;
    }
};

// Sets *out, when given, to `result`; returns `value`. For operations that
// return a number and give their Result beside it.
template <class T>
T report(Result* out, Result result, T value) {
    if (out != nullptr) *out = std::move(result);
    return value;
}

}  // namespace headlink
