#include "twoda/commands.h"

#include <algorithm>
#include <array>
#include <filesystem>
#include <charconv>
#include <cstring>
#include <functional>
#include <istream>
#include <iterator>
#include <memory>
#include <new>
#include <sstream>
#include <unordered_map>

#include "app/link.h"
#include "fileio/fileio.h"
#include "fileio/names.h"
#include "game/find.h"
#include "game/folder.h"
#include "game/install.h"
#include "patch/tokens.h"
#include "table/format.h"
#include "table/table.h"
#include "twoda/textform.h"

namespace headlink {

namespace {

using Args = std::vector<std::string>;

// Widest a cell is shown by `show`; longer texts are cut and end in "...".
constexpr std::size_t kShowWidth = 32;
// How many cells outside the pool `check` lists before it only counts them.
constexpr std::size_t kListedProblems = 20;

// Whole decimal number, nothing else.
bool parseNumber(std::string_view text, std::size_t* value) {
    if (text.empty()) return false;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), *value);
    return error == std::errc() && end == text.data() + text.size();
}

// "1 row", "2 rows".
std::string count(std::size_t n, const char* what) {
    std::string out = std::to_string(n) + " " + what;
    if (n != 1) out += 's';
    return out;
}

std::string_view asText(const std::vector<uint8_t>& bytes) {
    return std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

// The game folder of --game, or "": a table's name is then looked up there
// as headlink looks it up.
std::string gGame;
std::unique_ptr<Game> gGameFolder;

// Where a command's file is looked up: in the game folder when --game
// names one (as headlink looks a table up there), or always on disk.
enum class LookIn { gameFirst, disk };

// Reads a file the command works on, where `where` says, its warnings on
// `err`. Running out of memory reading it is the same failure as running
// out anywhere else: it ends the command.
FileBytes readInput(const std::string& name, std::ostream& err, LookIn where = LookIn::gameFirst) {
    workOn(name);
    FileBytes file;
    if (where == LookIn::gameFirst && !gGame.empty()) {
        FoundTable table;
        file.result = gGameFolder->read(name, &table);
        file.bytes = std::move(table.bytes);
        for (const Warning& warning : table.warnings) err << "twoda: " << warning.describe() << '\n';
    } else {
        file = readFile(name);
    }
    if (file.result.status == Status::notEnoughMemory) throw std::bad_alloc();
    return file;
}

// Builds a table's text form as `build` does; its notes go to `notes`, each
// line starting with `prefix`.
Result buildNoted(std::string_view source, std::vector<uint8_t>* built, std::ostream& notes,
                  const std::string& prefix) {
    std::vector<std::string> noted;
    Result result = buildFromText(source, built, &noted);
    for (const std::string& note : noted) notes << prefix << "note: " << note << '\n';
    return result;
}

// A file is read as the text form when its first line says so and it is
// not a binary table, which may begin with any line (and holds NULs, which
// the text form never does).
bool readAsText(const std::vector<uint8_t>& bytes) {
    if (!isTextForm(asText(bytes))) return false;
    if (std::find(bytes.begin(), bytes.end(), uint8_t{0}) == bytes.end()) return true;
    Table probe;
    return probe.loadBytes(std::span<const uint8_t>(bytes), "probe") != 0;
}

// Loads a table in either form, told apart by the first line. The text form
// is built as `build` builds it, so that every command sees the binary
// table headlink would read. *text says which form the file is in.
bool loadTable(const std::string& name, Table* table, std::ostream& err, bool* text = nullptr,
               LookIn where = LookIn::gameFirst) {
    FileBytes file = readInput(name, err, where);
    if (!file.ok()) {
        err << "twoda: " << file.result.description() << '\n';
        return false;
    }
    if (text != nullptr) *text = readAsText(file.bytes);
    const Result loaded = loadEitherForm(std::move(file.bytes), name, table, err, "twoda: " + name + ": ");
    if (!loaded) err << "twoda: " << loaded.description() << '\n';
    return static_cast<bool>(loaded);
}

// "3 (race)": a column or row by number and label, for messages.
template <class Label>
std::string named(const std::vector<Label>& labels, int32_t at) {
    std::string out = std::to_string(at);
    out += " (";
    out += visible(labels[static_cast<std::size_t>(at)]);
    out += ')';
    return out;
}

int columns(const Args& args, std::istream&, std::ostream& out, std::ostream& err) {
    Table table;
    if (!loadTable(args[0], &table, err)) return 1;
    const auto labels = table.columnLabels();
    const std::size_t width = std::to_string(labels.empty() ? 0 : labels.size() - 1).size();
    // One of headlink's tables by its name: its link columns say so.
    const TableId id = tableNamed(args[0]);
    std::array<const Table*, kTableCount> tables{};
    if (id < kTableCount) tables[id] = &table;
    const LinkColumns links(tables);
    for (std::size_t c = 0; c < labels.size(); ++c) {
        const std::string number = std::to_string(c);
        out << std::string(width - number.size(), ' ') << number << "  " << visible(labels[c]);
        const int link = id < kTableCount ? links.linkAt(id, static_cast<int32_t>(c)) : -1;
        if (link >= 0) out << "  (link: headlink writes the " << stem(kScriptFiles[kLinks[static_cast<std::size_t>(link)].source]) << " row here)";
        out << '\n';
    }
    return 0;
}

// Rows to show: "5", "10-20", "300-", or several of these joined by commas.
using Ranges = std::vector<std::pair<std::size_t, std::size_t>>;
Result parseRows(std::string_view list, Ranges* ranges) {
    while (true) {
        const std::size_t comma = list.find(',');
        const std::string_view item = list.substr(0, comma);
        const std::size_t dash = item.find('-');
        std::size_t first = 0, last = 0;
        bool ok = parseNumber(item.substr(0, dash), &first);
        if (dash == std::string_view::npos) {
            last = first;
        } else if (dash + 1 == item.size()) {
            last = static_cast<std::size_t>(kMaxRows);
        } else {
            ok = ok && parseNumber(item.substr(dash + 1), &last);
        }
        if (!ok || last < first)
            return Result::failure(Status::usage, "rows \"" + std::string(item) +
                                                      "\": expected a row like 5, a range like 10-20, or 300-");
        ranges->emplace_back(first, last);
        if (comma == std::string_view::npos) return {};
        list.remove_prefix(comma + 1);
    }
}

// A cell as `show` prints it: "****" for the empty text (as the text form
// writes it), the text "****" itself in quotes, and long texts cut.
std::string shownCell(std::string_view text) {
    if (text.empty() || text == "****") return cellSpelling(text);
    // Only the start is escaped, and cut between escapes, never inside one.
    std::string shown;
    std::size_t fits = 0;  // bytes of `text` whose escapes fit before "..."
    for (std::size_t i = 0; i < text.size(); ++i) {
        shown += visible(text.substr(i, 1));
        if (shown.size() <= kShowWidth - 3) fits = i + 1;
        if (shown.size() > kShowWidth) return visible(text.substr(0, fits)) + "...";
    }
    return shown;
}

int show(const Args& args, std::istream&, std::ostream& out, std::ostream& err) {
    Ranges ranges;
    if (const Result parsed = args.size() == 2 ? parseRows(args[1], &ranges) : Result{}; !parsed) {
        err << "twoda: " << parsed.reason << "\nTry 'twoda --help'.\n";
        return 2;
    }
    Table table;
    if (!loadTable(args[0], &table, err)) return 1;
    const auto rows = static_cast<std::size_t>(table.rowCount());
    if (args.size() == 1 && rows > 0) ranges.emplace_back(0, rows - 1);
    // A range may end past the last row, which cuts it short, but must start on a row.
    for (auto& [first, last] : ranges) {
        if (first >= rows) {
            err << "twoda: rows from " << first << ": the table has " << rows << " rows";
            if (rows > 0) err << " (0 to " << rows - 1 << ")";
            err << '\n';
            return 1;
        }
        last = std::min(last, rows - 1);
    }
    const auto rowLabels = table.rowLabels();
    // One line per row: its position, its label, then its cells. The first
    // line heads the columns with their labels; the row labels' column has
    // none, as in the text form.
    std::vector<std::string> heading{"row", ""};
    for (std::string_view label : table.columnLabels()) heading.push_back(label.empty() ? "\"\"" : shownCell(label));
    std::vector<std::size_t> widths;
    for (const auto& h : heading) widths.push_back(h.size());
    auto forEachShownRow = [&](const std::function<void(const std::vector<std::string>&)>& use) {
        std::vector<std::string> line;
        for (const auto& [first, last] : ranges) {
            for (std::size_t r = first; r <= last; ++r) {
                line.assign({std::to_string(r), visible(rowLabels[r])});
                for (int32_t c = 0; c < table.columnCount(); ++c)
                    line.push_back(shownCell(table.cellText(static_cast<int32_t>(r), c)));
                use(line);
            }
        }
    };
    forEachShownRow([&](const std::vector<std::string>& line) {
        for (std::size_t i = 0; i < line.size(); ++i) widths[i] = std::max(widths[i], line[i].size());
    });
    auto print = [&](const std::vector<std::string>& line) {
        std::string text;
        for (std::size_t i = 0; i < line.size(); ++i) {
            text += line[i];
            if (i + 1 < line.size()) text.append(widths[i] - line[i].size() + 2, ' ');
        }
        out << text << '\n';
    };
    print(heading);
    forEachShownRow(print);
    return 0;
}

int find(const Args& args, std::istream&, std::ostream& out, std::ostream& err) {
    Table table;
    bool fromText = false;
    if (!loadTable(args[0], &table, err, &fromText)) return 2;
    const auto labels = table.columnLabels();
    // The column by number, read as a script reads it (010 is octal 8,
    // 0xA is 10), or else by its label.
    const std::span<const uint8_t> token(reinterpret_cast<const uint8_t*>(args[1].data()), args[1].size());
    ScriptReader reader(token);
    int32_t number = -1;
    int32_t column = -1;
    if (reader.readInt(&number) && reader.restOfToken().empty() && reader.atEnd()) {
        if (number >= 0 && static_cast<std::size_t>(number) < labels.size()) column = number;
    } else {
        for (std::size_t c = 0; c < labels.size() && column < 0; ++c)
            if (sameText(labels[c], args[1])) column = static_cast<int32_t>(c);
    }
    if (column < 0) {
        err << "twoda: " << args[0] << ": no column " << quoted(args[1], kWhole) << " (the table has ";
        if (labels.empty()) err << "no columns)\n";
        else err << count(labels.size(), "column") << ", 0 to " << labels.size() - 1 << ")\n";
        return 2;
    }
    const std::string& text = args[2];
    // A script's key is one token: some bytes, none of them white space.
    if (text.empty() || text.find_first_of(" \t\n\v\f\r") != std::string::npos) {
        err << "twoda: the key " << quoted(text, kWhole) << " cannot be a script's key, which is one "
            << "token: not empty, without white space\n";
        return 2;
    }
    if (fromText)
        out << args[0] << " is in the text form: the answer is for the binary table \"twoda build\" makes of it\n";
    const auto rowLabels = table.rowLabels();
    const uint16_t first = table.findString(text);
    const int32_t row = table.findRow(text, column);
    if (row >= 0) {
        out << "row " << named(rowLabels, row) << ": a script keyed on column "
            << named(labels, column) << " with " << quoted(text, kWhole) << " reuses this row; its cell holds "
            << quoted(table.cellText(row, column), kWhole) << ", the first copy of that text in the pool (offset "
            << first << ")\n";
        return 0;
    }
    out << "no row: a script keyed on column " << named(labels, column) << " with " << quoted(text, kWhole)
        << " appends a new row, because ";
    std::string_view firstString;
    if (first != 0) {
        out << "no row's cell in that column points at the first copy of that text in the pool (offset "
            << first << ")\n";
    } else if (table.poolString(0, &firstString) && sameText(firstString, text)) {
        out << "its first copy in the pool is the pool's first string (offset 0), which lookups never match\n";
    } else {
        out << "no pool string holds that text (the case of A-Z aside)\n";
    }
    // A row holding the same text through another pool string is what makes
    // this surprising; name it.
    for (int32_t r = 0; r < table.rowCount(); ++r) {
        if (!sameText(table.cellText(r, column), text)) continue;
        out << "row " << named(rowLabels, r) << " holds it in that column through pool offset "
            << table.cellOffset(r, column) << ", which lookups do not see\n";
        break;
    }
    return 1;
}

int diff(const Args& args, std::istream&, std::ostream& out, std::ostream& err) {
    Table old, now;
    const bool loaded = loadTable(args[0], &old, err);
    if (!loadTable(args[1], &now, err, nullptr, LookIn::disk) || !loaded) return 2;
    std::size_t differences = 0;
    auto line = [&]() -> std::ostream& {
        ++differences;
        return out;
    };
    if (old.signatureLine() != now.signatureLine())
        line() << "first line: " << quoted(old.signatureLine(), kWhole) << " -> "
               << quoted(now.signatureLine(), kWhole) << '\n';
    const auto oldColumns = old.columnLabels();
    const auto newColumns = now.columnLabels();
    for (std::size_t c = 0; c < std::max(oldColumns.size(), newColumns.size()); ++c) {
        if (c >= newColumns.size())
            line() << "column " << named(oldColumns, static_cast<int32_t>(c)) << " removed\n";
        else if (c >= oldColumns.size())
            line() << "column " << named(newColumns, static_cast<int32_t>(c)) << " added\n";
        else if (oldColumns[c] != newColumns[c])
            line() << "column " << c << " label: " << quoted(oldColumns[c], kWhole) << " -> "
                   << quoted(newColumns[c], kWhole) << '\n';
    }
    const auto oldRows = old.rowLabels();
    const auto newRows = now.rowLabels();
    const int32_t shared = std::min(old.columnCount(), now.columnCount());
    std::size_t added = 0, removed = 0, changed = 0;
    for (int32_t r = 0; r < std::max(old.rowCount(), now.rowCount()); ++r) {
        if (r >= now.rowCount()) {
            line() << "row " << named(oldRows, r) << " removed\n";
            ++removed;
            continue;
        }
        if (r >= old.rowCount()) {
            line() << "row " << named(newRows, r) << " added\n";
            ++added;
            for (int32_t c = 0; c < now.columnCount(); ++c)
                out << "  column " << named(newColumns, c) << ": " << cellSpelling(now.cellText(r, c))
                    << '\n';
            continue;
        }
        const std::size_t at = static_cast<std::size_t>(r);
        if (oldRows[at] != newRows[at])
            line() << "row " << r << " label: " << quoted(oldRows[at], kWhole) << " -> "
                   << quoted(newRows[at], kWhole) << '\n';
        for (int32_t c = 0; c < shared; ++c) {
            const std::string_view was = old.cellText(r, c), is = now.cellText(r, c);
            if (was == is) continue;
            line() << "row " << named(newRows, r) << ", column " << named(newColumns, c) << ": "
                   << cellSpelling(was) << " -> " << cellSpelling(is) << '\n';
            ++changed;
        }
    }
    if (differences == 0) {
        out << "no differences in rows or cells";
        if (old.bytes() != now.bytes())
            out << " (the files' bytes differ: in the header, the pool-size field or the pool's layout)";
        out << '\n';
        return 0;
    }
    out << count(added, "row") << " added, " << removed << " removed, " << count(changed, "cell") << " changed\n";
    return 1;
}

// RFC 4180: a field holding a comma, a double quote or a line break is
// quoted, with its double quotes doubled; records end in CR LF.
void csvField(std::string_view text, std::string* out) {
    if (text.find_first_of(",\"\r\n") == std::string_view::npos) {
        *out += text;
        return;
    }
    *out += '"';
    for (char c : text) {
        if (c == '"') *out += '"';
        *out += c;
    }
    *out += '"';
}

int csv(const Args& args, std::istream&, std::ostream& out, std::ostream& err) {
    Table table;
    if (!loadTable(args[0], &table, err)) return 1;
    writeCsv(table, out);
    return 0;
}

int text(const Args& args, std::istream&, std::ostream& out, std::ostream& err) {
    Table table;
    if (!loadTable(args[0], &table, err)) return 1;
    if (Result written = writeTextForm(table, out); !written) {
        written.file = args[0];
        err << "twoda: " << written.description() << '\n';
        return 1;
    }
    return 0;
}

int build(const Args& args, std::istream& in, std::ostream&, std::ostream& err) {
    // "-" reads the text form from standard input.
    const bool fromInput = args[0] == "-";
    const std::string name = fromInput ? "standard input" : args[0];
    FileBytes file;
    if (fromInput) {
        workOn(name);
        file.bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        if (in.bad()) file.result = Result::failure(Status::cannotRead, "cannot read", name);
    } else {
        file = readInput(args[0], err, LookIn::disk);
    }
    if (!file.ok()) {
        err << "twoda: " << file.result.description() << '\n';
        return 1;
    }
    std::vector<uint8_t> bytes;
    if (Result built = buildNoted(asText(file.bytes), &bytes, err, "twoda: " + name + ": "); !built) {
        built.file = name;
        err << "twoda: " << built.description() << '\n';
        return 1;
    }
    workOn(args[1]);
    if (const Result written = writeFileSafely(args[1], bytes); !written) {
        err << "twoda: " << written.description() << '\n';
        return 1;
    }
    return 0;
}

// Every resource the game folder of --game can load; false (said on `err`)
// when the folder cannot be read. A texture pack that cannot be read is a
// warning, and left out.
bool readResources(ResourceIndex* index, std::ostream& err) {
    workOn(gGame);
    std::vector<Warning> warnings;
    const Result read = gGameFolder->resources(index, &warnings);
    if (read.status == Status::notEnoughMemory) throw std::bad_alloc();
    for (const Warning& warning : warnings) err << "twoda: " << warning.describe() << '\n';
    if (!read) err << "twoda: " << read.description() << '\n';
    return static_cast<bool>(read);
}

int check(const Args& args, std::istream&, std::ostream& out, std::ostream& err) {
    FileBytes file = readInput(args[0], err);
    if (!file.ok()) {
        err << "twoda: " << file.result.description() << '\n';
        return 2;
    }
    if (!checkEitherForm(file.bytes, args[0], out)) return 1;
    if (gGame.empty()) return 0;
    // With a game folder, the names the table gives are looked up in it:
    // what is not found is a warning, which leaves the table valid.
    ResourceIndex index;
    if (!readResources(&index, err)) return 2;
    Table table;
    std::ostringstream notes;  // check gave them already
    if (!loadEitherForm(std::move(file.bytes), args[0], &table, notes, "")) return 1;  // cannot happen: it was valid
    checkResourceNames(table, index, args[0], out);
    return 0;
}

// twoda list --game DIR: every 2DA table of the game and where it is; with
// --all every resource the game can load and where it is, sorted by name
// whatever the case (a folder lists its files in no set order), one name
// in several places in the order the index holds them: the override
// folder, the texture packs, the key file.
int list(const Args& args, std::istream&, std::ostream& out, std::ostream& err) {
    if (!args.empty() && args[0] != "--all") {
        err << "twoda: usage: twoda list --game DIR [--all]\nTry 'twoda --help'.\n";
        return 2;
    }
    if (!args.empty()) {
        ResourceIndex index;
        if (!readResources(&index, err)) return 1;
        std::vector<ResourceIndex::Found> all = index.all();
        std::vector<std::pair<std::string, std::size_t>> order;
        order.reserve(all.size());
        for (std::size_t i = 0; i < all.size(); ++i) order.emplace_back(foldedCase(all[i].file), i);
        std::sort(order.begin(), order.end());
        std::string line;
        for (const auto& [folded, i] : order) {
            const ResourceIndex::Found& found = all[i];
            line.assign(visible(found.file));
            line += ": ";
            line += found.where;
            line += '\n';
            out << line;
        }
        return 0;
    }
    std::vector<TableListing> tables;
    workOn(gGame);
    if (Result why = gGameFolder->list(&tables); !why) {
        err << "twoda: " << why.description() << '\n';
        return 1;
    }
    for (const TableListing& table : tables) out << table.name << ": " << table.from << '\n';
    return 0;
}

// twoda extract --game DIR NAME... -o FOLDER: the tables as stored, written
// together into FOLDER, all or none.
int extract(const Args& args, std::istream&, std::ostream&, std::ostream& err) {
    const auto o = std::find(args.begin(), args.end(), "-o");
    if (o == args.begin() || o == args.end() || o + 2 != args.end()) {
        err << "twoda: usage: twoda extract --game DIR NAME... -o FOLDER\nTry 'twoda --help'.\n";
        return 2;
    }
    const std::string& folder = *(o + 1);
    std::vector<std::vector<uint8_t>> tables;
    std::vector<std::string> names;
    for (auto name = args.begin(); name != o; ++name) {
        // A table's name, written into FOLDER: never a path that leads elsewhere.
        if (name->empty() || name->find_first_of("/\\:") != std::string::npos || *name == "." || *name == "..") {
            err << "twoda: " << quoted(*name, kWhole) << " is not a table's name\n";
            return 2;
        }
        FileBytes file = readInput(*name, err);
        if (!file.ok()) {
            err << "twoda: " << file.result.description() << '\n';
            return 1;
        }
        tables.push_back(std::move(file.bytes));
        names.push_back(folder + "/" + *name);
    }
    std::vector<std::span<const uint8_t>> parts(tables.begin(), tables.end());
    std::vector<FileToWrite> files;
    for (std::size_t i = 0; i < names.size(); ++i) files.push_back({names[i], std::span(&parts[i], 1)});
    workOn(folder);
    // A FOLDER not there yet is made (its parent must be), as a user asking
    // for the tables in it expects.
    std::error_code ec;
    if (!std::filesystem::exists(folder, ec)) {
        bool existed = false;
        if (Result why = createFolder(folder, &existed); !why) {
            err << "twoda: " << why.description() << '\n';
            return 1;
        }
    }
    const WriteResult written = writeFilesTogether(files);
    for (const Result& failure : written.failures) err << "twoda: " << failure.description() << '\n';
    return written.ok() ? 0 : 1;
}

struct Command {
    const char* name;
    std::size_t least, most;  // how many arguments it takes
    const char* arguments;
    int (*run)(const Args&, std::istream&, std::ostream&, std::ostream&);
    bool game;  // takes --game DIR; true: must have it
    bool needsGame = false;
};

constexpr Command kCommands[] = {
    {"columns", 1, 1, "FILE", columns, true},
    {"show", 1, 2, "FILE [ROWS]", show, true},
    {"find", 3, 3, "FILE COLUMN TEXT", find, true},
    {"diff", 2, 2, "OLD NEW", diff, true},
    {"csv", 1, 1, "FILE", csv, true},
    {"text", 1, 1, "FILE", text, true},
    {"build", 2, 2, "TEXT|- OUT", build, false},
    {"check", 1, 1, "FILE", check, true},
    {"list", 0, 1, "--game DIR [--all]", list, true, true},
    {"extract", 3, 4096, "--game DIR NAME... -o FOLDER", extract, true, true},
};

}  // namespace

bool checkTable(std::span<const uint8_t> bytes, const std::string& name, std::ostream& out) {
    FileLayout layout;
    if (Result shape = readLayout(bytes, &layout); !shape) {
        shape.file = name;
        out << shape.description() << '\n';
        return false;
    }
    // Past the layout, only cells can be wrong: list each one outside the pool.
    std::size_t outside = 0;
    for (std::size_t cell = 0; cell < layout.rows * layout.columns; ++cell) {
        const std::size_t at = layout.gridStart + 2 * cell;
        const std::size_t offset = format::readU16(&bytes[at]);
        if (offset < layout.poolBytes) continue;
        if (++outside <= kListedProblems)
            out << name << ": "
                << cellOutsidePool(cell / layout.columns, cell % layout.columns, offset, layout.poolBytes, at).reason
                << '\n';
    }
    if (outside > kListedProblems)
        out << name << ": and " << outside - kListedProblems << " more cells outside the string pool\n";
    if (outside > 0) return false;

    Table table;
    if (Result why; table.loadBytes(bytes, name, &why) != 0) {  // cannot happen past the checks above
        out << why.description() << '\n';
        return false;
    }
    if (table.signatureLine() != format::kSignature)
        out << name << ": note: the first line is " << quoted(table.signatureLine()) << ", not \"" << format::kSignature
            << "\"\n";
    // Without rows the bytes before the pool are read as the field, so there
    // is nothing to compare.
    if (table.rowCount() > 0 && table.poolSizeField() != table.pool().size())
        out << name << ": note: the pool-size field says " << table.poolSizeField() << " bytes and the pool holds "
            << table.pool().size() << "; headlink reads the pool to the end of the file and writes such a "
            << "field back as it is (only a field that matched the pool follows it as it grows)\n";
    out << name << ": valid: " << count(static_cast<std::size_t>(table.rowCount()), "row") << ", "
        << count(static_cast<std::size_t>(table.columnCount()), "column") << ", "
        << count(table.pool().size(), "pool byte") << " in " << count(table.poolIndex().size(), "string") << '\n';
    return true;
}

Result loadEitherForm(std::vector<uint8_t> bytes, const std::string& name, Table* table, std::ostream& notes,
                      const std::string& prefix) {
    Result why;
    if (readAsText(bytes)) {
        std::vector<uint8_t> built;
        why = buildNoted(asText(bytes), &built, notes, prefix);
        why.file = name;
        if (!why) return why;
        bytes = std::move(built);
    }
    if (table->loadBytes(std::move(bytes), name, &why) != 0) return why;
    return {};
}

bool checkEitherForm(std::span<const uint8_t> bytes, const std::string& name, std::ostream& out) {
    const std::vector<uint8_t> copy(bytes.begin(), bytes.end());
    if (!readAsText(copy)) return checkTable(bytes, name, out);
    // The text form gets the verdict `build` would give, then the check of
    // the table built.
    std::vector<uint8_t> built;
    if (Result result = buildNoted(asText(copy), &built, out, name + ": "); !result) {
        result.file = name;
        out << result.description() << '\n';
        return false;
    }
    return checkTable(built, name, out);
}

namespace {

// One bit per kind of resource.
uint8_t kindBit(ResourceKind kind) { return static_cast<uint8_t>(1u << static_cast<unsigned>(kind)); }
constexpr ResourceKind kKinds[] = {ResourceKind::texture, ResourceKind::model, ResourceKind::sound,
                                   ResourceKind::script};

// A cell that names nothing: empty, or "****", which tables write for empty.
bool emptyCell(std::string_view text) { return text.empty() || text == "****"; }

// The kinds of resource the game has named `text`, one bit each; a table
// repeats its texts, so each is looked up once.
class KindsNamed {
public:
    explicit KindsNamed(const ResourceIndex& index) : index_(index) {}
    uint8_t operator()(std::string_view text) {
        auto [at, added] = seen_.try_emplace(std::string(text), uint8_t{0});
        if (added)
            for (const ResourceIndex::Found& found : index_.find(text)) at->second |= kindBit(kindOf(found.type));
        return at->second;
    }

private:
    const ResourceIndex& index_;
    std::unordered_map<std::string, uint8_t> seen_;
};

// The kind column `c` names: the one most of its non-empty values name, if
// at least half do; else none.
ResourceKind columnKind(const Table& table, int32_t c, KindsNamed& kinds) {
    std::size_t values = 0;
    std::array<std::size_t, std::size(kKinds)> named{};
    for (int32_t r = 0; r < table.rowCount(); ++r) {
        const std::string_view text = table.cellText(r, c);
        if (emptyCell(text)) continue;
        ++values;
        const uint8_t found = kinds(text);
        for (std::size_t k = 0; k < named.size(); ++k) named[k] += (found & kindBit(kKinds[k])) != 0;
    }
    const auto most = std::max_element(named.begin(), named.end());
    if (*most == 0 || 2 * *most < values) return ResourceKind::none;
    return kKinds[static_cast<std::size_t>(most - named.begin())];
}

// Why `text` is no `kind` the game can load, and the one name of that kind
// close to it, if there is exactly one.
std::string notLoadable(std::string_view text, ResourceKind kind, const ResourceIndex& index) {
    std::string why;
    if (text.size() > kResourceNameBytes) {
        why = "longer than " + std::to_string(kResourceNameBytes) + " characters: the game can never load a ";
        why += kindName(kind);
        why += " of that name";
        return why;
    }
    why = "no ";
    why += kindName(kind);
    why += " of that name in the game";
    const std::vector<std::string> near = index.near(text, kind);
    if (near.size() != 1) return why;
    for (const ResourceIndex::Found& found : index.find(near[0])) {
        if (kindOf(found.type) != kind) continue;
        why += "; did you mean ";
        why += quoted(near[0], kWhole);
        why += " (";
        why += found.where;
        why += ")?";
        break;
    }
    return why;
}

}  // namespace

std::size_t checkResourceNames(const Table& table, const ResourceIndex& index, const std::string& name,
                               std::ostream& out) {
    KindsNamed kinds(index);
    const auto labels = table.columnLabels();
    const auto rowLabels = table.rowLabels();
    std::size_t warned = 0;
    for (int32_t c = 0; c < table.columnCount(); ++c) {
        const ResourceKind kind = columnKind(table, c, kinds);
        if (kind == ResourceKind::none) continue;
        for (int32_t r = 0; r < table.rowCount(); ++r) {
            const std::string_view text = table.cellText(r, c);
            if (emptyCell(text) || (kinds(text) & kindBit(kind)) != 0) continue;
            out << name << ": warning: row " << named(rowLabels, r) << ", column " << named(labels, c) << ": "
                << quoted(text, kWhole) << ": " << notLoadable(text, kind, index) << '\n';
            ++warned;
        }
    }
    return warned;
}

void writeCsv(const Table& table, std::ostream& out) {
    // One record at a time, so that a table of long texts is never held whole.
    std::string record;
    for (std::string_view label : table.columnLabels()) {
        record += ',';
        csvField(label, &record);
    }
    record += "\r\n";
    out << record;
    const auto rowLabels = table.rowLabels();
    for (int32_t r = 0; r < table.rowCount(); ++r) {
        record.clear();
        csvField(rowLabels[static_cast<std::size_t>(r)], &record);
        for (int32_t c = 0; c < table.columnCount(); ++c) {
            record += ',';
            csvField(table.cellText(r, c), &record);
        }
        record += "\r\n";
        out << record;
    }
}

const char* twodaUsage() {
    return "Usage: twoda COMMAND ARGUMENTS\n"
           "See what is in a binary 2DA table, what changed, and convert it.\n"
           "\n"
           "  twoda columns FILE          column numbers and labels; in appearance.2da and\n"
           "                              portraits.2da, where headlink writes its links\n"
           "  twoda show FILE [ROWS]      rows as aligned text; ROWS like 5, 10-20, 300-\n"
           "                              or several joined by commas\n"
           "  twoda find FILE COLUMN TEXT the row a patch script keyed on this column and\n"
           "                              text would reuse, or why none would\n"
           "  twoda diff OLD NEW          rows added, rows removed and cells changed\n"
           "  twoda csv FILE              the table as CSV (RFC 4180)\n"
           "  twoda text FILE             the table in the plain-text form (2DA V2.0)\n"
           "  twoda build TEXT OUT        the plain-text form -> a binary table\n"
           "                              (TEXT - reads standard input)\n"
           "  twoda check FILE            every problem that stops headlink loading it;\n"
           "                              with --game DIR, also the names of models,\n"
           "                              textures, sounds and scripts the game lacks\n"
           "  twoda list --game DIR       every 2DA table of the game folder DIR, and where\n"
           "                              the application takes it from\n"
           "  twoda list --game DIR --all every resource the game can load, and where it is\n"
           "  twoda extract --game DIR NAME... -o FOLDER\n"
           "                              tables of the game written into FOLDER as stored\n"
           "  twoda --help | --version\n"
           "\n"
           "Every FILE, OLD and NEW may be in either form, told apart by the first line:\n"
           "a table in the text form is read as \"twoda build\" would build it. With\n"
           "--game DIR, FILE (and OLD) is a table's name looked up in the game folder DIR\n"
           "as headlink --game looks it up: its override folder, else its archives.\n"
           "\n"
           "Exit status: 0 done (equal, valid, found); 1 a file could not be used, or\n"
           "the answer is no (different, not valid, not found); 2 a usage error, and\n"
           "for diff, check and find any other trouble.\n";
}

int runTwoda(const std::vector<std::string>& args, std::istream& in, std::ostream& out, std::ostream& err) {
    if (args.empty()) {
        err << "twoda: a command is missing\nTry 'twoda --help'.\n";
        return 2;
    }
    const Command* command = nullptr;
    for (const Command& c : kCommands)
        if (args[0] == c.name) command = &c;
    if (command == nullptr) {
        err << "twoda: unknown command " << quoted(args[0], kWhole) << "\nTry 'twoda --help'.\n";
        return 2;
    }
    // --game DIR (or --game=DIR) may stand anywhere after the command.
    Args rest;
    gGame.clear();
    bool game = false;
    for (std::size_t i = 1; i < args.size(); ++i) {
        if (args[i] == "--game" && i + 1 < args.size()) {
            gGame = args[++i];
            game = true;
        } else if (args[i].rfind("--game=", 0) == 0) {
            gGame = args[i].substr(7);
            game = true;
        } else {
            rest.push_back(args[i]);
        }
    }
    if (!gGame.empty()) gGame = gameDataFolder(gGame);  // or its steamassets subfolder, as headlink takes it
    gGameFolder = std::make_unique<Game>(gGame);
    if ((game && (!command->game || gGame.empty())) || (command->needsGame && !game) ||
        rest.size() < command->least || rest.size() > command->most) {
        err << "twoda: usage: twoda " << command->name << ' ' << command->arguments << "\nTry 'twoda --help'.\n";
        return 2;
    }
    // Never a game folder half installed: an install or undo running there
    // holds the lock for as long as it changes the folder.
    FolderLock lock;
    FolderLock::State locked = FolderLock::State::held;
    if (game && lock.take(gGame, false, kGameLockWaitMs, &locked) && locked != FolderLock::State::held) {
        err << "twoda: " << gGame << ": "
            << (locked == FolderLock::State::busy ? kGameBusy
                                                  : "warning: this file system cannot lock the game folder: an install "
                                                    "beside this could be read half done")
            << '\n';
        if (locked == FolderLock::State::busy) return 2;
    }
    workOn("");
    int status = 2;
    try {
        if (!game) {
            status = command->run(rest, in, out, err);
        } else {
            // Run again, what it said held back, when an install or undo
            // came and went meanwhile (on Windows a reader holds no lock).
            std::ostringstream said, warned;
            const bool steady = readSteadily(gGame, [&] {
                said.str({});
                warned.str({});
                gGameFolder = std::make_unique<Game>(gGame);
                status = command->run(rest, in, said, warned);
            });
            // Let go before printing: a reader at a pager holds no install off.
            lock.release();
            out << said.str();
            err << warned.str();
            if (!steady) {
                err << "twoda: " << gGame << ": " << kGameBusy << '\n';
                return 2;
            }
        }
    } catch (const std::bad_alloc&) {
        // Always exit status 2, as for any trouble that is not the answer.
        err << "twoda: " << workingOn() << (workingOn()[0] != '\0' ? ": " : "") << kNotEnoughMemory << '\n';
        return 2;
    }
    if (!out.flush()) {
        err << "twoda: standard output: cannot write\n";
        return 2;
    }
    return status;
}

}  // namespace headlink
