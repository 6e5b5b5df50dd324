#include <gtest/gtest.h>

#include <optional>

#include <limits>

#include "patch/patch.h"
#include "patch/tokens.h"
#include "table/table.h"
#include "tests/support/fixtures.h"
#include "tests/support/table_builder.h"
#include "tests/support/table_checks.h"

namespace headlink {
namespace {

using testing::bytesOf;
using testing::cellText;

struct IntCase {
    std::string input;
    bool ok;
    int32_t value;
    std::string next;  // the token left after the read
};

TEST(ScriptTokens, IntegersReadLikeTheHostsScanner) {
    constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
    constexpr int32_t kMin = std::numeric_limits<int32_t>::min();
    const std::vector<IntCase> cases = {
        {"42", true, 42, ""},
        {" \t\n\v\f\r-17 x", true, -17, "x"},
        {"+5", true, 5, ""},
        {"012", true, 10, ""},
        {"08", true, 0, "8"},
        {"09x", true, 0, "9x"},
        {"0", true, 0, ""},
        {"0x1F", true, 31, ""},
        {"0X1f", true, 31, ""},
        {"-0x10", true, -16, ""},
        {"0x1G", true, 1, "G"},
        {"5abc", true, 5, "abc"},
        {"2147483647", true, kMax, ""},
        {"2147483648", true, kMax, ""},
        {"-2147483648", true, kMin, ""},
        {"-2147483649", true, kMin, ""},
        {"0xFFFFFFFF", true, kMax, ""},
        // 15 characters at most, counting sign, prefix and leading zeros.
        {"123456789012345678", true, kMax, "678"},
        {"-000000000000001", true, 0, "1"},
        {"0x0000000000001F", true, 1, "F"},
        {"   0000000000000012", true, 1, "2"},
        {"0x", false, 0, "0x"},
        {"0xg", false, 0, "0xg"},
        {"-", false, 0, "-"},
        {"+ 5", false, 0, "+"},
        {"x1", false, 0, "x1"},
        {"", false, 0, ""},
        {"   ", false, 0, ""},
        {"\xA0" "5", false, 0, "\xA0" "5"},  // not white space
        {"\x1C" "5", false, 0, "\x1C" "5"},
        {"7\x1A" "8", true, 7, ""},           // 0x1A ends the input
        {"7\r\n", true, 7, ""},
    };
    for (const auto& c : cases) {
        const auto bytes = bytesOf(c.input);
        ScriptReader in(bytes);
        int32_t value = 0;
        EXPECT_EQ(in.readInt(&value), c.ok) << '"' << c.input << '"';
        if (c.ok) {
            EXPECT_EQ(value, c.value) << c.input;
        }
        EXPECT_EQ(in.peekToken(), c.next) << '"' << c.input << '"';
    }
}

TEST(ScriptTokens, TextTokensAndTextMode) {
    using namespace std::string_literals;
    const auto bytes = bytesOf("a\0bc d \0rest\r\nx\ry\x1A" "after"s);
    ScriptReader in(bytes);
    std::string_view v;
    ASSERT_TRUE(in.readText(&v));
    EXPECT_EQ(v, "a");   // NUL ends the value, the rest of the token is dropped
    ASSERT_TRUE(in.readText(&v));
    EXPECT_EQ(v, "d");
    ASSERT_TRUE(in.readText(&v));
    EXPECT_EQ(v, "");    // a token starting with NUL is a present, empty value
    EXPECT_EQ(in.line(), 1);
    ASSERT_TRUE(in.readText(&v));
    EXPECT_EQ(v, "x");   // CR LF reads as LF; a lone CR separates too
    EXPECT_EQ(in.line(), 2);
    ASSERT_TRUE(in.readText(&v));
    EXPECT_EQ(v, "y");
    EXPECT_FALSE(in.readText(&v));
    EXPECT_TRUE(in.atEnd());
}

// The table of the file-format example: columns a, b; rows x y / z y.
using testing::kFormatExample;

class Scripts : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(table.loadBytes(kFormatExample, "example.2da"), 0); }

    int32_t apply(std::string_view script) {
        result = {};
        const int32_t row = applyScriptBytes(table, bytesOf(script), "s.txt", &result);
        why = result ? std::string() : result.description();
        return row;
    }
    std::string text(int32_t row, int32_t column) const { return cellText(table, row, column); }

    Table table;
    Result result;
    std::string why;  // the failure as people see it
};

TEST_F(Scripts, WorkedExampleAppendsRowTwo) {
    EXPECT_EQ(apply("0 0 w 1 y"), 2);
    EXPECT_EQ(table.lastPatchedRow(), 2);
    const std::vector<uint8_t> expected = {
        '2', 'D', 'A', ' ', 'B', 'I', 'N', '1', '\n', 'a', '\t', 'b', '\t', 0,
        3, 0, 0, 0, '0', '\t', '1', '\t', '2', '\t',
        0, 0, 2, 0, 4, 0, 2, 0, 6, 0, 2, 0,
        8, 0,  // the pool-size field follows the pool: 6 bytes read, 8 now
        'x', 0, 'y', 0, 'z', 0, 'w', 0};
    EXPECT_EQ(table.bytes(), expected);
    EXPECT_EQ(table.bytes().size(), 46u);
}

TEST_F(Scripts, ReusesTheMatchingRowWithoutRewritingItsKey) {
    EXPECT_EQ(apply("1 0 Z 1 q"), 1);
    EXPECT_EQ(table.rowCount(), 2);
    EXPECT_EQ(text(1, 0), "z");
    EXPECT_EQ(text(1, 1), "q");
    // The template row is checked even when the key matches.
    EXPECT_EQ(apply("2 0 z"), -1);
    EXPECT_EQ(why, "s.txt: template row 2 does not exist (example.2da has 2 rows)");
}

TEST_F(Scripts, KeyAtPoolOffsetZeroIsAppendedEveryTime) {
    EXPECT_EQ(apply("0 0 X"), 2);
    EXPECT_EQ(apply("0 0 x"), 3);
    EXPECT_EQ(text(3, 0), "x");
}

TEST_F(Scripts, PairsApplyInOrderAndTrailingJunkIsIgnored) {
    EXPECT_EQ(apply("1 0 new 1 first 1 second end 0 ignored"), 2);
    EXPECT_EQ(text(2, 0), "new");
    EXPECT_EQ(text(2, 1), "second");
    EXPECT_EQ(table.findString("ignored"), 0);
    // The same script again finds the row it appended.
    EXPECT_EQ(apply("1 0 new 1 first 1 second end"), 2);
    EXPECT_EQ(table.rowCount(), 3);
    // Octal and hex numbers; an appended row serves as a template.
    EXPECT_EQ(apply("02 0x0 other"), 3);
    EXPECT_EQ(text(3, 1), "second");
}

TEST_F(Scripts, CrLfEofByteNulAndLongTokens) {
    EXPECT_EQ(apply("0 0 w\r\n1 y\r\n\x1A" "1 junk"), 2);
    EXPECT_EQ(text(2, 1), "y");
    EXPECT_EQ(apply(std::string_view("0 0 v\0tail 1 \0", 14)), 3);
    EXPECT_EQ(text(3, 0), "v");
    EXPECT_EQ(text(3, 1), "");
    std::string longValue(5000, 'L');
    EXPECT_EQ(apply("0 0 " + longValue), 4);
    EXPECT_EQ(apply("0 0 " + longValue), 4);  // compared whole, found again
    EXPECT_EQ(apply("0 0 " + longValue.substr(1)), 5);
}

TEST_F(Scripts, The129thAppendFails) {
    for (int i = 0; i < 128; ++i) ASSERT_EQ(apply("0 0 key" + std::to_string(i)), 2 + i);
    auto before = table.bytes();
    EXPECT_EQ(apply("0 0 one-too-many"), -1);
    EXPECT_EQ(why, "s.txt: cannot add a row to example.2da: no more than 128 rows can be added to one table");
    EXPECT_EQ(table.bytes(), before);
    EXPECT_EQ(apply("0 0 key7"), 9);  // finding a row still works
}

struct Failure {
    std::string script;
    std::string reason;
};

TEST_F(Scripts, FailuresSayWhyAndLeaveTheTableUnchanged) {
    const std::vector<Failure> cases = {
        {"", "s.txt: the script is empty"},
        {" \r\n\t", "s.txt: the script is empty"},
        {"\xEF\xBB\xBF" "0 0 w", "s.txt: line 1: the script starts with a UTF-8 byte-order mark; "
                                 "save it without one (plain ASCII)"},
        {std::string("\xFF\xFE" "0\0 \0" "0\0", 8), "s.txt: line 1: the script is saved as UTF-16 (little-endian), "
         "which some editors call \"Unicode\"; save it as plain text (ASCII, or UTF-8 without a byte-order mark)"},
        {std::string("0\0 \0" "0\0 \0" "w\0", 10), "s.txt: line 1: the script is saved as UTF-16 (little-endian), "
         "which some editors call \"Unicode\"; save it as plain text (ASCII, or UTF-8 without a byte-order mark)"},
        {std::string("\0" "0\0 \0" "0\0 \0w", 10), "s.txt: line 1: the script is saved as UTF-16 (big-endian), "
         "which some editors call \"Unicode\"; save it as plain text (ASCII, or UTF-8 without a byte-order mark)"},
        {"x 0 w", "s.txt: line 1: expected a template row number, found \"x\""},
        {"2 0 w", "s.txt: template row 2 does not exist (example.2da has 2 rows)"},
        {"-1 0 w", "s.txt: template row -1 does not exist (example.2da has 2 rows)"},
        {"0\n\nk", "s.txt: line 3: expected a column number, found \"k\""},
        {"0", "s.txt: line 1: expected a column number, found the end of the script"},
        {"0\n\n", "s.txt: line 1: expected a column number, found the end of the script"},
        {"0 2 w", "s.txt: line 1: column 2 is out of range (example.2da has 2 columns)"},
        {"0 0 w\r\n1 y\r\n57 q", "s.txt: line 3: column 57 is out of range (example.2da has 2 columns)"},
        {"0 0 w 1 y -1 q", "s.txt: line 1: column -1 is out of range (example.2da has 2 columns)"},
        {"0 0", "s.txt: line 1: column 0 has no value after it"},
        {"0 0 \n ", "s.txt: line 1: column 0 has no value after it"},
        {"0 0 w\n1\n\n", "s.txt: line 2: column 1 has no value after it"},
        {"0 0 w 1\x1Ay", "s.txt: line 1: column 1 has no value after it"},
    };
    const auto before = table.bytes();
    for (std::size_t i = 0; i < cases.size(); ++i) {
        EXPECT_EQ(apply(cases[i].script), -1) << cases[i].script;
        EXPECT_EQ(why, cases[i].reason);
        // The line the message names is the result's own.
        const std::size_t at = cases[i].reason.find(": line ");
        EXPECT_EQ(result.line, at == std::string::npos ? 0 : std::stoi(cases[i].reason.substr(at + 7)));
        EXPECT_EQ(result.status, Status::badScript);
        EXPECT_EQ(table.bytes(), before) << cases[i].script;
        EXPECT_EQ(table.lastPatchedRow(), 2);
    }
    // Unreadable bytes in a message are shown escaped.
    EXPECT_EQ(apply("\x01\xFF\"z"), -1);
    EXPECT_EQ(why, "s.txt: line 1: expected a template row number, found \"\\x01\\xFF\\x22z\"");
}

TEST(ScriptLimits, PoolFullHalfWayLeavesTheTableUnchanged) {
    Table t;
    ASSERT_EQ(t.loadBytes(testing::buildTable(testing::longStringLayout({"k", "v"}, 65520)), "big.2da"), 0);
    const auto before = t.bytes();
    Result why;
    // The key fits; the value of the pair on line 2 does not.
    EXPECT_EQ(applyScriptBytes(t, bytesOf("0 0 key\n1 " + std::string(20, 'v')), "big.txt", &why), -1);
    EXPECT_EQ(why.description(), "big.txt: line 2: cannot set column 1: the table's texts would take more than 65535 bytes, the most a table can hold");
    EXPECT_EQ(why.status, Status::limit);
    EXPECT_EQ(why.line, 2);
    EXPECT_EQ(t.bytes(), before);
    EXPECT_EQ(t.rowCount(), 1);
}

// What each word is, for the page's editor: the run's own reading of
// numbers (hex, octal, a number run into text), the pairs ending at a word,
// and between words the role a word typed there would take.
TEST(ScriptWords, SayWhatTheWordAtACaretIs) {
    using R = WordRole;
    struct Case {
        std::string script;
        std::size_t offset;
        R role;
        std::size_t begin, end;
        std::optional<int32_t> number;
    };
    const std::string full = "2 0 Elf\n0x1F tex_a 4x ; note 5 b";
    const std::vector<Case> cases = {
        {"", 0, R::templateRow, 0, 0, {}},
        {"12", 2, R::templateRow, 0, 2, 12},     // a caret right after a word is in it
        {"12 ", 3, R::keyColumn, 3, 3, {}},      // what goes next
        {"12  0", 3, R::keyColumn, 3, 3, {}},    // between words: the next word's role
        {"x 0", 0, R::templateRow, 0, 1, {}},    // not a number, still where the row goes
        {full, 4, R::keyValue, 4, 7, {}},
        {full, 9, R::column, 8, 12, 31},
        {full, 14, R::value, 13, 18, {}},
        {full, 19, R::column, 19, 20, 4},        // "4x": column 4 ...
        {full, 21, R::value, 20, 21, {}},        // ... and the value "x"
        {full, 22, R::note, 22, 23, {}},         // a word where a column belongs
        {full, 31, R::note, 31, 32, {}},         // everything after it too
        {full, full.size() + 1, R::note, full.size() + 1, full.size() + 1, {}},
        {"1 2 k 010", 8, R::column, 6, 9, 8},    // octal, as a run reads it
        {"1 2 k 3", 7, R::column, 6, 7, 3},
        {"1 2 k 3 ", 8, R::value, 8, 8, {}},
    };
    for (const Case& c : cases) {
        const ScriptWord w = scriptWordAt(bytesOf(c.script), c.offset);
        EXPECT_EQ(w.role, c.role) << c.script << " @" << c.offset;
        EXPECT_EQ(w.begin, c.begin) << c.script << " @" << c.offset;
        EXPECT_EQ(w.end, c.end) << c.script << " @" << c.offset;
        EXPECT_EQ(w.number, c.number) << c.script << " @" << c.offset;
    }
    const auto row = firstScriptWord(bytesOf("  7 1 k"), R::templateRow);
    ASSERT_TRUE(row);
    EXPECT_EQ(row->begin, 2u);
    EXPECT_EQ(row->number, 7);
    EXPECT_FALSE(firstScriptWord(bytesOf("7 1 k"), R::column));
}

TEST(ScriptFiles, MissingScriptIsReported) {
    Table t;
    ASSERT_EQ(t.loadBytes(kFormatExample, "example.2da"), 0);
    Result why;
    EXPECT_EQ(applyScript(t, "no-such-script.txt", &why), -1);
    EXPECT_EQ(why.description(), "no-such-script.txt: cannot open: No such file or directory");
    EXPECT_EQ(why.status, Status::notFound);
}

}  // namespace
}  // namespace headlink
