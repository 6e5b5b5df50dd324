#include "tests/support/table_checks.h"

#include <gtest/gtest.h>

#include <string_view>

namespace headlink::testing {

Table loadTable(const Bytes& bytes) {
    Table t;
    Result why;
    EXPECT_EQ(t.loadBytes(bytes, "t.2da", &why), 0) << why.description();
    return t;
}

Table loadTable(const TableLayout& layout) { return loadTable(buildTable(layout)); }

std::string cellText(const Table& t, int32_t row, int32_t column) {
    if (row < 0 || column < 0 || row >= t.rowCount() || column >= t.columnCount()) {
        ADD_FAILURE() << "cell (" << row << ", " << column << ") is outside the table";
        return "<no such cell>";
    }
    std::string_view text;
    if (!t.poolString(t.cellOffset(row, column), &text)) {
        ADD_FAILURE() << "cell (" << row << ", " << column << ") points outside the pool";
        return "<bad offset>";
    }
    return std::string(text);
}

}  // namespace headlink::testing
