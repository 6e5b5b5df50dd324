#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <utility>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "fileio/fileio.h"
#include "table/table.h"
#include "tests/support/table_builder.h"
#include "tests/support/table_checks.h"
#include "tests/support/temp_dir.h"

namespace headlink {
namespace {

using testing::gridLayout;
using testing::loadTable;

std::vector<testing::TableLayout> roundTripShapes() {
    std::vector<testing::TableLayout> shapes;
    shapes.push_back(gridLayout({"a", "b"}, {{"x", "y"}, {"z", "y"}}));
    shapes.push_back(gridLayout({"a", "b", "c"}, {}));                  // zero rows
    shapes.push_back(gridLayout({}, {{}, {}, {}}));                     // zero columns
    shapes.push_back(gridLayout({"a", "b"}, {{"", ""}, {"", "q"}}));    // empty strings
    auto odd = gridLayout({"", "label with spaces", "\x7f\xff"}, {{"1", "2", "3"}});
    odd.signature = "odd signature \x01\x02 no newline";
    odd.rowLabels = {"label\rwith\ncontrol bytes"};
    odd.poolSizeField = 0x1234;  // never recomputed
    shapes.push_back(odd);
    auto dup = gridLayout({"a"}, {{"x"}});
    dup.rawPool = std::vector<uint8_t>{'x', 0, 'X', 0, 'x', 0, 0};  // duplicates and an empty string
    dup.rawGrid = {4};
    shapes.push_back(dup);
    auto tail = gridLayout({"a"}, {{"x"}});
    tail.rawPool = std::vector<uint8_t>{'x', 'y', 0};
    tail.rawGrid = {1};  // into the middle of a string
    shapes.push_back(tail);
    auto labels = gridLayout({"a"}, {{"x"}, {"y"}});
    labels.rowLabels = {"", "row with a long label"};
    shapes.push_back(labels);
    return shapes;
}

TEST(TableWrite, RoundTripsEveryShapeByteForByte) {
    int i = 0;
    for (const auto& layout : roundTripShapes()) {
        auto input = testing::buildTable(layout);
        Table t;
        Result why;
        ASSERT_EQ(t.loadBytes(input, "t", &why), 0) << "shape " << i << ": " << why.description();
        EXPECT_EQ(t.bytes(), input) << "shape " << i;
        ++i;
    }
}

// The pool-size field follows the pool only when it was the pool's length
// (4 here); a 0 or any other value is written back as read.
TEST(TableWrite, AppendedRowsAreLabelledWithTheirIndex) {
    const std::vector<std::pair<uint16_t, std::vector<uint8_t>>> fields = {
        {4, {6, 0}}, {0, {0, 0}}, {3, {3, 0}}, {6, {6, 0}}, {0x0104, {4, 1}}};
    for (const auto& [read, written] : fields) {
        testing::TableLayout layout;
        layout.columns = {"k"};
        layout.rowLabels = {"zero", "one"};
        layout.cells = {{"a"}, {"b"}};
        layout.poolSizeField = read;
        Table t = loadTable(layout);
        ASSERT_EQ(t.appendRow(0), 2);
        ASSERT_EQ(t.setCell(2, 0, "c"), 0);
        const std::vector<uint8_t> expected = {
            '2', 'D', 'A', ' ', 'V', '2', '.', 'b', '\n', 'k', '\t', 0,  // labels
            3, 0, 0, 0,                                                  // row count now 3
            'z', 'e', 'r', 'o', '\t', 'o', 'n', 'e', '\t', '2', '\t',      // new label "2"
            0, 0, 2, 0, 4, 0,                                            // grid: a, b, c
            written[0], written[1],                                      // pool-size field
            'a', 0, 'b', 0, 'c', 0};                                     // pool, "c" appended
        EXPECT_EQ(t.bytes(), expected) << "field read as " << read;
    }
}

TEST(TableWrite, RowCountCarriesIntoItsHighByte) {
    testing::TableLayout layout;
    layout.columns = {"k"};
    layout.rowLabels = testing::numberedLabels(255);
    layout.cells = std::vector<std::vector<std::string>>(255, {"x"});
    Table t = loadTable(layout);
    // "2DA V2.b\n" "k\t" and the NUL at byte 11; the count follows at 12.
    const std::vector<std::vector<uint8_t>> counts = {{0xFF, 0, 0, 0}, {0x00, 1, 0, 0}, {0x01, 1, 0, 0}};
    for (std::size_t added = 0; added < counts.size(); ++added) {
        if (added > 0) {
            ASSERT_EQ(t.appendRow(0), 254 + static_cast<int32_t>(added));
        }
        const std::vector<uint8_t> bytes = t.bytes();
        EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + 12, bytes.begin() + 16), counts[added]) << added;
        Table again;
        ASSERT_EQ(again.loadBytes(bytes, "again.2da"), 0);
        EXPECT_EQ(again.rowCount(), 255 + static_cast<int32_t>(added));
    }
}

// Saving and reading whole files, in a folder of their own.
class TableFiles : public testing::TempDir {};

TEST_F(TableFiles, SaveReplacesAnEarlierOutputAndLeavesNoTemporary) {
    auto input = testing::gridTable({"a"}, {{"x"}});
    Table t;
    ASSERT_EQ(t.loadBytes(input, "t"), 0);
    { std::ofstream(path("out.2da")) << "an older, longer output file"; }
    Result why;
    ASSERT_EQ(t.save(path("out.2da"), &why), 0) << why.description();
    EXPECT_EQ(get("out.2da"), input);
    EXPECT_EQ(listing().size(), 1u);
}

TEST_F(TableFiles, SaveOntoAFolderFailsAndKeepsTheFolder) {
    std::filesystem::create_directory(path("out.2da"));
    Table t;
    ASSERT_EQ(t.loadBytes(testing::gridTable({"a"}, {{"x"}}), "t"), 0);
    Result why;
    EXPECT_EQ(t.save(path("out.2da"), &why), 1);
    EXPECT_EQ(why.reason, "cannot write: a folder of this name is in the way");
    EXPECT_EQ(why.status, Status::cannotWrite);
    EXPECT_EQ(why.file, path("out.2da"));
    EXPECT_TRUE(std::filesystem::is_directory(path("out.2da")));
    EXPECT_EQ(listing().size(), 1u);
}

TEST_F(TableFiles, ReadOnlyOutputIsNotReplaced) {
    { std::ofstream(path("out.2da")) << "keep me"; }
    std::filesystem::permissions(path("out.2da"), std::filesystem::perms::owner_read |
                                                      std::filesystem::perms::group_read);
    std::vector<uint8_t> bytes{1, 2, 3};
    const Result why = writeFileSafely(path("out.2da"), bytes);
    EXPECT_FALSE(why);
    EXPECT_EQ(why.reason, "cannot write: the existing file is read-only");
    EXPECT_EQ(why.status, Status::cannotWrite);
    EXPECT_EQ(why.file, path("out.2da"));
    EXPECT_EQ(get("out.2da"), (std::vector<uint8_t>{'k', 'e', 'e', 'p', ' ', 'm', 'e'}));
    EXPECT_EQ(listing().size(), 1u);
}

TEST_F(TableFiles, ReadFileReportsFoldersAndReadsWholeFiles) {
    std::filesystem::create_directory(path("folder.2da"));
    EXPECT_EQ(readFile(path("folder.2da")).error(), "cannot open: it is a folder, not a file");
    EXPECT_EQ(readFile(path("nothing.2da")).result.status, Status::notFound);
#ifndef _WIN32
    // A pipe would block the read forever.
    ASSERT_EQ(::mkfifo(path("pipe.2da").c_str(), 0600), 0);
    EXPECT_EQ(readFile(path("pipe.2da")).error(), "cannot open: not a regular file");
#endif
    std::vector<uint8_t> bytes(100000);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 7);
    const Result why = writeFileSafely(path("data.bin"), bytes);
    ASSERT_TRUE(why) << why.description();
    FileBytes back = readFile(path("data.bin"));
    EXPECT_TRUE(back.ok());
    EXPECT_EQ(back.bytes, bytes);
    // A part from anywhere in the file, cut where the file ends, and for a
    // folder or no file the same reason as a whole read.
    struct Part {
        uint64_t offset;
        std::size_t size, expected;
    };
    for (const Part& p : std::vector<Part>{{0, 100000, 100000}, {0, std::size_t(-1), 100000}, {4097, 9000, 9000},
                                           {65535, 2, 2}, {99990, 50, 10}, {100000, 5, 0}, {500000, 5, 0}}) {
        const FilePart part = readFilePart(path("data.bin"), p.offset, p.size);
        ASSERT_TRUE(part.ok()) << p.offset;
        EXPECT_EQ(part.fileSize, 100000u) << p.offset;
        const auto from = bytes.begin() + static_cast<std::ptrdiff_t>(std::min<uint64_t>(p.offset, bytes.size()));
        EXPECT_EQ(part.bytes,
                  std::vector<uint8_t>(from, from + static_cast<std::ptrdiff_t>(p.expected)))
            << p.offset;
    }
    EXPECT_EQ(readFilePart(path("folder.2da"), 0, 10).result.reason, "cannot open: it is a folder, not a file");
    EXPECT_EQ(readFilePart(path("nothing.2da"), 0, 10).result.status, Status::notFound);
#ifndef _WIN32
    // Never more at once than a read takes (a sparse file of 3 GiB).
    std::filesystem::resize_file(path("data.bin"), uint64_t{3} << 30);
    EXPECT_EQ(readFilePart(path("data.bin"), 0, std::size_t(-1)).result.reason, "cannot read 3221225472 bytes at once");
#endif
}

}  // namespace
}  // namespace headlink
