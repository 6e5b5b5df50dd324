// What each of the page's calls into the engine answers: one JSON document
// (an object), parsed once by the page. The shapes are written here and
// nowhere else; the page reads the same names. Any answer may instead be
// {"error": "why"}, when the call failed (running out of memory, say).
// Texts end at a NUL, as they do everywhere in the tables; bytes that are
// not UTF-8 reach the page as U+FFFD, as a decoder would show them.
//
// Each text is written by nlohmann's serializer; the objects and arrays
// around them are written here as their members come, never held as a
// JSON document first: undoing a document takes memory of its own, and
// running out of memory is one of the things an answer must be able to
// say.
#pragma once

#include <charconv>
#include <cstdint>
#include <optional>
#include <type_traits>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace headlink::page {

// Calls that only take something in: nothing to say.
struct Done {};

// The job's facts, for the page to name and count what the engine knows.
struct Views {
    int outputs = 0, opened = 0, given = 0;  // the first view of each kind
};
struct ExportForm {
    std::string kind, ending;  // "csv", ".csv": what a saved file's name ends in
};
struct Counted {
    std::string inputs, outputs;  // "eight" files of a job, "three" outputs
};
struct Facts {
    std::vector<std::string> inputNames;   // the tables in load order, then the scripts in run order
    std::vector<std::string> tableNames, scriptNames, outputNames;
    std::vector<std::string> titles;       // each table's ("heads")
    std::vector<int> scriptTables;         // the table each script edits, by its index in tableNames
    Views views;
    std::vector<std::string> roles;        // a script word's roles, in the engine's numbering
    std::vector<ExportForm> exports;       // what a table can be saved as, by export kind
    std::string empty;                     // how an empty cell is spelled
    Counted words;                         // counts in words, for sentences
};

// What to read of the files given: each table's path ("" when not given),
// the heads (one named "" without a pack) with each script's path and the
// files they bring.
struct PlannedHead {
    std::string name;
    std::vector<std::string> scripts, files;
};
struct PackPlan {
    std::vector<std::string> tables;
    std::vector<PlannedHead> heads;
    bool pack = false;
};

// An input of the job as the checklist names it: the names given that
// differ from it only in letter case or by more extensions, the hint the
// program would give for them, and where a game folder's table came from.
struct InputState {
    std::string name;
    std::vector<std::string> nearMisses;
    std::string hint;    // "" without near misses
    std::string source;  // "Override/heads.2da", or ""
};
struct Inputs {
    std::vector<InputState> inputs;
};

// A message of a run as printed, with the line (0: none) and the head and
// script (-1: none) it is about.
struct RunMessage {
    std::string text;
    int line = 0;
    bool warning = false;
    int head = -1, script = -1;
};
struct OutputShape {
    int32_t rows = 0, rowsBefore = 0, columns = 0;
};
struct Mark {
    int table = 0;
    int32_t row = 0, column = 0;
    bool link = false;
    int head = 0;
};
struct ChainRow {
    int32_t row = 0;
    std::string label;
};
struct ChainBox {
    std::string title;
    std::vector<ChainRow> rows;
};
// One head's chain of links: from the table no link points into, each
// table's rows in the links to the table they name.
struct Chain {
    std::string head;
    std::vector<ChainBox> boxes;
};
// A run, as `headlink -n` would make it; from the last run that worked,
// the outputs' shapes, the cells it changed and each head's chain.
struct RunAnswer {
    int status = 1;
    bool worked = false;
    int warnings = 0;
    std::string out, err;  // what it printed on standard output (the report) and standard error
    std::vector<std::string> heads;
    std::vector<RunMessage> said;
    std::vector<OutputShape> outputs;
    std::vector<Mark> marks;
    std::vector<Chain> chains;
};

// A window of a view: its shape, and for rows r0..r1 and columns c0..c1
// (as far as the table goes) the labels, each column's link (the script
// whose row it gets, -1 for none) and every cell with its mark (0 none, 1
// set by a script, 2 a link cell) and, when marked, what it was.
struct Cell {
    std::string text;
    int mark = 0;
    std::optional<std::string> was;
};
struct Window {
    int32_t rows = 0, columns = 0, rowsBefore = 0;
    int32_t r0 = 0, r1 = 0, c0 = 0, c1 = 0;
    std::vector<std::string> columnLabels;
    std::vector<int> columnLinks;
    std::vector<std::string> rowLabels;
    std::vector<std::vector<Cell>> cells;
};

// Bytes the engine made (an output, an export): where they lie in its
// memory and how many, valid until the next call.
struct Bytes {
    uintptr_t at = 0;
    std::size_t size = 0;
};

// The word at a place in a script: its role (an index into Facts::roles),
// its bytes, and its number as a run reads it (null when none); or no
// word at all ("word": null).
struct Word {
    int role = 0;
    std::size_t begin = 0, end = 0;
    std::optional<int32_t> number;
};
struct WordAnswer {
    std::optional<Word> word;
};

// What a round of reading a game folder still needs: slices of its files
// (a size of -1: the file's size) and, in words, what it reads; none when
// the tables are read.
struct Need {
    std::string path;
    uint64_t offset = 0;
    long long size = 0;
};
struct GameRead {
    std::vector<Need> needs;
    std::string reading;  // "Reading the game folder X: its key file and its texture packs..."
};

// A table opened on its own: whether it loads, and `twoda check`'s verdict.
struct Opened {
    bool loaded = false;
    std::string check;
};

// How a script's bytes are encoded, as a run tells it: "utf-16le",
// "utf-16be", or "" for the 8-bit encodings the page edits.
struct ScriptForm {
    std::string utf16;
};

struct Sentence {
    std::string sentence;
};

// The values an answer is made of, as JSON text appended to `out`.
inline void write(std::string& out, const std::string& text) {
    out += nlohmann::json(text).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}
inline void write(std::string& out, bool value) { out += value ? "true" : "false"; }
template <class Number>
    requires std::is_integral_v<Number>
inline void write(std::string& out, Number value) {
    char digits[32];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    out.append(digits, end);
}
template <class T>
void write(std::string& out, const std::optional<T>& value) {
    if (value) write(out, *value);
    else out += "null";
}
template <class T>
void write(std::string& out, const std::vector<T>& items) {
    out += '[';
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (i > 0) out += ',';
        write(out, items[i]);
    }
    out += ']';
}
inline void write(std::string& out, const Done&) { out += "{}"; }

// An object of `Type`'s members, each under its own name.
#define HEADLINK_MEMBER(member)                 \
    out += first ? "{\"" : ",\"";               \
    first = false;                              \
    out += #member "\":";                       \
    write(out, answer.member);
#define HEADLINK_ANSWER(Type, ...)                                           \
    inline void write(std::string& out, const Type& answer) {                \
        bool first = true;                                                   \
        NLOHMANN_JSON_EXPAND(NLOHMANN_JSON_PASTE(HEADLINK_MEMBER, __VA_ARGS__)) \
        out += '}';                                                          \
    }

HEADLINK_ANSWER(Views, outputs, opened, given)
HEADLINK_ANSWER(ExportForm, kind, ending)
HEADLINK_ANSWER(Counted, inputs, outputs)
HEADLINK_ANSWER(Facts, inputNames, tableNames, scriptNames, outputNames, titles, scriptTables, views, roles, exports,
                empty, words)
HEADLINK_ANSWER(PlannedHead, name, scripts, files)
HEADLINK_ANSWER(PackPlan, tables, heads, pack)
HEADLINK_ANSWER(InputState, name, nearMisses, hint, source)
HEADLINK_ANSWER(Inputs, inputs)
HEADLINK_ANSWER(RunMessage, text, line, warning, head, script)
HEADLINK_ANSWER(OutputShape, rows, rowsBefore, columns)
HEADLINK_ANSWER(Mark, table, row, column, link, head)
HEADLINK_ANSWER(ChainRow, row, label)
HEADLINK_ANSWER(ChainBox, title, rows)
HEADLINK_ANSWER(Chain, head, boxes)
HEADLINK_ANSWER(RunAnswer, status, worked, warnings, out, err, heads, said, outputs, marks, chains)
HEADLINK_ANSWER(Cell, text, mark, was)
HEADLINK_ANSWER(Window, rows, columns, rowsBefore, r0, r1, c0, c1, columnLabels, columnLinks, rowLabels, cells)
HEADLINK_ANSWER(Bytes, at, size)
HEADLINK_ANSWER(Word, role, begin, end, number)
HEADLINK_ANSWER(WordAnswer, word)
HEADLINK_ANSWER(Need, path, offset, size)
HEADLINK_ANSWER(GameRead, needs, reading)
HEADLINK_ANSWER(Opened, loaded, check)
HEADLINK_ANSWER(ScriptForm, utf16)
HEADLINK_ANSWER(Sentence, sentence)

#undef HEADLINK_ANSWER
#undef HEADLINK_MEMBER

}  // namespace headlink::page
