// Writes the fuzz targets' seed corpora: make_seeds CORPUS_DIR
//
// CORPUS_DIR/table/ gets table files (the example kit, odd but valid tables,
// tables at the format's limits, and one file for each way the loader
// rejects a file); CORPUS_DIR/script/ a table and a script in the framing of
// fuzz_script; CORPUS_DIR/run/ eight files in the framing of fuzz_run;
// CORPUS_DIR/twoda/ text and binary tables; CORPUS_DIR/game/ a key file and
// an archive or a texture pack in the framing of fuzz_game. The output is the same on every
// run, so the committed corpus can be rebuilt.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/archive_builder.h"
#include "tests/support/fixtures.h"
#include "tests/support/table_builder.h"

namespace fs = std::filesystem;
using headlink::testing::buildTable;
using headlink::testing::Bytes;
using headlink::testing::bytesOf;
using headlink::testing::exampleFile;
using headlink::testing::gridLayout;
using headlink::testing::Kit;
using headlink::testing::numberedLabels;
using headlink::testing::TableLayout;

namespace {

fs::path corpus;

void write(const std::string& folder, const std::string& name, const Bytes& bytes) {
    fs::create_directories(corpus / folder);
    if (!headlink::testing::writeBytes(corpus / folder / name, bytes)) {
        std::fprintf(stderr, "make_seeds: cannot write %s/%s\n", folder.c_str(), name.c_str());
        std::exit(1);
    }
}

// Small tables shaped like the run's three (the run needs appearance to
// have 11 columns or more and portraits 9 or more).
Bytes smallHeads() {
    return buildTable(gridLayout({"label", "model", "texture", "gender", "race", "skin"},
                                 {{"head_a", "hd_a", "tx_a", "f", "elf", "pale"},
                                  {"head_b", "hd_b", "tx_b", "m", "elf", "dark"},
                                  {"Head_C", "hd_c", "****", "f", "dwarf", ""},
                                  {"head_d", "hd_b", "tx_b", "m", "HUMAN", "pale"}}));
}

Bytes smallAppearance() {
    return buildTable(gridLayout({"label", "name", "model", "tex", "race", "gender", "size", "walk", "run",
                                  "portrait", "head", "speed"},
                                 {{"ElfFemale", "1001", "m_ef", "t_ef", "elf", "f", "1", "2", "4", "po_ef", "0", "slow"},
                                  {"ElfMale", "1002", "m_em", "t_em", "elf", "m", "1", "2", "4", "po_em", "1", "fast"},
                                  {"Dwarf", "1003", "m_dw", "****", "dwarf", "m", "0", "1", "3", "****", "2", "slow"}}));
}

Bytes smallPortraits() {
    return buildTable(gridLayout({"label", "base", "main", "gender", "race", "plot", "lowgore", "alt1", "alt2"},
                                 {{"po_ef", "po_ef_", "0", "f", "elf", "0", "****", "0", "0"},
                                  {"po_em", "po_em_", "1", "m", "elf", "0", "****", "1", "1"},
                                  {"po_dw", "po_dw_", "2", "m", "dwarf", "1", "****", "2", "2"}}));
}

// Raw pools: "dup" stored twice (and once as "DUP"), with rows pointing at
// each copy and into the middle of a string.
Bytes duplicatesTable() {
    TableLayout layout = gridLayout({"a", "b"}, {});
    layout.rowLabels = numberedLabels(3);
    layout.rawPool = bytesOf(std::string("first\0dup\0DUP\0dup\0mid-string\0", 29));
    layout.rawGrid = {0, 6, 10, 14, 20, 24};
    return buildTable(layout);
}

// Rows but no pool at all: every cell points nowhere, so it is rejected.
Bytes emptyPoolTable() {
    TableLayout layout = gridLayout({"a", "b"}, {});
    layout.rowLabels = numberedLabels(2);
    layout.rawPool = Bytes{};
    layout.rawGrid = {0, 0, 5, 7};
    return buildTable(layout);
}

// One cell one past the end of the pool: rejected.
Bytes danglingOffsetTable() {
    TableLayout layout = gridLayout({"a", "b"}, {});
    layout.rowLabels = numberedLabels(2);
    layout.rawPool = bytesOf(std::string("x\0yz\0", 5));
    layout.rawGrid = {0, 2, 3, 5};
    return buildTable(layout);
}

// A pool of 65,529 bytes: six bytes from the 16-bit limit.
Bytes nearlyFullPoolTable() {
    return buildTable(gridLayout({"a", "b"}, {{"small", std::string(65515, 'p')}, {"tiny", "x"}}));
}

void putU16(Bytes& out, std::size_t v) {
    out.push_back(static_cast<uint8_t>(v & 0xFF));
    out.push_back(static_cast<uint8_t>((v >> 8) & 0xFF));
}

// Two files in one input: the first one's 4-byte length, it, the second.
Bytes framed(const Bytes& first, const Bytes& second) {
    Bytes out;
    putU16(out, first.size() & 0xFFFF);
    putU16(out, first.size() >> 16);
    out.insert(out.end(), first.begin(), first.end());
    out.insert(out.end(), second.begin(), second.end());
    return out;
}

// fuzz_script's framing: the table, then the script.
Bytes scriptInput(const Bytes& table, const std::string& script) { return framed(table, bytesOf(script)); }

// fuzz_run's framing: the eight files in run order, each length-prefixed;
// a file the kit lacks is one that cannot be opened.
Bytes runInput(const Kit& kit) {
    Bytes out;
    for (const char* name : headlink::testing::kKitFiles) {
        const auto file = kit.find(name);
        if (file == kit.end()) {
            putU16(out, 0xFFFF);
            continue;
        }
        putU16(out, file->second.size());
        out.insert(out.end(), file->second.begin(), file->second.end());
    }
    return out;
}

// The run seeds' kit: the small tables above and five scripts.
Kit seedKit() {
    return {{"appearance.2da", smallAppearance()},
            {"heads.2da", smallHeads()},
            {"portraits.2da", smallPortraits()},
            {"head.txt", bytesOf("1 0 head_new 1 hd_new 2 tx_new\n")},
            {"apphead1.txt", bytesOf("1 0 ElfMaleNew 3 t_new\n")},
            {"apphead2.txt", bytesOf("3 0 ElfMaleNewCloak 2 m_cloak\n")},
            {"apphead3.txt", bytesOf("0 0 elfmalenew 11 quick\n")},
            {"portraits.txt", bytesOf("1 0 po_new 3 m end: a note\n")}};
}

void tableSeeds() {
    for (const char* name : {"appearance.2da", "heads.2da", "portraits.2da"})
        write("table", std::string("example-") + name, exampleFile(name));
    write("table", "small-heads", smallHeads());
    write("table", "small-appearance", smallAppearance());
    write("table", "small-portraits", smallPortraits());

    TableLayout none;  // no columns, no rows
    write("table", "no-columns-no-rows", buildTable(none));
    TableLayout columnsOnly;
    columnsOnly.columns = {"a", "b"};
    write("table", "columns-no-rows", buildTable(columnsOnly));
    TableLayout rowsOnly;
    rowsOnly.rowLabels = numberedLabels(3);
    rowsOnly.cells = {{}, {}, {}};
    write("table", "rows-no-columns", buildTable(rowsOnly));

    TableLayout tabFirst = gridLayout({"a", "b"}, {{"x", "y"}});
    tabFirst.signature = "\tsig\n";  // a tab at position 0 is not a column
    write("table", "tab-at-start", buildTable(tabFirst));

    TableLayout oddLabels = gridLayout({"a"}, {{"x"}, {"y"}});
    oddLabels.rowLabels = {"", "row\x01\xFF"};
    write("table", "odd-row-labels", buildTable(oddLabels));
    oddLabels.upperRowCount = 0x0909;  // more than 65,535 rows: rejected
    write("table", "upper-row-count-set", buildTable(oddLabels));

    write("table", "raw-duplicates-and-mid-string", duplicatesTable());
    write("table", "raw-empty-pool", emptyPoolTable());
    write("table", "dangling-offset", danglingOffsetTable());
    TableLayout sizeField = gridLayout({"a", "b"}, {{"x", "Yy"}, {"\xC3\xA9t\xC3\xA9", "x"}});
    sizeField.poolSizeField = 1234;
    write("table", "pool-size-field-disagrees", buildTable(sizeField));

    // At the limits: a pool a few bytes short of 65,535, and 65,534 rows.
    write("table", "pool-nearly-full", nearlyFullPoolTable());
    TableLayout manyRows;
    manyRows.rowLabels = std::vector<std::string>(65534, "");
    manyRows.cells = std::vector<std::vector<std::string>>(65534);
    write("table", "rows-nearly-max", buildTable(manyRows));

    // Each way the loader rejects a file.
    const Bytes good = buildTable(gridLayout({"a", "b"}, {{"x", "y"}, {"z", "y"}}));
    write("table", "bad-empty", {});
    write("table", "bad-no-nul", bytesOf("2DA BIN1\na\tb\t"));
    write("table", "bad-short-row-count", Bytes{'2', 'D', 'A', '\n', 'a', '\t', 0, 2, 0, 0});
    Bytes few = bytesOf("2DA\na\tb\t");
    for (uint8_t b : Bytes{0, 5, 0, 0, 0}) few.push_back(b);  // five rows declared
    for (uint8_t b : bytesOf("0\t1\t")) few.push_back(b);   // but two labels
    few.insert(few.end(), 16, 0);
    write("table", "bad-few-row-labels", few);
    write("table", "bad-grid-past-end", Bytes(good.begin(), good.end() - 12));
    TableLayout bigPool = gridLayout({"a"}, {{std::string(65535, 'b')}});
    write("table", "bad-pool-too-big", buildTable(bigPool));
    Bytes noNul = good;
    noNul.back() = 'y';
    write("table", "bad-pool-no-final-nul", noNul);
}

void scriptSeeds() {
    const Bytes heads = smallHeads();
    const std::vector<std::pair<std::string, std::string>> scripts = {
        {"append", "1 0 head_new 1 hd_new 2 tx_new 5 pale\n"},
        {"found-other-case", "1 0 HEAD_B 3 F\n"},
        {"found-sets-key-column", "0 0 head_d 0 head_e 1 x\n"},
        {"hex-and-octal", "0x1 00 k_hex 0X2 v 03 w 0x5 0x1F\n"},
        {"signs", "+1 -0 k_sign +2 v\n"},
        {"crlf", "1\r\n0\r\nk_crlf\r\n1 v\r\n"},
        {"ctrl-z-ends", std::string("1 0 k_eof 1 v\x1A 2 ignored\n")},
        {"nul-in-values", std::string("1 0 ke\0y 1 v\0w 2 \0\n", 20)},
        {"nul-token", std::string("1 0 k \0 3\n", 10)},
        {"bom", "\xEF\xBB\xBF" "1 0 k_bom\n"},
        {"long-value", "1 0 " + std::string(300, 'L') + " 1 " + std::string(40, 'v') + "\n"},
        {"long-number", "1 0 k 000000000000000001 v\n"},
        {"huge-numbers", "99999999999 0 k\n"},
        {"octal-eight", "1 0 k 08 v\n"},
        {"hex-prefix-only", "1 0 k 0x v\n"},
        {"number-runs-into-word", "1 0 k 2abc v\n"},
        {"trailing-note", "1 0 k_note 1 v end: 3 more 4 words\n"},
        {"column-twice", "1 0 k_twice 1 a 1 B 2 b 2 A\n"},
        {"value-reuses-case", "1 0 K_REUSE 1 HD_A 2 Tx_B 4 ELF\n"},
        {"key-is-first-text", "1 0 head_a 1 x\n"},
        {"other-whitespace", "1\t0\vk_ws\f1\rv\n"},
        {"empty", ""},
        {"only-space", " \r\n\t "},
        {"template-out-of-range", "4 0 k\n"},
        {"negative-template", "-1 0 k\n"},
        {"column-out-of-range", "1 6 k\n"},
        {"no-key-value", "1 0"},
        {"pair-without-value", "1 0 k 1"},
        {"pair-column-out-of-range", "1 0 k 1 a 7 b\n"},
        {"word-instead-of-template", "first 0 k\n"},
        {"utf16-little", std::string("\xFF\xFE" "1\0 \0" "0\0 \0" "k\0", 12)},
        {"utf16-without-mark", std::string("1\0 \0" "0\0 \0" "k\0", 10)},
        {"utf16-big", std::string("\0" "1\0 \0" "0\0 \0k", 10)},
        {"cut-short-by-a-word", "1 0 k_cut 1 Moon Elf 2 x\n"},
        {"note-mid-script", "1 0 k_note2\n1 v ; a note\n2 w\n"},
        {"quoted-value", "1 0 k_quote 1 \"Moon Elf\"\n"},
    };
    for (const auto& [name, script] : scripts) write("script", name, scriptInput(heads, script));

    const std::vector<std::pair<const char*, const char*>> examples = {
        {"heads.2da", "head.txt"}, {"appearance.2da", "apphead1.txt"}, {"appearance.2da", "apphead3.txt"}};
    for (const auto& [table, name] : examples) {
        const Bytes script = exampleFile(name);
        write("script", std::string("example-") + name,
              scriptInput(exampleFile(table), std::string(script.begin(), script.end())));
    }

    const Bytes full = nearlyFullPoolTable();
    write("script", "pool-full-new-text", scriptInput(full, "1 0 new_text_too_long_for_the_pool\n"));
    write("script", "pool-full-reuse", scriptInput(full, "0 0 TINY 1 SMALL\n"));

    const Bytes dupTable = duplicatesTable();
    write("script", "duplicates-second-copy", scriptInput(dupTable, "0 0 DUP 1 first\n"));
    write("script", "duplicates-first-copy", scriptInput(dupTable, "0 1 dup 0 x\n"));
    // The template's second cell points into the middle of a string; the
    // new row carries that offset over.
    TableLayout carried = gridLayout({"a", "b"}, {});
    carried.rowLabels = numberedLabels(1);
    carried.rawPool = bytesOf(std::string("a\0bcd\0", 6));
    carried.rawGrid = {0, 3};
    write("script", "carried-mid-string-offset", scriptInput(buildTable(carried), "0 0 keyvalue\n"));
    TableLayout noColumns;
    noColumns.rowLabels = numberedLabels(2);
    noColumns.cells = {{}, {}};
    write("script", "no-columns", scriptInput(buildTable(noColumns), "0 0 k\n"));
}

void runSeeds() {
    write("run", "example-kit", runInput(headlink::testing::exampleKit()));
    write("run", "small-kit", runInput(seedKit()));

    Kit k = seedKit();
    k.erase("apphead2.txt");
    write("run", "missing-script", runInput(k));
    k = seedKit();
    k.erase("heads.2da");
    write("run", "missing-table", runInput(k));
    k = seedKit();
    k["portraits.2da"].back() = 'x';
    write("run", "malformed-portraits", runInput(k));
    k = seedKit();
    k["appearance.2da"] = smallHeads();
    write("run", "appearance-too-narrow", runInput(k));
    k = seedKit();
    k["portraits.2da"] = smallHeads();
    write("run", "portraits-too-narrow", runInput(k));
    k = seedKit();
    k["portraits.txt"] = bytesOf("\xEF\xBB\xBF" "1 0 po_new\n");
    write("run", "bom-script", runInput(k));
    k = seedKit();
    k["apphead1.txt"] = Bytes{};
    write("run", "empty-script", runInput(k));
    k = seedKit();
    k["head.txt"] = bytesOf("0 0 head_b\n");
    k["apphead1.txt"] = bytesOf("0 0 ElfMale\n");
    k["apphead2.txt"] = bytesOf("0 0 DWARF 10 9\n");
    k["apphead3.txt"] = bytesOf("0 0 elfmale\n");
    k["portraits.txt"] = bytesOf("0 0 po_dw 2 7 7 7 8 7\n");
    write("run", "all-rows-found", runInput(k));
    k = seedKit();
    k["apphead1.txt"] = bytesOf("1 0 SameKey 10 head\n");
    k["apphead2.txt"] = bytesOf("3 0 samekey 11 x\n");
    k["apphead3.txt"] = bytesOf("3 10 1\n");
    write("run", "same-key-and-link-column-keys", runInput(k));
    // Tables labelled as the game labels them: the links go where the labels say.
    k = seedKit();
    k["appearance.2da"] = buildTable(gridLayout({"label", "normalhead", "backuphead"}, {{"ElfMale", "0", "1"}}));
    k["portraits.2da"] = buildTable(gridLayout({"label", "AppearanceNumber", "appearance_s", "appearance_l", "base"},
                                               {{"po_em", "0", "0", "0", "po_em_"}}));
    k["apphead3.txt"] = bytesOf("0 0 elfmalenew 2 quick\n");
    write("run", "labelled-links", runInput(k));
    k["portraits.2da"] = buildTable(gridLayout({"label", "a", "appearance_s", "c", "d", "e", "f", "g", "h"},
                                               {{"po_em", "0", "0", "0", "po_em_", "", "", "", ""}}));
    write("run", "label-takes-a-fixed-column", runInput(k));
    k = seedKit();
    k["head.txt"] = bytesOf("5 0 k\n");
    write("run", "head-script-fails", runInput(k));
    k = seedKit();
    k["apphead3.txt"] = bytesOf("9 0 k\n");
    write("run", "apphead3-fails", runInput(k));
}

// twoda reads its input both as the text form and as a binary table.
void twodaSeeds() {
    for (const char* name : {"appearance.2da", "heads.2da", "portraits.2da"}) {
        write("twoda", std::string("example-text-") + name, exampleFile(std::string("text/") + name));
        write("twoda", std::string("example-") + name, exampleFile(name));
        if (std::string(name) == "heads.2da") {
            // A binary table may begin with any line, even the text form's.
            Bytes renamed = exampleFile(name);
            renamed[7] = '0';  // "2DA V2.b" -> "2DA V2.0"
            write("twoda", "binary-with-text-first-line", renamed);
        }
    }
    write("twoda", "quoted-and-empty",
          bytesOf("2DA V2.0\r\n\r\n  name \"\" note\r\n0 \"two words\" **** \"****\"\r\n\"\" a\"b x y\r\n"));
    write("twoda", "default-line", bytesOf("2DA V2.0\nDEFAULT: ****\na b\n0 x y\n"));
    write("twoda", "unclosed-quote", bytesOf("2DA V2.0\n\na\n0 \"x\n"));
    write("twoda", "dangling-offset", danglingOffsetTable());
    write("twoda", "short-rows", bytesOf("2DA V2.0\n\na b c\n0 x\n1\n2 x y z\n"));
    write("twoda", "duplicates", duplicatesTable());
}


// fuzz_game's framing: the key, then the archive (or texture pack).
Bytes gameInput(const Bytes& key, const Bytes& archive) { return framed(key, archive); }

Bytes patched32(Bytes bytes, std::size_t at, uint32_t value) {
    headlink::testing::setU32(bytes, at, value);
    return bytes;
}

// A key of two archives whose first holds a table, the heads table and a
// text resource, and that archive; then each of them damaged one way.
void gameSeeds() {
    using headlink::testing::buildArchive;
    using headlink::testing::buildKey;
    const Bytes archive = buildArchive({{2017, smallHeads()}, {2017, smallPortraits()}, {10, bytesOf("note")}});
    // Archive records at 64 and 76, names at 88 ("data\\tables.bif") and
    // 104, entries from 110 (ids at 128, 150, 172, 194).
    const Bytes key = buildKey({{"data\\tables.bif", static_cast<uint32_t>(archive.size())}, {"x.bif", 20}},
                               {{"heads", 2017, 0, 0},
                                {"portraits_sixtee", 2017, 0, 1},
                                {"note", 10, 0, 2},
                                {"elsewhere", 2017, 1, 7}});
    write("game", "key-and-archive", gameInput(key, archive));
    write("game", "empty", gameInput(buildKey({}, {}), buildArchive({})));
    headlink::testing::KeyLayout odd;
    odd.archives = {{"a.bif", 1}};
    odd.entries = {{"heads", 2017, 0, 1}, {"last", 2017, 0, 0xFFFFF}};
    odd.archiveTableAt = 300;
    odd.entryTableAt = 64;
    Bytes upperBits = archive;
    headlink::testing::setU32(upperBits, 36, 0x00500001);  // entry 1's id with archive bits set
    write("game", "odd-layout-and-upper-id-bits", gameInput(buildKey(odd), upperBits));

    // Damaged keys, with the good archive.
    write("game", "key-cut-in-header", gameInput(Bytes(key.begin(), key.begin() + 40), archive));
    write("game", "key-archive-count-huge", gameInput(patched32(key, 8, 0xFFFFFFFF), archive));
    write("game", "key-entry-count-huge", gameInput(patched32(key, 12, 0xFFFFFFFF), archive));
    write("game", "key-archive-table-in-header", gameInput(patched32(key, 16, 32), archive));
    write("game", "key-entry-table-past-end", gameInput(patched32(key, 20, 5000), archive));
    write("game", "key-tables-overlap", gameInput(patched32(key, 20, 70), archive));
    write("game", "key-name-past-end", gameInput(patched32(key, 68, 0xFFFFFFF0), archive));
    write("game", "key-entry-archive-past-count", gameInput(patched32(key, 194, 0x00200007), archive));

    // Damaged archives, with the good key.
    write("game", "archive-cut-in-header", gameInput(key, Bytes(archive.begin(), archive.begin() + 12)));
    write("game", "archive-entry-count-huge", gameInput(key, patched32(archive, 8, 0xFFFFFFFF)));
    write("game", "archive-table-in-header", gameInput(key, patched32(archive, 16, 4)));
    write("game", "archive-id-disagrees", gameInput(key, patched32(archive, 20, 2)));
    write("game", "archive-size-past-end", gameInput(key, patched32(archive, 28, 0xFFFFFFF0)));
    write("game", "archive-fewer-entries-than-key", gameInput(key, patched32(archive, 8, 1)));

    // Texture packs in the archive's place (fuzz_game reads those bytes as
    // a pack too), with the good key: a whole one, then each damaged one way.
    // Header fields: the entry count at 16, the key list's offset at 24
    // (160), the resource list's at 28 (160 + 24 * 3 = 232).
    using headlink::testing::buildPack;
    const Bytes pack = buildPack({{"tx_el_f01", 3007}, {"tx_el_f_moonveil", 3}, {"hd_el_f01", 2002}});
    write("game", "pack", gameInput(key, pack));
    write("game", "pack-typed-mod", gameInput(key, buildPack({{"a", 2033}}, "MOD ")));
    write("game", "pack-empty", gameInput(key, buildPack({})));
    Bytes version = pack;
    version[7] = '1';  // "V1.1"
    write("game", "pack-other-version", gameInput(key, version));
    write("game", "pack-cut-in-header", gameInput(key, Bytes(pack.begin(), pack.begin() + 100)));
    write("game", "pack-cut-in-key-list", gameInput(key, Bytes(pack.begin(), pack.begin() + 200)));
    write("game", "pack-entry-count-huge", gameInput(key, patched32(pack, 16, 0xFFFFFFFF)));
    write("game", "pack-key-list-in-header", gameInput(key, patched32(pack, 24, 100)));
    write("game", "pack-key-list-past-end", gameInput(key, patched32(pack, 24, 5000)));
    write("game", "pack-lists-overlap", gameInput(key, patched32(pack, 28, 200)));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_seeds CORPUS_DIR\n");
        return 2;
    }
    corpus = argv[1];
    tableSeeds();
    scriptSeeds();
    runSeeds();
    twodaSeeds();
    gameSeeds();
    return 0;
}
