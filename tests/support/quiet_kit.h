// Small kits for the tests of the program's own layer and of the page's
// API: tables of a given shape whose cells are all different, and five
// scripts that give no warning on them.
#pragma once

#include <cstddef>
#include <string>

#include "app/run.h"
#include "tests/support/table_builder.h"

namespace headlink::testing {

inline Bytes table(std::size_t columns, std::size_t rows, const std::string& signature = "2DA V2.b\n") {
    TableLayout layout;
    layout.signature = signature;
    layout.columns = names("c", static_cast<int>(columns));
    layout.rowLabels = numberedLabels(rows);
    for (std::size_t r = 0; r < rows; ++r) {
        layout.cells.emplace_back();
        for (std::size_t c = 0; c < columns; ++c) {
            std::string cell = "v";
            cell += std::to_string(r);
            cell += '_';
            cell += std::to_string(c);
            layout.cells.back().push_back(cell);
        }
    }
    return buildTable(layout);
}

inline FileBytes file(const std::string& text) { return {bytesOf(text), {}}; }

// A kit whose scripts give no warning; each case changes one file.
inline RunInputs quietKit() {
    RunInputs in;
    in.tables = {FileBytes{table(12, 2), {}}, FileBytes{table(2, 2), {}},
                 FileBytes{table(9, 1), {}}};
    in.scripts = {file("0 0 head 1 model"), file("0 0 app1 11 fast"), file("0 0 app2"), file("0 0 app3"),
                  file("0 0 portrait 4 x end: a note")};
    return in;
}

// A message of a run as a front end shows it: the file, line and text
// (without "headlink: "), whether a warning, and the head and script.
struct Message {
    std::string file;
    int line = 0;
    std::string text;
    bool warning = false;
    int head = -1, script = -1;
};
// A run's warnings, then its failures, as the program says them.
inline std::vector<Message> messagesOf(const RunOutcome& outcome) {
    std::vector<Message> said;
    for (const Warning& w : outcome.warnings)
        said.push_back({w.file, w.line, w.describe(outcome.warningsAreErrors), true, w.head, w.script});
    for (const Result& r : outcome.failures) said.push_back({r.file, r.line, r.description(), false, r.head, r.script});
    return said;
}

}  // namespace headlink::testing
