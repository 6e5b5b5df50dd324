// Fuzz target: twoda's text form and its check, on arbitrary bytes.
//
// Read as the text form, an input that builds must give a table headlink
// loads, whose text form builds the very same bytes again. Read as a binary
// table, check must call it valid exactly when headlink loads it; a loaded
// table's text form, where it has one, must build a table with the same
// labels and cells; and the viewing commands must take any table without
// failing.
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include <unistd.h>

#include "table/table.h"
#include "tests/fuzz/fuzz_support.h"
#include "twoda/commands.h"
#include "twoda/textform.h"

using fuzz::check;
using headlink::Table;

namespace {

void sameTables(const Table& a, const Table& b) {
    check(a.columnLabels() == b.columnLabels(), "column labels differ after the text form");
    check(a.rowLabels() == b.rowLabels(), "row labels differ after the text form");
    check(a.rowCount() == b.rowCount(), "row counts differ after the text form");
    for (int32_t r = 0; r < a.rowCount(); ++r)
        for (int32_t c = 0; c < a.columnCount(); ++c)
            check(a.cellText(r, c) == b.cellText(r, c), "row ", r, " column ", c, " differs after the text form");
}

void asText(std::string_view text) {
    std::vector<uint8_t> built;
    headlink::Result why = headlink::buildFromText(text, &built);
    if (!why) {
        check(why.line > 0 && why.description().rfind("line ", 0) == 0, "a text-form error names no line: ",
              why.description());
        return;
    }
    Table table;
    check(table.loadBytes(built, "built", &why) == 0, "a built table does not load: ", why.description());
    std::ostringstream again;
    why = headlink::writeTextForm(table, again);
    check(static_cast<bool>(why), "a built table has no text form: ", why.description());
    std::vector<uint8_t> rebuilt;
    why = headlink::buildFromText(again.str(), &rebuilt);
    check(static_cast<bool>(why), "the text form of a built table fails: ", why.description());
    check(rebuilt == built, "text then build does not give back the same bytes");
}

void asBinary(const uint8_t* data, std::size_t size) {
    const std::vector<uint8_t> bytes(data, data + size);
    std::ostringstream report;
    const bool valid = headlink::checkTable(bytes, "t", report);
    Table table;
    headlink::Result why;
    const bool loads = table.loadBytes(bytes, "t", &why) == 0;
    check(valid == loads, "check says ", valid ? "valid" : "not valid", " but the loader says ",
          loads ? "loads" : why.description());
    if (!loads) return;
    std::ostringstream text;
    if (headlink::writeTextForm(table, text)) {
        std::vector<uint8_t> built;
        // Building can still fail: texts a loaded pool shared as tails of
        // one another take room of their own once stored apart.
        if (headlink::buildFromText(text.str(), &built)) {
            Table rebuilt;
            check(rebuilt.loadBytes(built, "rebuilt", &why) == 0, "a rebuilt table does not load: ",
                  why.description());
            sameTables(table, rebuilt);
        }
    }
    // The viewing commands go through a file, as they do for a user.
    static const std::string path =
        (std::filesystem::temp_directory_path() / ("fuzz-twoda-" + std::to_string(::getpid()) + ".2da")).string();
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"show", path}, {"csv", path}, {"columns", path}, {"find", path, "0", "x"}}) {
        std::ostringstream out, err;
        std::istringstream in;
        const int status = headlink::runTwoda(args, in, out, err);
        check(status == 0 || (args[0] == "find" && status <= 2), args[0], " failed on a table that loads: ",
              err.str());
    }
    std::ostringstream out, err;
    std::istringstream in;
    check(headlink::runTwoda({"diff", path, path}, in, out, err) == 0, "a table differs from itself: ", out.str());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    asText(std::string_view(reinterpret_cast<const char*>(data), size));
    asBinary(data, size);
    return 0;
}
