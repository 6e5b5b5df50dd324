// Fuzz target: applying a patch script to a loaded table.
//
// Input: a 4-byte little-endian table length, that many bytes of table (fewer
// if the input is shorter), then the script.
//
// Every script is held to these properties: a failed script names itself and
// leaves the table byte for byte as it was; a successful one reports a row
// that exists, adds at most that one row, leaves every other row and the
// loaded pool alone, and the written table loads again.
//
// Scripts whose numbers are all plain whole tokens (which is what users
// write) are also read by a small reference reader here, which follows the
// rules in the README: it predicts whether the script fails and, if not, the
// row, every grid entry and the pool. The reported row must then hold the
// script's values (the last one given for a column wins; a found row keeps
// its key cell, which points at the table's first copy of the key).
#include <algorithm>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "patch/patch.h"
#include "table/table.h"
#include "tests/fuzz/fuzz_support.h"

using fuzz::check;

namespace {

const std::string kScriptName = "fuzz.txt";

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

struct Token {
    std::string text;
    int line;  // 1-based
};

// The script's tokens: it ends at the first 0x1A, and the six white-space
// bytes separate tokens. Lines end at LF (a CR LF pair is one line break, a
// lone CR none), so CR needs no care here beyond being a space.
std::vector<Token> tokensOf(std::span<const uint8_t> script, bool* bom) {
    std::string text(script.begin(), std::find(script.begin(), script.end(), uint8_t{0x1A}));
    *bom = fuzz::startsWith(text, "\xEF\xBB\xBF");
    std::vector<Token> tokens;
    std::size_t at = 0;
    int line = 1;
    while (at < text.size()) {
        for (; at < text.size() && isSpace(text[at]); ++at)
            if (text[at] == '\n') ++line;
        std::size_t end = at;
        while (end < text.size() && !isSpace(text[end])) ++end;
        if (end > at) tokens.push_back({text.substr(at, end - at), line});
        at = end;
    }
    return tokens;
}

enum class Kind { Number, Word, Unclear };

// How a token in a number's place reads. A token that cannot begin a number
// (no digit after an optional sign) is a word; a whole token that is a
// decimal, 0-prefixed octal or 0x-prefixed hex number of at most 15 bytes is
// a number. Anything else (a number running into other bytes, "08", a very
// long number) is left to the weaker checks.
Kind classify(const std::string& token, int64_t* value) {
    std::size_t at = 0;
    bool negative = false;
    if (token[0] == '+' || token[0] == '-') negative = token[at++] == '-';
    if (at == token.size() || token[at] < '0' || token[at] > '9') return Kind::Word;
    if (token.size() > 15) return Kind::Unclear;
    int base = 10;
    if (token[at] == '0') {
        base = 8;
        ++at;
        if (at < token.size() && (token[at] == 'x' || token[at] == 'X')) {
            base = 16;
            if (++at == token.size()) return Kind::Unclear;
        }
    }
    int64_t v = 0;
    for (; at < token.size(); ++at) {
        char c = fuzz::foldAscii(token[at]);
        int d = (c >= '0' && c <= '9') ? c - '0' : (c >= 'a' && c <= 'f') ? c - 'a' + 10 : 99;
        if (d >= base) return Kind::Unclear;
        v = v * base + d;
    }
    *value = negative ? -v : v;
    return Kind::Number;
}

// What the reference reader predicts.
struct Prediction {
    enum { Unknown, Fails, Succeeds } verdict = Unknown;
    int line = 0;  // for a failure: the line its message names, 0 for none
    int32_t row = 0;
    int32_t rows = 0;
    std::vector<uint16_t> grid;
    fuzz::PoolModel pool;
    std::map<int32_t, std::string> values;  // column -> value the row must read as
};

Prediction predict(const headlink::Table& table, std::span<const uint8_t> script) {
    Prediction p;
    bool bom = false;
    const std::vector<Token> tokens = tokensOf(script, &bom);
    if (tokens.empty() || bom) {
        p.verdict = Prediction::Fails;
        p.line = bom ? 1 : 0;
        return p;
    }
    std::size_t next = 0;
    const int32_t rows = table.rowCount();
    const int32_t columns = table.columnCount();
    // A failure found while reading names the line of the token at fault,
    // or of the last token when the script ends too early.
    auto failAt = [&](std::size_t token) {
        p.verdict = Prediction::Fails;
        p.line = tokens[std::min(token, tokens.size() - 1)].line;
        return false;
    };
    // Reads a number in range [0, limit); sets the verdict when the script
    // fails here or cannot be predicted. A template row out of range is
    // reported without a line.
    auto number = [&](int32_t limit, int32_t* out, bool lineIfOutOfRange = true) {
        int64_t v = 0;
        Kind kind = next < tokens.size() ? classify(tokens[next].text, &v) : Kind::Word;
        if (kind == Kind::Unclear) return false;
        if (kind == Kind::Word) return failAt(next);
        if (v < 0 || v >= limit) {
            failAt(next);
            if (!lineIfOutOfRange) p.line = 0;
            return false;
        }
        ++next;
        *out = static_cast<int32_t>(v);
        return true;
    };
    auto value = [&](std::string* out) {
        if (next == tokens.size()) return failAt(next);
        const std::string& t = tokens[next++].text;
        *out = t.substr(0, t.find('\0'));
        return true;
    };

    int32_t templateRow = 0, keyColumn = 0;
    std::string key;
    if (!number(rows, &templateRow, false) || !number(columns, &keyColumn) || !value(&key)) return p;
    struct Pair {
        int32_t column;
        std::string value;
        int line;
    };
    std::vector<Pair> pairs;
    while (next < tokens.size()) {
        int64_t v = 0;
        Kind kind = classify(tokens[next].text, &v);
        if (kind == Kind::Word) break;  // the pairs end; the rest is a note
        Pair pair{0, {}, tokens[next].line};
        if (!number(columns, &pair.column) || !value(&pair.value)) return p;
        pairs.push_back(pair);
    }

    // The edits, on a model of the grid and pool.
    p.grid = fuzz::gridOf(table);
    p.pool.bytes = table.pool();
    p.rows = rows;
    const auto width = static_cast<std::size_t>(columns);
    auto cell = [&](int32_t r, int32_t c) -> uint16_t& {
        return p.grid[static_cast<std::size_t>(r) * width + static_cast<std::size_t>(c)];
    };
    auto set = [&](int32_t c, const std::string& v) {
        int32_t offset = p.pool.place(v);
        if (offset < 0) return false;
        cell(p.row, c) = static_cast<uint16_t>(offset);
        p.values[c] = v;
        return true;
    };
    p.verdict = Prediction::Fails;
    p.row = -1;
    if (uint16_t k = p.pool.find(key); k != 0)
        for (int32_t r = 0; r < rows && p.row < 0; ++r)
            if (cell(r, keyColumn) == k) p.row = r;
    if (p.row < 0) {
        if (rows >= 65535) return p;
        p.row = p.rows++;
        for (std::size_t c = 0; c < width; ++c)
            p.grid.push_back(p.grid[static_cast<std::size_t>(templateRow) * width + c]);
        if (!set(keyColumn, key)) return p;
    }
    for (const Pair& pair : pairs) {
        if (!set(pair.column, pair.value)) {
            p.line = pair.line;
            return p;
        }
    }
    p.verdict = Prediction::Succeeds;
    return p;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (size < 4) return 0;
    const uint32_t declared = uint32_t{data[0]} | (uint32_t{data[1]} << 8) | (uint32_t{data[2]} << 16) |
                              (uint32_t{data[3]} << 24);
    const std::size_t tableSize = std::min<std::size_t>(declared, size - 4);
    std::span<const uint8_t> tableBytes(data + 4, tableSize);
    std::span<const uint8_t> script(data + 4 + tableSize, size - 4 - tableSize);

    headlink::Table table;
    if (table.loadBytes(tableBytes, "fuzz.2da") != 0) return 0;
    const headlink::Table loaded = table;
    const std::vector<uint8_t> before = table.bytes();
    const Prediction expected = predict(loaded, script);

    std::string why;
    const int32_t row = headlink::applyScriptBytes(table, script, kScriptName, &why);
    if (row < 0) {
        check(row == -1, "a failed script returned ", row);
        check(table.bytes() == before, "a failed script changed the table");
        check(fuzz::startsWith(why, kScriptName + ": ") && why.size() > kScriptName.size() + 2,
              "a failure message does not name the script: ", why);
        check(expected.verdict != Prediction::Succeeds,
              "the script failed, but the README's rules say it succeeds on row ", expected.row, ": ", why);
        const std::string line = kScriptName + ": line " + std::to_string(expected.line) + ": ";
        check(expected.verdict != Prediction::Fails || expected.line == 0 || fuzz::startsWith(why, line),
              "the failure should be reported on line ", expected.line, ": ", why);
        return 0;
    }
    check(expected.verdict != Prediction::Fails,
          "the script succeeded on row ", row, ", but the README's rules say it fails");
    check(table.lastPatchedRow() == row, "lastPatchedRow differs from the reported row");

    const std::vector<uint8_t> written = table.bytes();
    headlink::Table again;
    check(again.loadBytes(written, "again.2da", &why) == 0, "the patched table does not load again: ", why);
    const int32_t rows = again.rowCount();
    const bool appended = rows == loaded.rowCount() + 1;
    check(rows == loaded.rowCount() || appended, "a script added more than one row");
    check(appended ? row == loaded.rowCount() : row < rows,
          "reported row ", row, " is not the row the script used");
    check(again.columnCount() == loaded.columnCount(), "the column count changed");
    check(fuzz::isPrefix(loaded.pool(), again.pool()), "the loaded pool was changed, not appended to");
    check(again.headerBlock() == fuzz::expectedHeader(loaded, rows),
          "the header is not the loaded one with the new count and row label");
    for (int32_t r = 0; r < loaded.rowCount(); ++r)
        for (int32_t c = 0; c < loaded.columnCount() && r != row; ++c)
            check(again.cellOffset(r, c) == loaded.cellOffset(r, c),
                  "row ", r, ", which the script did not use, changed");
    // Each cell of the used row either holds an entry carried over from a
    // loaded row (which may point into the middle of a string), or points at
    // the start of a pool string.
    const std::vector<uint8_t>& pool = again.pool();
    for (int32_t c = 0; c < again.columnCount(); ++c) {
        const uint16_t offset = again.cellOffset(row, c);
        bool carried = false;
        for (int32_t r = 0; r < loaded.rowCount() && !carried; ++r)
            carried = loaded.cellOffset(r, c) == offset;
        check(carried || (offset < pool.size() && (offset == 0 || pool[offset - 1u] == 0)),
              "column ", c, " of the used row points inside a string or past the pool");
    }

    if (expected.verdict != Prediction::Succeeds) return 0;
    check(row == expected.row, "the script used row ", row, ", the README's rules say ", expected.row);
    check(rows == expected.rows, "the patched table has the wrong row count");
    for (const auto& [c, v] : expected.values)
        check(fuzz::sameIgnoringAsciiCase(fuzz::cellText(again, row, c), v),
              "column ", c, " of the reported row does not hold the script's value");
    check(fuzz::gridOf(again) == expected.grid, "the grid differs from the reference");
    check(again.pool() == expected.pool.bytes, "the pool differs from the reference");
    return 0;
}
