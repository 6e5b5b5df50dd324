#include <gtest/gtest.h>

#include <sstream>

#include "table/table.h"
#include "tests/support/fixtures.h"
#include "tests/support/table_builder.h"
#include "tests/support/table_checks.h"
#include "twoda/commands.h"

namespace headlink {
namespace {

using testing::cellText;
// Columns a and b, rows 0 and 1, pool strings x, y, z: labelEnd 13,
// gridStart 22, poolStart 32 (laid out byte by byte in support/fixtures.cpp).
using testing::kFormatExample;

TEST(TableLoad, ExampleTableFieldByField) {
    Table t;
    Result why;
    ASSERT_EQ(t.loadBytes(kFormatExample, "example.2da", &why), 0) << why.description();
    EXPECT_TRUE(why);
    // What was loaded: the rows and the header block of the file read.
    FileLayout loaded;
    ASSERT_TRUE(readLayout(kFormatExample, &loaded));
    EXPECT_EQ(t.columnCount(), 2);
    EXPECT_EQ(loaded.rows, 2u);
    EXPECT_EQ(t.rowCount(), 2);
    EXPECT_EQ(t.lastPatchedRow(), 2);
    FileLayout layout;
    ASSERT_TRUE(readLayout(t.bytes(), &layout));
    EXPECT_EQ(layout.labelEnd, 13u);
    EXPECT_EQ(layout.gridStart, 22u);
    EXPECT_EQ(layout.poolStart, 32u);
    EXPECT_EQ(loaded.gridStart, 22u);
    EXPECT_EQ(t.poolSizeField(), 6);
    EXPECT_EQ(t.pool().size(), 6u);
    EXPECT_EQ(t.poolIndex(), (std::vector<uint16_t>{0, 2, 4}));
    EXPECT_EQ(t.cellOffset(0, 0), 0);
    EXPECT_EQ(t.cellOffset(1, 0), 4);
    EXPECT_EQ(cellText(t, 0, 1), "y");
    EXPECT_EQ(cellText(t, 1, 0), "z");
    EXPECT_EQ(t.name(), "example.2da");
}

TEST(TableLoad, CountsColumnsFromPositionOneAndZeroRows) {
    testing::TableLayout layout;
    layout.signature = "\tsig\n";  // a tab at position 0 is not a column
    layout.columns = {"a", "b", "c"};
    auto bytes = testing::buildTable(layout);
    Table t;
    ASSERT_EQ(t.loadBytes(bytes, "t"), 0);
    EXPECT_EQ(t.columnCount(), 3);
    EXPECT_EQ(t.rowCount(), 0);
    FileLayout found;
    ASSERT_TRUE(readLayout(t.bytes(), &found));
    EXPECT_EQ(found.gridStart, found.labelEnd + 3);
    // With no rows the two bytes after the row count are read as the pool-size field.
    EXPECT_EQ(found.poolStart, found.labelEnd + 5);
    // ...so the real pool-size field (0 for an empty pool) reads as two empty strings.
    EXPECT_EQ(t.poolIndex(), (std::vector<uint16_t>{0, 1}));
    EXPECT_EQ(t.bytes(), bytes);
}

TEST(TableLoad, IndexesEveryPoolStringIncludingEmptyAndRepeated) {
    testing::TableLayout layout;
    layout.columns = {"a"};
    layout.rowLabels = testing::numberedLabels(1);
    layout.rawPool = std::vector<uint8_t>{0, 'a', 'b', 0, 0, 'a', 'b', 0};
    layout.rawGrid = {1};
    auto bytes = testing::buildTable(layout);
    Table t;
    ASSERT_EQ(t.loadBytes(bytes, "t"), 0);
    EXPECT_EQ(t.poolIndex(), (std::vector<uint16_t>{0, 1, 4, 5}));
}

TEST(TableLoad, SignatureAndColumnLabelsFromOddHeaders) {
    struct Case {
        std::string signature;
        std::vector<std::string> columns;
        std::string line;
        std::vector<std::string> labels;
    };
    const std::vector<Case> cases = {
        {"2DA V2.b\n", {"label", "", "x y"}, "2DA V2.b", {"label", "", "x y"}},
        {"2DA V2.b\r\n", {"a"}, "2DA V2.b", {"a"}},
        {"\tsig\n", {"a", "b"}, "\tsig", {"a", "b"}},  // a tab at byte 0 closes no column
        {"odd \x01\xff", {"a", "b"}, "odd \x01\xff" "a\tb\t", {"odd \x01\xff" "a", "b"}},  // no line break
        {"2DA V2.b\n", {}, "2DA V2.b", {}},
        {"", {"a"}, "a\t", {"a"}},
    };
    for (const auto& c : cases) {
        testing::TableLayout layout;
        layout.signature = c.signature;
        layout.columns = c.columns;
        Table t;
        ASSERT_EQ(t.loadBytes(testing::buildTable(layout), "t"), 0) << c.signature;
        EXPECT_EQ(t.signatureLine(), c.line) << c.signature;
        const auto labels = t.columnLabels();
        EXPECT_EQ(std::vector<std::string>(labels.begin(), labels.end()), c.labels) << c.signature;
        EXPECT_EQ(labels.size(), static_cast<std::size_t>(t.columnCount())) << c.signature;
    }
    // Row labels as read, and an added row's number.
    testing::TableLayout layout;
    layout.columns = {"a"};
    layout.rowLabels = {"", "row one", "7"};
    layout.cells = {{"x"}, {"y"}, {"z"}};
    Table t;
    ASSERT_EQ(t.loadBytes(testing::buildTable(layout), "t"), 0);
    ASSERT_EQ(t.appendRow(0), 3);
    EXPECT_EQ(t.rowLabel(0), "");
    EXPECT_EQ(t.rowLabel(1), "row one");
    EXPECT_EQ(t.rowLabel(2), "7");
    EXPECT_EQ(t.rowLabel(3), "3");
}

TEST(TableLoad, OffsetIntoAStringReadsAsItsTail) {
    testing::TableLayout layout;
    layout.columns = {"a"};
    layout.rowLabels = testing::numberedLabels(1);
    layout.rawPool = std::vector<uint8_t>{'x', 'y', 'z', 0};
    layout.rawGrid = {3};  // the last byte of the pool: its closing NUL
    Table t;
    ASSERT_EQ(t.loadBytes(testing::buildTable(layout), "t"), 0);
    EXPECT_EQ(cellText(t, 0, 0), "");
    layout.rawGrid = {1};
    ASSERT_EQ(t.loadBytes(testing::buildTable(layout), "t"), 0);
    EXPECT_EQ(cellText(t, 0, 0), "yz");
}

struct Malformed {
    const char* name;
    std::vector<uint8_t> bytes;
    const char* reason;
    std::size_t offset;  // where the loader stopped
};

std::vector<uint8_t> withoutLast(std::vector<uint8_t> v, std::size_t n) {
    v.resize(v.size() - n);
    return v;
}

std::vector<uint8_t> bigPool() { return testing::buildTable(testing::longStringLayout({"a"}, 65536)); }

// `rows` rows x 3 columns over `pool`, every cell at offset 0 but the
// last, which gets `last`.
std::vector<uint8_t> gridOver(std::size_t rows, std::vector<uint8_t> pool, uint16_t last) {
    testing::TableLayout layout;
    layout.columns = {"a", "b", "c"};
    layout.rowLabels = testing::numberedLabels(rows);
    layout.rawPool = std::move(pool);
    layout.rawGrid = std::vector<uint16_t>(rows * 3, 0);
    layout.rawGrid.back() = last;
    return testing::buildTable(layout);
}

// A header for 300 rows followed by only the labels "0" to "199".
std::vector<uint8_t> labelsCutAt200() {
    std::vector<uint8_t> bytes = {'a', '\t', 0, 300 & 0xFF, 300 >> 8, 0, 0};
    for (int r = 0; r < 200; ++r) {
        for (char c : std::to_string(r)) bytes.push_back(static_cast<uint8_t>(c));
        bytes.push_back('\t');
    }
    return bytes;
}

TEST(TableLoad, RejectsMalformedFilesWithTheirReason) {
    std::vector<uint8_t> shortLabels(kFormatExample.begin(), kFormatExample.begin() + 20);  // "0\t1" cut
    std::vector<uint8_t> noPoolNul = kFormatExample;
    noPoolNul[37] = 'z';  // the pool's closing NUL
    std::vector<uint8_t> pastPool = kFormatExample;
    pastPool[28] = 0x06;  // row 1, column 1: offset 6 is one past the 6-byte pool
    std::vector<uint8_t> upperCount = kFormatExample;
    upperCount[17] = 0x01;  // 65,536 more rows
    std::vector<uint8_t> zeroRowsUpper = {'s', 0, 0, 0, 0x09, 0x09};
    // The last cell of 300 x 3 lies before the pool-size field and a 4-byte pool.
    const auto lastOver = gridOver(300, {'a', 0, 'b', 0}, 4), farOver = gridOver(300, {'a', 0, 'b', 0}, 0xFFFF);
    const auto cut200 = labelsCutAt200(), big = bigPool();
    const std::vector<Malformed> cases = {
        {"empty", {}, "malformed: the file is empty", 0},
        {"no NUL", {'a', '\t', 'b'}, "malformed: no NUL byte ends the column labels", 3},
        {"text form", {'2', 'D', 'A', ' ', 'V', '2', '.', '0', '\n', '\n', 'a', ' ', 'b', '\n'},
         "malformed: this is a table in text form (2DA V2.0); headlink reads the binary form (2DA V2.b), "
         "which \"twoda build TEXT OUT\" makes from it",
         0},
        {"NUL 4 bytes from the end", {'a', '\t', 0, 1, 0, 0}, "malformed: the file ends inside the row count", 3},
        {"NUL at the end", {'a', '\t', 0}, "malformed: the file ends inside the row count", 3},
        {"row labels cut", shortLabels, "malformed: row labels end after 1 of 2 rows", 20},
        {"row labels cut after many", cut200, "malformed: row labels end after 200 of 300 rows", cut200.size()},
        {"grid past the end", withoutLast(kFormatExample, 9),
         "malformed: the cell grid of 2 rows x 2 columns runs past the end of the file", 22},
        {"pool-size field past the end", withoutLast(kFormatExample, 7),
         "malformed: the cell grid of 2 rows x 2 columns runs past the end of the file", 22},
        {"pool without NUL", noPoolNul, "malformed: the last pool string has no closing NUL", 37},
        {"offset one past the pool", pastPool,
         "malformed: row 1, column 1 points outside the string pool (offset 6, pool of 6 bytes)", 28},
        {"last cell of many past the pool", lastOver,
         "malformed: row 299, column 2 points outside the string pool (offset 4, pool of 4 bytes)",
         lastOver.size() - 4 - 2 - 2},
        {"far past the pool", farOver,
         "malformed: row 299, column 2 points outside the string pool (offset 65535, pool of 4 bytes)",
         farOver.size() - 4 - 2 - 2},
        {"a cell and no pool", {'a', '\t', 0, 1, 0, 0, 0, '0', '\t', 0, 0, 0, 0},
         "malformed: row 0, column 0 points outside the string pool (offset 0, pool of 0 bytes)", 9},
        {"upper half of the row count", upperCount,
         "malformed: the row count's upper half is not zero (more than 65,535 rows, or a damaged file)", 16},
        {"upper half in a zero-row table", zeroRowsUpper,
         "malformed: the row count's upper half is not zero (more than 65,535 rows, or a damaged file)", 4},
        {"pool over 65535 bytes", big, "malformed: the string pool is 65536 bytes, more than 16-bit offsets can reach",
         big.size() - 65536},
    };
    for (const auto& c : cases) {
        Table t;
        Result why;
        EXPECT_EQ(t.loadBytes(c.bytes, "t", &why), 1) << c.name;
        EXPECT_EQ(why.reason, c.reason) << c.name;
        EXPECT_EQ(why.status, Status::malformed) << c.name;
        EXPECT_EQ(why.offset, c.offset) << c.name;
        EXPECT_EQ(why.description(), "t: " + std::string(c.reason)) << c.name;
        EXPECT_EQ(t.rowCount(), 0) << c.name;
        EXPECT_TRUE(t.bytes().empty()) << c.name;
        // twoda check gives the same reason.
        std::ostringstream report;
        EXPECT_FALSE(checkTable(c.bytes, "t", report)) << c.name;
        EXPECT_EQ(report.str(), "t: " + std::string(c.reason) + "\n") << c.name;
    }
}

TEST(TableLoad, AcceptsTheSmallestShapes) {
    // NUL exactly 5 bytes from the end: zero rows, empty pool.
    Table t;
    ASSERT_EQ(t.loadBytes(std::vector<uint8_t>{'s', 0, 0, 0, 0, 0}, "t"), 0);
    EXPECT_EQ(t.columnCount(), 0);
    EXPECT_TRUE(t.pool().empty());
    // A pool of exactly 65535 bytes is still addressable.
    auto bytes = bigPool();
    bytes.erase(bytes.end() - 2);
    EXPECT_EQ(t.loadBytes(bytes, "t"), 0);
}

TEST(TableLoad, MissingFileIsReportedAndNotCreated) {
    Table t;
    Result why;
    EXPECT_EQ(t.load("no-such-table.2da", &why), 1);
    EXPECT_EQ(why.reason, "cannot open: No such file or directory");
    EXPECT_EQ(why.status, Status::notFound);
    FILE* f = std::fopen("no-such-table.2da", "rb");
    EXPECT_EQ(f, nullptr);
    if (f) std::fclose(f);
}

}  // namespace
}  // namespace headlink
