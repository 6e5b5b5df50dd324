#include <algorithm>
#include <new>
#include <string_view>
#include <utility>

#include "patch/patch.h"
#include "patch/tokens.h"
#include "fileio/fileio.h"

namespace headlink {

namespace {

// What a script asks for, read and checked against the table. The
// column/value pairs are not stored: `pairs` is the reader positioned at the
// first of them, so they can be read again, already checked, when applied.
// A script's memory thus stays its own size however many pairs it holds.
struct Plan {
    int32_t templateRow = 0;
    int32_t keyColumn = 0;
    std::string_view keyValue;
    ScriptReader pairs;
};

// One column/value pair and the line it is on.
struct Pair {
    int32_t column = 0;
    std::string_view value;
    int line = 0;
};

std::string tableName(const Table& table) {
    return table.name().empty() ? std::string("the table") : table.name();
}

class PlanReader {
public:
    PlanReader(const Table& table, ScriptReader& in, const std::string& scriptName, ScriptDetails* details)
        : table_(table), in_(in), script_(scriptName), details_(details) {}

    bool read(Plan* plan, Result* why) {
        if (in_.atEnd()) return fail(why, 0, "the script is empty");
        if (in_.text().rfind("\xEF\xBB\xBF", 0) == 0)
            return fail(why, 1, "the script starts with a UTF-8 byte-order mark; "
                                     "save it without one (plain ASCII)");
        const std::string_view text = in_.text();
        if (const std::string_view order = utf16Order({reinterpret_cast<const uint8_t*>(text.data()), text.size()});
            !order.empty())
            return fail(why, 1, "the script is saved as UTF-16 (" + std::string(order) +
                                     "), which some editors call \"Unicode\"; save it as plain text "
                                     "(ASCII, or UTF-8 without a byte-order mark)");
        if (!expectInt(&plan->templateRow, "a template row number", "template row", why)) return false;
        if (plan->templateRow < 0 || plan->templateRow >= table_.rowCount())
            return fail(why, 0, "template row " + std::to_string(plan->templateRow) +
                                 " does not exist (" + tableName(table_) + " has " +
                                 std::to_string(table_.rowCount()) + " rows)");
        if (!expectInt(&plan->keyColumn, "a column number", "key column", why)) return false;
        if (!requireColumn(plan->keyColumn, why)) return false;
        if (!expectValue(plan->keyColumn, &plan->keyValue, why)) return false;
        warnOfKey(plan->keyValue);

        plan->pairs = in_;
        Pair pair, lastKeyPair;
        while (in_.readInt(&pair.column)) {
            warnOfNumber(pair.column, "column", true);
            pair.line = in_.line();
            if (!requireColumn(pair.column, why) || !expectValue(pair.column, &pair.value, why))
                return false;
            if (pair.column == plan->keyColumn) lastKeyPair = pair;
        }
        // Only the key cell's final value matters to the next run.
        if (lastKeyPair.line > 0 && !sameText(lastKeyPair.value, plan->keyValue))
            warn(lastKeyPair.line, "this sets key column " + std::to_string(lastKeyPair.column) + " to " +
                                       quoted(lastKeyPair.value) + ": the next run will not find the row by " +
                                       quoted(plan->keyValue) + " and adds another");
        // The pairs end at the first word that is not a number. A word that
        // starts like one was most likely meant as one.
        const std::string next = in_.atEnd() ? std::string() : in_.peekToken();
        const std::size_t digit = !next.empty() && (next[0] == '+' || next[0] == '-') ? 1 : 0;
        if (digit < next.size() && next[digit] >= '0' && next[digit] <= '9') {
            const bool hexPrefix = next.size() > digit + 1 && next[digit] == '0' &&
                                   (next[digit + 1] == 'x' || next[digit + 1] == 'X');
            warn(in_.line(), quoted(next) + " is not a number" +
                                 (hexPrefix ? " (0x needs a hexadecimal digit after it)" : "") +
                                 ", so the pairs end here and the rest of the script is ignored");
        } else if (!next.empty()) {
            warnOfCutShort();
        }
        return true;
    }

private:
    bool fail(Result* why, int line, std::string reason) const {
        *why = Result::failure(Status::badScript, std::move(reason), script_, line);
        return false;
    }

    void warn(int line, std::string text) {
        if (details_ == nullptr) return;
        auto& warnings = details_->warnings;
        if (warnings.size() < kMaxScriptWarnings) {
            warnings.push_back({script_, line, std::move(text)});
        } else if (warnings.size() == kMaxScriptWarnings) {
            warnings.push_back({script_, 0, kMoreWarnings});
        }
    }

    // A number read from a token that goes on (08, 4x), or written with a
    // leading 0 (octal): both read differently from what most people expect.
    void warnOfNumber(int32_t value, const char* role, bool valueFollows) {
        if (details_ == nullptr) return;
        std::string_view number = in_.lastNumber();
        std::string_view digits = number.substr(number.find_first_not_of("+-"));
        const bool leadingZero = digits[0] == '0' && !(digits.size() > 1 && (digits[1] == 'x' || digits[1] == 'X'));
        const std::string_view rest = in_.restOfToken();
        numberRanOn_ = !rest.empty();
        const std::string reads = std::string(role) + " " + std::to_string(value);
        if (!rest.empty()) {
            const bool octalCut = leadingZero && rest[0] >= '0' && rest[0] <= '9';
            warn(in_.line(), quoted(std::string(number) + std::string(rest)) + " reads as " + reads +
                                 " followed by " + (valueFollows ? "the value " : "") + quoted(rest) +
                                 (octalCut ? "; a leading 0 means octal" : ""));
        } else if (leadingZero && digits.size() > 1 && value != 0) {
            warn(in_.line(), quoted(number) + " is octal and reads as " + reads + " (a leading 0 means octal)");
        }
    }

    // A word where a column number belongs ends the pairs. On the line of
    // the last value, with what reads as more pairs after it on that line or
    // the next ("5 Moon Elf 2 x", or "5 tex ; note" then "9 1.7"), it is a
    // value meant to hold a space or a note in mid-script, and the pairs
    // after it are lost. With nothing after it, a plain word there ("5 Moon
    // Elf") is still most likely the rest of a value. A note on a line of
    // its own after the last pair is how scripts end, and stays quiet, as
    // does one that looks like a note: its first word ends with ':' or
    // starts with a mark ("end: ...", "; ...", "# ...", "// ...").
    void warnOfCutShort() {
        if (details_ == nullptr) return;
        ScriptReader scan = in_;
        scan.atEnd();
        const int wordLine = scan.line();
        if (wordLine != lastValueLine_) return;
        const std::size_t from = scan.position();
        std::string_view token;
        scan.readText(&token);
        const std::string word(in_.text().substr(from, scan.position() - from));
        int numberLine = 0;  // the line of the token before, when it was a number
        int pairsLine = 0;   // where a number is followed by a word on its line
        while (pairsLine == 0 && !scan.atEnd() && scan.line() <= wordLine + 1) {
            const int line = scan.line();
            scan.readText(&token);
            if (numberLine == line) pairsLine = line;
            numberLine = isScriptNumber(token) ? line : 0;
        }
        // A value whose own warning explains the word after it (an opening
        // quote, a column number run into it) needs no second one.
        if (pairsLine == 0 && (!plainWord(word) || lastValueExplained_)) return;
        std::string text = quoted(word) + " is not a column number, so the pairs end here and the rest of the "
                           "script is ignored, from " + quoted(restOfLine(from)) + " on";
        if (pairsLine > wordLine) {
            const std::size_t next = in_.text().find('\n', from) + 1;
            text += ", line " + std::to_string(pairsLine) + " (" + quoted(restOfLine(next)) + ") included";
        }
        warn(wordLine, text + "; a value cannot hold a space");
    }

    // A word that reads as text rather than as the start of a note: it
    // begins with a letter or digit (any byte past ASCII counts as a
    // letter) and does not end with ':'.
    static bool plainWord(std::string_view word) {
        const auto first = static_cast<unsigned char>(word.empty() ? ' ' : word.front());
        const bool alphanumeric = (first >= 'a' && first <= 'z') || (first >= 'A' && first <= 'Z') ||
                                  (first >= '0' && first <= '9') || first >= 0x80;
        return alphanumeric && word.back() != ':';
    }

    // The text from `from` to the end of its line, without the line break.
    std::string_view restOfLine(std::size_t from) const {
        std::string_view rest = in_.text().substr(from);
        rest = rest.substr(0, rest.find('\n'));
        while (!rest.empty() && isScriptSpace(rest.back())) rest.remove_suffix(1);
        return rest;
    }

    static std::string quoteWarning(std::string_view value) {
        const bool before = value.front() == '"';
        const bool after = value.size() > 1 && value.back() == '"';
        const std::string_view inner = value.substr(before ? 1 : 0, value.size() - before - after);
        return "the value " + quoted(inner) + " has a double quote " +
               (before && after ? "on each side" : before ? "before it" : "after it") +
               ", which is stored as part of the text: scripts have no quoting, and a value cannot hold a space";
    }

    void warnOfKey(std::string_view key) {
        if (details_ == nullptr) return;
        details_->keyValue = std::string(key);
        details_->keyLine = in_.line();
        std::string_view first;
        if (table_.pool().empty() || !table_.poolString(0, &first) || !sameText(first, key)) return;
        warn(in_.line(), "the key value " + quoted(key) +
                             " is never found: the table's first text is never matched, so this run adds a row, "
                             "and every later run will add another");
    }

    bool expectInt(int32_t* value, const char* what, const char* role, Result* why) {
        const int previousLine = in_.line();  // where the token before ended
        if (in_.readInt(value)) {
            warnOfNumber(*value, role, false);
            return true;
        }
        if (in_.atEnd())
            return fail(why, previousLine, std::string("expected ") + what + ", found the end of the script");
        return fail(why, in_.line(), std::string("expected ") + what + ", found " + quoted(in_.peekToken()));
    }

    bool requireColumn(int32_t column, Result* why) {
        if (column >= 0 && column < table_.columnCount()) return true;
        return fail(why, in_.line(), "column " + std::to_string(column) +
                             " is out of range (" + tableName(table_) + " has " +
                             std::to_string(table_.columnCount()) + " columns)");
    }

    bool expectValue(int32_t column, std::string_view* value, Result* why) {
        int line = in_.line();
        if (!in_.readText(value))
            return fail(why, line, "column " + std::to_string(column) + " has no value after it");
        lastValueLine_ = in_.line();
        lastValueExplained_ = numberRanOn_ || (!value->empty() && value->front() == '"');
        if (*value == "****")
            warn(in_.line(), "the value \"****\" is stored as those four characters; in binary tables "
                             "an empty cell is an empty text");
        else if (!value->empty() && (value->front() == '"' || value->back() == '"'))
            warn(in_.line(), quoteWarning(*value));
        return true;
    }

    const Table& table_;
    ScriptReader& in_;
    const std::string& script_;
    ScriptDetails* details_;
    int lastValueLine_ = 0;  // the line of the last value read
    bool lastValueExplained_ = false;
    bool numberRanOn_ = false;  // the last number read went on into text
};

}  // namespace

int32_t applyScriptBytes(Table& table, std::span<const uint8_t> script, const std::string& scriptName,
                         Result* result, const ScriptOptions& options, ScriptDetails* details) {
    ScriptReader in(script);
    Plan plan{0, 0, {}, in};
    Result why;
    if (!PlanReader(table, in, scriptName, details).read(&plan, &why)) return report(result, std::move(why), -1);

    // The edits touch one row (found or appended) and may add strings; a
    // limit hit half-way rolls them all back, so the table is never left
    // with a half-edited row.
    Result reason;
    int32_t row = table.findRow(plan.keyValue, plan.keyColumn);
    const Table::Mark before = table.mark(row);
    auto fail = [&](int line, std::string message) {
        table.rollBack(before);
        return report(result, Result::failure(reason.status, std::move(message), scriptName, line), -1);
    };
    try {
        if (details != nullptr) {
            details->templateRow = plan.templateRow;
            details->keyColumn = plan.keyColumn;
            details->added = row < 0;
            if (row >= 0) details->matched = table.cellText(row, plan.keyColumn);
        }
        if (row < 0) {
            row = table.appendRow(plan.templateRow, &reason);
            if (row < 0) return fail(0, "cannot add a row to " + tableName(table) + ": " + reason.reason);
            // The key cell is written only on a new row; a found row already holds it.
            if (table.setCell(row, plan.keyColumn, plan.keyValue, &reason) != 0)
                return fail(0, "cannot set the key value: " + reason.reason);
        }
        // The pairs were all checked when read: each is a column and a value.
        const bool list = details != nullptr && options.listChanges;
        Pair pair;
        while (plan.pairs.readInt(&pair.column)) {
            pair.line = plan.pairs.line();
            plan.pairs.readText(&pair.value);
            const uint16_t was = table.cellOffset(row, pair.column);
            if (table.setCell(row, pair.column, pair.value, &reason) != 0)
                return fail(pair.line, "cannot set column " + std::to_string(pair.column) + ": " + reason.reason);
            if (list)
                details->changes.push_back(
                    {pair.column, plan.pairs.line(), table.cellOffset(row, pair.column), was});
        }
    } catch (const std::bad_alloc&) {
        table.rollBack(before);
        throw;
    }
    table.setLastPatchedRow(static_cast<uint16_t>(row));
    return report(result, Result{}, row);
}

int32_t applyScript(Table& table, const std::string& fileName, Result* result) {
    FileBytes file = readFile(fileName);
    if (!file.ok())
        return report(result,
                      file.result,
                      -1);
    return applyScriptBytes(table, file.bytes, fileName, result);
}

std::string_view utf16Order(std::span<const uint8_t> script) {
    if (script.size() >= 2 && script[0] == 0xFF && script[1] == 0xFE) return "little-endian";
    if (script.size() >= 2 && script[0] == 0xFE && script[1] == 0xFF) return "big-endian";
    const std::size_t pairs = std::min<std::size_t>(script.size() / 2, 8);
    bool little = pairs > 0, big = pairs > 0;
    for (std::size_t i = 0; i < pairs; ++i) {
        const uint8_t a = script[2 * i], b = script[2 * i + 1];
        little = little && a != 0 && b == 0;
        big = big && a == 0 && b != 0;
    }
    return little ? "little-endian" : big ? "big-endian" : "";
}

}  // namespace headlink
