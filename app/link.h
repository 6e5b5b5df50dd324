// Head linking: applies the five scripts and writes the new row numbers
// into the cells that tie the tables together.
#pragma once

#include <array>
#include <ostream>
#include <string>
#include <vector>

#include "app/files.h"
#include "fileio/fileio.h"
#include "table/table.h"

namespace headlink {

// Where warnings are printed as they arise, besides being kept: each as
// "headlink: <warning>" on `err`, with "error:" for "warning:" when
// `asErrors` (--strict). The report is flushed first, so that a terminal
// shows each script's warnings right after its steps.
struct LiveWarnings {
    std::ostream* err = nullptr;
    bool asErrors = false;
};

// A cell the run changed: one a script set, or a link cell, with the text
// it held before.
struct CellMark {
    TableId table;
    int32_t row;
    int32_t column;
    bool link;
    std::string was;
    std::size_t head;     // which head of a pack set it (0 without a pack)
    int32_t target = -1;  // a link cell's: the row number written into it
    int script = -1;      // a script's cell: the script (in kScriptFiles order) and the line of its value
    int line = 0;
};

// Where each link of kLinks lands in a set of tables: in the first column
// whose label is the link's (ASCII case ignored; the labels as
// Table::columnLabels reads them, of the table's columns alone), else in
// its fixed column. Each link is decided on its own.
class LinkColumns {
public:
    LinkColumns();  // every link in its fixed column
    // From the tables' labels, in kTableFiles order; a null table keeps its
    // links' fixed columns.
    explicit LinkColumns(const std::array<const Table*, kTableCount>& tables);
    int32_t column(std::size_t link) const { return columns_[link]; }
    bool labelled(std::size_t link) const { return labelled_[link]; }
    // The link whose cell is column `column` of `table` (its index in
    // kLinks), or -1 for a column that is no link's.
    int linkAt(std::size_t table, int32_t column) const;
    // The failure for `table` (named `file`) when it is too narrow for its
    // links' fixed columns, or two of its links land in one column.
    Result check(const Table& table, TableId id, const std::string& file) const;

private:
    std::array<int32_t, kLinks.size()> columns_;
    std::array<bool, kLinks.size()> labelled_{};
};

struct LinkReport {
    // In a pack: the head's folder, which names each of its scripts
    // ("moonveil/head.txt") and link lines in every line and message, and
    // the head's place in the pack.
    std::string head;
    std::size_t headIndex = 0;
    std::ostream* out = nullptr;
    std::vector<CellMark> marks;  // every cell set, in the order set
    std::vector<Warning> warnings;  // in the order they arose, each with its head and script
    LinkColumns links;            // where the tables' links are, once linking began
    LiveWarnings live;
    // After a failure: the script it is about (in kScriptFiles order), or
    // -1 for a table's.
    int failedScript = -1;
    // Keeps a warning about `script` (-1: none) of this head, and prints it live.
    void warn(Warning warning, int script = -1);
    // A script's name as lines and messages give it.
    std::string named(const char* script) const { return head.empty() ? script : head + "/" + script; }
    // The head as said: its place in the pack, or -1 outside a pack.
    int headNumber() const { return head.empty() ? -1 : static_cast<int>(headIndex); }
};

// Applies head.txt to heads, apphead1-3.txt to appearance and portraits.txt
// to portraits, writing the link cells after each. `scripts` holds the five
// scripts' bytes in kScriptFiles order. At the first failure, the Result
// names the file and the reason; the tables are then partly edited and must
// not be written. The report, when given, covers the steps that succeeded.
Result runLinking(Table& appearance, Table& heads, Table& portraits,
                  const std::array<FileBytes, kScriptCount>& scripts, LinkReport* report = nullptr);

// The table a file is by its name: one of kTableFiles or kOutputFiles
// (ASCII case ignored, whatever folder it is in), else kTableCount.
TableId tableNamed(std::string_view path);

// Where the links go, in words: with `columns`, in those tables
// ("appearance column 9 "normalhead" gets the head row; ..."), else the
// rule, with each link's label and fixed column.
std::string linkSentence(const LinkColumns* columns);

// The link columns of three tables (in kTableFiles order), or the
// failure of the first that cannot hold its links.
Result findLinkColumns(const std::array<const Table*, kTableCount>& tables, const std::array<const char*, kTableCount>& files,
                       LinkColumns* columns);

// A table's name in the report: its file name without ".2da".
std::string tableTitle(const Table& table);

}  // namespace headlink
