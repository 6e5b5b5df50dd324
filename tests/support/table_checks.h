// Loading a table and reading its cells inside a test: a table that does not
// load, or a cell that is not there, fails the test where it is used.
#pragma once

#include <cstdint>
#include <string>

#include "table/table.h"
#include "tests/support/fixtures.h"
#include "tests/support/table_builder.h"

namespace headlink::testing {

// The table these bytes hold; the test fails, with the loader's reason, when
// they do not load.
Table loadTable(const Bytes& bytes);
Table loadTable(const TableLayout& layout);

// The text of one cell. A cell outside the table, or one that points outside
// the pool, fails the test and reads as "<no such cell>" or "<bad offset>".
std::string cellText(const Table& t, int32_t row, int32_t column);

}  // namespace headlink::testing
