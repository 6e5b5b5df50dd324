#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "table/table.h"
#include "tests/support/table_builder.h"
#include "tests/support/table_checks.h"

namespace headlink {
namespace {

using testing::cellText;
using testing::loadTable;

// Pool "first\0abc\0def\0abc\0"; rows point at first/abc, def/abc (second copy).
Table withDuplicates() {
    testing::TableLayout layout;
    layout.columns = {"k", "v"};
    layout.rowLabels = testing::numberedLabels(2);
    layout.rawPool = std::vector<uint8_t>{'f', 'i', 'r', 's', 't', 0, 'a', 'b', 'c', 0,
                                        'd', 'e', 'f', 0, 'a', 'b', 'c', 0};
    layout.rawGrid = {0, 6, 10, 14};
    return loadTable(layout);
}

TEST(PoolLookup, FirstMatchIgnoringAsciiCaseOnly) {
    Table t = withDuplicates();
    EXPECT_EQ(t.findString("abc"), 6);   // the earlier of two copies
    EXPECT_EQ(t.findString("ABC"), 6);
    EXPECT_EQ(t.findString("DeF"), 10);
    EXPECT_EQ(t.findString("ab"), 0);    // whole texts only
    EXPECT_EQ(t.findString("abc "), 0);
    EXPECT_EQ(t.findString("first"), 0); // offset 0 reads as "not found"
    EXPECT_EQ(t.findString(""), 0);
}

TEST(PoolLookup, NonAsciiLettersDoNotFold) {
    Table t = loadTable(testing::gridLayout({"k"}, {{"pad"}, {"\xC3\xA9t\xC3\xA9"}}));  // UTF-8 "été"
    EXPECT_EQ(t.findString("\xC3\xA9T\xC3\xA9"), 4);
    EXPECT_EQ(t.findString("\xC3\x89T\xC3\x89"), 0);  // "ÉTÉ": only A-Z fold
}

TEST(RowSearch, MatchesByOffsetNotText) {
    Table t = withDuplicates();
    EXPECT_EQ(t.findRow("abc", 1), 0);
    EXPECT_EQ(t.findRow("def", 0), 1);
    EXPECT_EQ(t.findRow("def", 1), -1);   // in the pool, not in that column
    EXPECT_EQ(t.findRow("first", 0), -1); // offset 0 never matches
    EXPECT_EQ(t.findRow("abc", 7), -1);   // no such column
}

// The 18-byte pool of withDuplicates() followed by `added`.
std::vector<uint8_t> poolWith(const std::string& added) {
    std::string pool("first\0abc\0def\0abc\0", 18);
    pool += added;
    return std::vector<uint8_t>(pool.begin(), pool.end());
}

TEST(CellEdit, ReusesExistingStringsAndAppendsNewOnesOnce) {
    Table t = withDuplicates();
    ASSERT_EQ(t.setCell(1, 1, "ABC"), 0);
    EXPECT_EQ(t.cellOffset(1, 1), 6);
    EXPECT_EQ(cellText(t, 1, 1), "abc");  // the pool's spelling wins
    EXPECT_EQ(t.pool(), poolWith(""));

    ASSERT_EQ(t.setCell(0, 0, "new"), 0);
    ASSERT_EQ(t.setCell(1, 0, "NEW"), 0);
    EXPECT_EQ(t.cellOffset(0, 0), 18);
    EXPECT_EQ(t.cellOffset(1, 0), 18);
    EXPECT_EQ(t.pool(), poolWith(std::string("new\0", 4)));
    EXPECT_EQ(t.findRow("new", 0), 0);

    // A NUL ends the text: only what precedes it is stored, and found.
    ASSERT_EQ(t.setCell(0, 1, std::string_view("ne\0w", 4)), 0);
    EXPECT_EQ(t.cellOffset(0, 1), 22);
    ASSERT_EQ(t.setCell(1, 1, std::string_view("new\0tail", 8)), 0);
    EXPECT_EQ(t.cellOffset(1, 1), 18);
    EXPECT_EQ(t.pool(), poolWith(std::string("new\0ne\0", 7)));
}

TEST(CellEdit, TextEqualToTheFirstPoolStringIsAppendedEveryTime) {
    Table t = withDuplicates();
    // The text of cell (0, 0) as a view of the pool, which grows under it.
    ASSERT_EQ(t.setCell(0, 1, t.cellText(0, 0)), 0);
    ASSERT_EQ(t.setCell(1, 1, "First"), 0);
    EXPECT_EQ(t.cellOffset(0, 1), 18);
    EXPECT_EQ(t.cellOffset(1, 1), 24);
    EXPECT_EQ(t.pool(), poolWith(std::string("first\0First\0", 12)));
    EXPECT_EQ(cellText(t, 1, 1), "First");
    EXPECT_EQ(t.findRow("first", 1), -1);
}

TEST(CellEdit, PoolGrowsPastTwiceItsSize) {
    testing::TableLayout layout;
    layout.columns = {"k"};
    layout.rowLabels = testing::numberedLabels(1);
    layout.rawPool = std::vector<uint8_t>{0};  // one empty string, at offset 0
    layout.rawGrid = {0};
    Table t = loadTable(layout);
    // The string at offset 0 is never found, so an empty text is appended.
    ASSERT_EQ(t.setCell(0, 0, ""), 0);
    EXPECT_EQ(t.cellOffset(0, 0), 1);
    ASSERT_EQ(t.setCell(0, 0, "a"), 0);
    ASSERT_EQ(t.setCell(0, 0, "a"), 0);
    EXPECT_EQ(t.cellOffset(0, 0), 2);
    for (int i = 0; i < 3000; ++i) ASSERT_EQ(t.setCell(0, 0, "value" + std::to_string(i)), 0);
    EXPECT_EQ(t.poolIndex().size(), 3003u);  // far past any fixed index size
    // "value0" to "value9" take 7 bytes each from offset 4, "value10" to
    // "value99" 8, and so on.
    EXPECT_EQ(t.cellOffset(0, 0), 28884);  // "value2999"
    EXPECT_EQ(t.findString("value10"), 74);
}

TEST(CellEdit, PoolStopsAtSixtyFiveThousandFiveHundredThirtyFiveBytes) {
    Table t = loadTable(testing::longStringLayout({"k"}, 65530));
    ASSERT_EQ(t.setCell(0, 0, "abcd"), 0);  // 65530 + 5 = 65535: fits exactly
    EXPECT_EQ(t.cellOffset(0, 0), 65530);
    auto before = t.bytes();
    EXPECT_EQ(t.setCell(0, 0, "x"), 1);  // no reason asked for
    Result why;
    EXPECT_EQ(t.setCell(0, 0, "x", &why), 1);
    EXPECT_EQ(why.reason, "the table's texts would take more than 65535 bytes, the most a table can hold");
    EXPECT_EQ(why.status, Status::limit);
    EXPECT_EQ(t.bytes(), before);
    EXPECT_EQ(t.setCell(0, 0, "ABCD"), 0);  // an existing text still works
}

TEST(CellEdit, RejectsCellsOutsideTheTable) {
    Table t = withDuplicates();
    auto before = t.bytes();
    Result why;
    EXPECT_EQ(t.setCell(0, 2, "x", &why), 1);
    EXPECT_EQ(why.reason, "cell (0, 2) is outside the table");
    EXPECT_EQ(why.status, Status::outOfRange);
    EXPECT_EQ(t.setCell(2, 0, "x"), 1);
    EXPECT_EQ(t.setCell(-1, 0, "x"), 1);
    EXPECT_EQ(t.setCell(0, -1, "x"), 1);
    EXPECT_EQ(t.bytes(), before);
}

TEST(RowAppend, CopiesTheTemplateAndStopsAfter128) {
    Table t = withDuplicates();
    EXPECT_EQ(t.appendRow(1), 2);
    EXPECT_EQ(t.cellOffset(2, 0), 10);
    EXPECT_EQ(t.cellOffset(2, 1), 14);
    EXPECT_EQ(t.appendRow(2), 3);  // an appended row can be a template
    for (int i = 2; i < 128; ++i) ASSERT_EQ(t.appendRow(0), i + 2);
    auto before = t.bytes();
    Result why;
    EXPECT_EQ(t.appendRow(0, &why), -1);
    EXPECT_EQ(why.reason, "no more than 128 rows can be added to one table");
    EXPECT_EQ(why.status, Status::limit);
    EXPECT_EQ(t.bytes(), before);
    EXPECT_EQ(t.appendRow(130), -1);
    EXPECT_EQ(t.appendRow(-1), -1);
    // Counted afresh for a part of the run (a head of a pack): 128 more,
    // and the limit then said as that part's.
    t.restartAppendedCount("this head");
    for (int i = 0; i < 128; ++i) ASSERT_EQ(t.appendRow(0), i + 130);
    EXPECT_EQ(t.appendRow(0, &why), -1);
    EXPECT_EQ(why.reason, "the table already had 128 rows added by this head");
    EXPECT_EQ(why.status, Status::limit);
}

TEST(RowAppend, StopsAtTheSixteenBitRowCount) {
    testing::TableLayout layout;
    layout.columns = {"k"};
    layout.rowLabels = std::vector<std::string>(65535, "");
    layout.cells = std::vector<std::vector<std::string>>(65535, {"x"});
    Table t = loadTable(layout);
    Result why;
    EXPECT_EQ(t.appendRow(0, &why), -1);
    EXPECT_EQ(why.reason, "the table already holds 65535 rows, the most it can");
    EXPECT_EQ(why.status, Status::limit);
}

}  // namespace
}  // namespace headlink
