#include <string_view>
#include <utility>

#include "patch/patch.h"
#include "patch/tokens.h"
#include "table/fileio.h"

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

// A token shown in a message: quoted, at most 40 bytes, with bytes that
// would garble a console shown as \xNN.
std::string quoted(std::string_view token) {
    static const char* hex = "0123456789ABCDEF";
    std::string out = "\"";
    for (std::size_t i = 0; i < token.size() && i < 40; ++i) {
        auto c = static_cast<unsigned char>(token[i]);
        if (c >= 0x20 && c < 0x7F && c != '"' && c != '\\') {
            out += static_cast<char>(c);
        } else {
            out += "\\x";
            out += hex[c >> 4];
            out += hex[c & 0xF];
        }
    }
    if (token.size() > 40) out += "...";
    return out + "\"";
}

std::string tableName(const Table& table) {
    return table.name().empty() ? std::string("the table") : table.name();
}

class PlanReader {
public:
    PlanReader(const Table& table, ScriptReader& in, const std::string& scriptName)
        : table_(table), in_(in), script_(scriptName) {}

    bool read(Plan* plan, std::string* why) {
        if (in_.atEnd()) return fail(why, script_ + ": the script is empty");
        if (in_.text().rfind("\xEF\xBB\xBF", 0) == 0)
            return fail(why, at(1) + "the script starts with a UTF-8 byte-order mark; "
                                     "save it without one (plain ASCII)");
        if (!expectInt(&plan->templateRow, "a template row number", why)) return false;
        if (plan->templateRow < 0 || plan->templateRow >= table_.rowCount())
            return fail(why, script_ + ": template row " + std::to_string(plan->templateRow) +
                                 " does not exist (" + tableName(table_) + " has " +
                                 std::to_string(table_.rowCount()) + " rows)");
        if (!expectInt(&plan->keyColumn, "a column number", why)) return false;
        if (!checkColumn(plan->keyColumn, why)) return false;
        if (!expectValue(plan->keyColumn, &plan->keyValue, why)) return false;

        plan->pairs = in_;
        Pair pair;
        while (in_.readInt(&pair.column)) {
            if (!checkColumn(pair.column, why) || !expectValue(pair.column, &pair.value, why))
                return false;
        }
        return true;
    }

private:
    std::string at(int line) const { return script_ + ": line " + std::to_string(line) + ": "; }

    static bool fail(std::string* why, const std::string& reason) {
        *why = reason;
        return false;
    }

    bool expectInt(int32_t* value, const char* what, std::string* why) {
        const int previousLine = in_.line();  // where the token before ended
        if (in_.readInt(value)) return true;
        if (in_.atEnd())
            return fail(why, at(previousLine) + "expected " + what + ", found the end of the script");
        return fail(why, at(in_.line()) + "expected " + what + ", found " + quoted(in_.peekToken()));
    }

    bool checkColumn(int32_t column, std::string* why) {
        if (column >= 0 && column < table_.columnCount()) return true;
        return fail(why, at(in_.line()) + "column " + std::to_string(column) +
                             " is out of range (" + tableName(table_) + " has " +
                             std::to_string(table_.columnCount()) + " columns)");
    }

    bool expectValue(int32_t column, std::string_view* value, std::string* why) {
        int line = in_.line();
        if (in_.readText(value)) return true;
        return fail(why, at(line) + "column " + std::to_string(column) +
                             " has no value after it");
    }

    const Table& table_;
    ScriptReader& in_;
    const std::string& script_;
};

}  // namespace

int32_t applyScriptBytes(Table& table, std::span<const uint8_t> script,
                         const std::string& scriptName, std::string* why) {
    std::string ignored;
    if (why == nullptr) why = &ignored;
    ScriptReader in(script);
    Plan plan{0, 0, {}, in};
    if (!PlanReader(table, in, scriptName).read(&plan, why)) return -1;

    // Edits go to a copy that replaces the table only when every edit
    // worked, so a limit hit half-way cannot leave a half-edited row.
    Table edited = table;
    std::string reason;
    int32_t row = edited.findRow(plan.keyValue, plan.keyColumn);
    if (row < 0) {
        row = edited.appendRow(plan.templateRow, &reason);
        if (row < 0) {
            *why = scriptName + ": cannot add a row to " + tableName(table) + ": " + reason;
            return -1;
        }
        // The key cell is written only on a new row; a found row already holds it.
        if (edited.setCell(row, plan.keyColumn, plan.keyValue, &reason) != 0) {
            *why = scriptName + ": cannot set the key value: " + reason;
            return -1;
        }
    }
    // The pairs were all checked when read: each is a column and a value.
    Pair pair;
    while (plan.pairs.readInt(&pair.column)) {
        pair.line = plan.pairs.line();
        plan.pairs.readText(&pair.value);
        if (edited.setCell(row, pair.column, pair.value, &reason) != 0) {
            *why = scriptName + ": line " + std::to_string(pair.line) + ": cannot set column " +
                   std::to_string(pair.column) + ": " + reason;
            return -1;
        }
    }
    edited.setLastPatchedRow(static_cast<uint16_t>(row));
    table = std::move(edited);
    return row;
}

int32_t applyScript(Table& table, const std::string& fileName, std::string* why) {
    FileBytes file = readFile(fileName);
    if (!file.ok()) {
        if (why != nullptr) *why = fileName + ": " + file.error;
        return -1;
    }
    return applyScriptBytes(table, file.bytes, fileName, why);
}

}  // namespace headlink
