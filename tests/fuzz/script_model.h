// A small reference reader of patch scripts, following the rules the
// README gives users, for the fuzz targets to hold headlink against. It
// works on a plain model of a table (grid and pool), so that a whole run
// can be predicted script after script.
#pragma once

#include <algorithm>
#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <vector>

#include "table/table.h"
#include "tests/fuzz/fuzz_support.h"

namespace fuzz {

// A table as the scripts see it: its size, every grid entry row by row,
// and its pool.
struct TableModel {
    int32_t rows = 0;
    int32_t columns = 0;
    std::vector<uint16_t> grid;
    PoolModel pool;
};

inline TableModel modelOf(const headlink::Table& t) { return {t.rowCount(), t.columnCount(), gridOf(t), {t.pool()}}; }

inline bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

struct Token {
    std::string text;
    int line;  // 1-based
};

// A script saved as UTF-16: a byte-order mark either way, or text whose
// first (up to) eight byte pairs each hold one NUL, always the second byte
// or always the first.
inline bool savedAsUtf16(const std::string& text) {
    if (startsWith(text, "\xFF\xFE") || startsWith(text, "\xFE\xFF")) return true;
    const std::size_t pairs = std::min<std::size_t>(text.size() / 2, 8);
    bool little = pairs > 0, big = pairs > 0;
    for (std::size_t i = 0; i < pairs; ++i) {
        little = little && text[2 * i] != 0 && text[2 * i + 1] == 0;
        big = big && text[2 * i] == 0 && text[2 * i + 1] != 0;
    }
    return little || big;
}

// The script's tokens (and whether it starts with a byte-order mark or is
// saved as UTF-16, which refuses it): it ends at the first 0x1A, and the six white-space
// bytes separate tokens. Lines end at LF (a CR LF pair is one line break, a
// lone CR none), so CR needs no care here beyond being a space.
inline std::vector<Token> tokensOf(std::span<const uint8_t> script, bool* bom) {
    std::string text(script.begin(), std::find(script.begin(), script.end(), uint8_t{0x1A}));
    *bom = startsWith(text, "\xEF\xBB\xBF") || savedAsUtf16(text);
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
inline Kind classify(const std::string& token, int64_t* value) {
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
        char c = foldAscii(token[at]);
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
    PoolModel pool;
    std::map<int32_t, std::string> values;  // column -> value the row must read as
};

inline Prediction predict(const TableModel& table, std::span<const uint8_t> script) {
    Prediction p;
    bool bom = false;
    const std::vector<Token> tokens = tokensOf(script, &bom);
    if (tokens.empty() || bom) {
        p.verdict = Prediction::Fails;
        p.line = bom ? 1 : 0;
        return p;
    }
    std::size_t next = 0;
    const int32_t rows = table.rows;
    const int32_t columns = table.columns;
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
    p.grid = table.grid;
    p.pool = table.pool;
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

// The table a successful prediction leaves.
inline TableModel after(const TableModel& table, const Prediction& p) {
    return {p.rows, table.columns, p.grid, p.pool};
}

}  // namespace fuzz
