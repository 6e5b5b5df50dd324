// The key file and archive readers: small files written out byte by byte
// and read back to literal values, odd but valid layouts, and one case per
// way a damaged or hostile file is refused, with its reason and offset.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "game/archive.h"
#include "game/find.h"
#include "game/record.h"
#include "tests/support/archive_builder.h"

namespace headlink {
namespace {

using Bytes = std::vector<uint8_t>;

// Two archives, three entries: 170 bytes.
const Bytes kKey = {
    // header: signature, 2 archives, 3 entries, archive table at 64,
    // entry table at 104, build year 125, day 40, 32 reserved bytes
    'K', 'E', 'Y', ' ', 'V', '1', ' ', ' ', 2, 0, 0, 0, 3, 0, 0, 0, 64, 0, 0, 0, 104, 0, 0, 0,
    125, 0, 0, 0, 40, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    // archive 0 at 64: 4,096 bytes, name at 88 of 11 bytes (its NUL counted), drives 1
    0x00, 0x10, 0, 0, 88, 0, 0, 0, 11, 0, 1, 0,
    // archive 1 at 76: 57 bytes, name at 99 of 5 bytes (no NUL), drives 1
    57, 0, 0, 0, 99, 0, 0, 0, 5, 0, 1, 0,
    // names at 88 and 99
    'd', 'a', 't', 'a', '\\', 'a', '.', 'b', 'i', 'f', 0, 'b', '.', 'b', 'i', 'f',
    // entry 0 at 104: "appearance", type 2017, archive 0 index 0
    'a', 'p', 'p', 'e', 'a', 'r', 'a', 'n', 'c', 'e', 0, 0, 0, 0, 0, 0, 0xE1, 0x07, 0, 0, 0, 0,
    // entry 1 at 126: a name of 16 characters (no NUL), type 2017, archive 1 index 5
    's', 'i', 'x', 't', 'e', 'e', 'n', '_', 'c', 'h', 'a', 'r', 's', '_', 'a', 'b', 0xE1, 0x07,
    0x05, 0x00, 0x10, 0x00,
    // entry 2 at 148: "x", type 10, archive 1 index 1,048,575 (all 20 bits)
    'x', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 10, 0, 0xFF, 0xFF, 0x1F, 0x00,
};

// Two resources: 57 bytes.
const Bytes kArchive = {
    // header: signature, 2 entries, 0 fixed resources, entry table at 20
    'B', 'I', 'F', 'F', 'V', '1', ' ', ' ', 2, 0, 0, 0, 0, 0, 0, 0, 20, 0, 0, 0,
    // entry 0 at 20: id 0, 3 bytes at 52, type 2017
    0, 0, 0, 0, 52, 0, 0, 0, 3, 0, 0, 0, 0xE1, 0x07, 0, 0,
    // entry 1 at 36: id 0x00300001 (upper bits set, index 1), 2 bytes at 55, type 10
    0x01, 0x00, 0x30, 0x00, 55, 0, 0, 0, 2, 0, 0, 0, 10, 0, 0, 0,
    // the resources' bytes at 52
    'a', 'b', 'c', 'd', 'e',
};

// The three archive calls in turn, as a caller holding the whole file
// makes them.
Result readEntry(const Bytes& file, uint32_t index, ArchiveEntry* entry, uint64_t* recordOffset) {
    ArchiveHeader header;
    const std::span<const uint8_t> bytes(file);
    Result r = readArchiveHeader(bytes.first(std::min<std::size_t>(bytes.size(), 20)), bytes.size(), &header);
    if (!r) return r;
    r = archiveEntryAt(header, index, bytes.size(), recordOffset);
    if (!r) return r;
    return readArchiveEntry(bytes.subspan(*recordOffset, 16), index, bytes.size(), *recordOffset, entry);
}

void expectEntry(const KeyEntry& e, const std::string& name, uint16_t type, uint32_t archive, uint32_t index) {
    EXPECT_EQ(e.name, name);
    EXPECT_EQ(e.type, type) << name;
    EXPECT_EQ(e.archive, archive) << name;
    EXPECT_EQ(e.index, index) << name;
}

TEST(GameKey, ReadsAKeyByteByByte) {
    ASSERT_EQ(kKey.size(), 170u);
    KeyFile key;
    const Result r = readKey(kKey, &key);
    ASSERT_TRUE(r) << r.reason;
    ASSERT_EQ(key.archives.size(), 2u);
    EXPECT_EQ(key.archives[0].name, "data\\a.bif");
    EXPECT_EQ(key.archives[0].size, 4096u);
    EXPECT_EQ(key.archives[1].name, "b.bif");
    EXPECT_EQ(key.archives[1].size, 57u);
    ASSERT_EQ(key.entries.size(), 3u);
    expectEntry(key.entries[0], "appearance", 2017, 0, 0);
    expectEntry(key.entries[1], "sixteen_chars_ab", 2017, 1, 5);
    expectEntry(key.entries[2], "x", 10, 1, 1048575);
}

TEST(GameKey, ReadsTablesWhereverTheHeaderPlacesThem) {
    struct Case {
        const char* what;
        std::optional<uint32_t> archiveTableAt, entryTableAt;
    };
    const std::vector<Case> cases = {
        {"usual order", {}, {}},
        {"entries first", 200, 64},
        {"a gap after the header", 100, 300},
    };
    for (const Case& c : cases) {
        testing::KeyLayout layout;
        layout.archives = {{"a.bif", 10}, {"data\\b.bif", 20}};
        layout.entries = {{"heads", 2017, 1, 2}, {"portraits", 2017, 0, 0}};
        layout.archiveTableAt = c.archiveTableAt;
        layout.entryTableAt = c.entryTableAt;
        KeyFile key;
        const Result r = readKey(testing::buildKey(layout), &key);
        ASSERT_TRUE(r) << c.what << ": " << r.reason;
        ASSERT_EQ(key.archives.size(), 2u) << c.what;
        EXPECT_EQ(key.archives[1].name, "data\\b.bif") << c.what;
        EXPECT_EQ(key.archives[1].size, 20u) << c.what;
        ASSERT_EQ(key.entries.size(), 2u) << c.what;
        expectEntry(key.entries[0], "heads", 2017, 1, 2);
        expectEntry(key.entries[1], "portraits", 2017, 0, 0);
    }
    // No archives and no entries: whatever the offsets say, nothing is read.
    Bytes empty = testing::buildKey({}, {});
    testing::setU32(empty, 16, 0xFFFFFFFF);
    testing::setU32(empty, 20, 3);
    KeyFile key;
    key.entries.resize(4);
    ASSERT_TRUE(readKey(empty, &key));
    EXPECT_TRUE(key.archives.empty());
    EXPECT_TRUE(key.entries.empty());
}

// The key the hostile cases damage: archive records at 64 and 76 (name
// offset fields at 68 and 80, lengths at 72 and 84), names at 88 and 99,
// entries at 105 and 127 (ids at 123 and 145); 149 bytes.
Bytes goodKey() {
    return testing::buildKey({{"data\\a.bif", 100}, {"b.bif", 50}}, {{"appearance", 2017, 0, 0}, {"heads", 2017, 1, 3}});
}

// A refusal: malformed, with this reason and offset.
void expectRefusal(const Result& r, const std::string& what, const std::string& reason, std::size_t offset) {
    EXPECT_EQ(r.status, Status::malformed) << what;
    EXPECT_EQ(r.reason, reason) << what;
    EXPECT_EQ(r.offset, offset) << what;
}

// A refused key is also left empty, whatever it held before.
void expectKeyRefused(const Bytes& bytes, const std::string& what, const std::string& reason, std::size_t offset) {
    KeyFile key;
    key.archives.resize(1);
    expectRefusal(readKey(bytes, &key), what, reason, offset);
    EXPECT_TRUE(key.archives.empty() && key.entries.empty()) << what << ": not left empty";
    // Kept for one type of neither entry, every entry is checked all the same.
    expectRefusal(readKey(bytes, &key, uint16_t{2002}), what + " (one type kept)", reason, offset);
}

TEST(GameKey, RefusesKeysCutShortOrOfAnotherKind) {
    struct Case {
        const char* what;
        Bytes bytes;
        std::string reason;
        std::size_t offset;
    };
    const Bytes good = goodKey();
    ASSERT_EQ(good.size(), 149u);
    Bytes wrongVersion = good;
    wrongVersion[5] = '2';
    const std::vector<Case> cases = {
        {"empty", {}, "malformed: the key file ends inside its 64-byte header, after 0 bytes", 0},
        {"cut in the header", Bytes(good.begin(), good.begin() + 40), "malformed: the key file ends inside its 64-byte header, after 40 bytes", 40},
        {"cut in the signature", Bytes{'K', 'E', 'Y'}, "malformed: the key file ends inside its 64-byte header, after 3 bytes", 3},
        {"wrong signature", wrongVersion, "malformed: not a key file (it does not begin with \"KEY V1  \")", 0},
        {"an archive instead", testing::buildArchive({}), "malformed: not a key file (it does not begin with \"KEY V1  \")", 0},
        {"entry table one byte short", Bytes(good.begin(), good.end() - 1), "malformed: the entry table of 2 entries runs past the end of the file", 12},
    };
    for (const Case& c : cases) expectKeyRefused(c.bytes, c.what, c.reason, c.offset);
}

TEST(GameKey, RefusesAKeyWithOneBadFieldSayingWhereAndWhy) {
    struct Case {
        const char* what;
        std::size_t field;  // in goodKey(), set to `value`
        uint32_t value;
        std::string reason;
        std::size_t offset;
    };
    const std::vector<Case> cases = {
        {"archive table past the end", 16, 5000, "malformed: the archive table of 2 archives runs past the end of the file", 16},
        {"archive count overflows", 8, 0xFFFFFFFF, "malformed: the archive table of 4,294,967,295 archives runs past the end of the file", 8},
        {"archive table into the header", 16, 32, "malformed: the archive table at offset 32 runs into the 64-byte header", 16},
        {"entry table past the end", 20, 149, "malformed: the entry table of 2 entries runs past the end of the file", 20},
        {"entry count overflows", 12, 0xFFFFFFFF, "malformed: the entry table of 4,294,967,295 entries runs past the end of the file", 12},
        {"entry table into the header", 20, 0, "malformed: the entry table at offset 0 runs into the 64-byte header", 20},
        {"entry table over the archive table", 20, 70, "malformed: the entry table at offset 70 overlaps the archive table at offset 64", 20},
        {"name offset past the end", 68, 5000, "malformed: archive 0's name (11 bytes at offset 5,000) runs past the end of the file", 68},
        {"name offset overflows with its length", 68, 0xFFFFFFFF, "malformed: archive 0's name (11 bytes at offset 4,294,967,295) runs past the end of the file", 68},
        // The length 0xFFFF, and drives 1 as it was.
        {"name length past the end", 84, 0x0001FFFF, "malformed: archive 1's name (65,535 bytes at offset 99) runs past the end of the file", 84},
        {"name in the header", 68, 10, "malformed: archive 0's name at offset 10 runs into the 64-byte header", 68},
        {"entry names an archive past the count", 145, 0x00200003, "malformed: entry 1 (\"heads\") names archive 2, past the key's 2 archives", 145},
        {"entry names the last possible archive", 123, 0xFFF00000, "malformed: entry 0 (\"appearance\") names archive 4,095, past the key's 2 archives", 123},
        {"no archives for the entries", 8, 0, "malformed: entry 0 (\"appearance\") names archive 0, past the key's 0 archives", 123},
    };
    for (const Case& c : cases) {
        Bytes key = goodKey();
        testing::setU32(key, c.field, c.value);
        expectKeyRefused(key, c.what, c.reason, c.offset);
    }
}

TEST(GameArchive, ReadsAnArchiveByteByByte) {
    ASSERT_EQ(kArchive.size(), 57u);
    struct Case {
        uint32_t index;
        uint64_t recordOffset;
        uint32_t offset, size, type;
    };
    const std::vector<Case> cases = {{0, 20, 52, 3, 2017}, {1, 36, 55, 2, 10}};
    for (const Case& c : cases) {
        ArchiveEntry entry;
        uint64_t at = 0;
        const Result r = readEntry(kArchive, c.index, &entry, &at);
        ASSERT_TRUE(r) << c.index << ": " << r.reason;
        EXPECT_EQ(at, c.recordOffset) << c.index;
        EXPECT_EQ(entry.offset, c.offset) << c.index;
        EXPECT_EQ(entry.size, c.size) << c.index;
        EXPECT_EQ(entry.type, c.type) << c.index;
    }
    ArchiveHeader header;
    ASSERT_TRUE(readArchiveHeader(std::span(kArchive).first(20), kArchive.size(), &header));
    EXPECT_EQ(header.entryCount, 2u);
    EXPECT_EQ(header.entryTable, 20u);
}

TEST(GameArchive, AcceptsEmptyResourcesAndEmptyArchives) {
    // An empty resource may sit right at the end of the file.
    Bytes archive = testing::buildArchive({{2017, {'a'}}, {2017, {}}});
    ArchiveEntry entry;
    uint64_t at = 0;
    ASSERT_TRUE(readEntry(archive, 1, &entry, &at));
    EXPECT_EQ(entry.offset, 53u);
    EXPECT_EQ(entry.size, 0u);
    // No entries: the table's offset is never used, and no index is valid.
    archive = testing::buildArchive({});
    testing::setU32(archive, 16, 0xFFFFFFFF);
    ArchiveHeader header;
    ASSERT_TRUE(readArchiveHeader(archive, archive.size(), &header));
    const Result r = archiveEntryAt(header, 0, archive.size(), &at);
    EXPECT_EQ(r.reason, "malformed: entry 0 is past the archive's 0 entries");
}

TEST(GameArchive, RefusesArchivesCutShortOrOfAnotherKindOrIndexPastTheEntries) {
    struct Case {
        const char* what;
        Bytes bytes;
        uint32_t index;
        std::string reason;
        std::size_t offset;
    };
    Bytes wrongVersion = kArchive;
    wrongVersion[5] = '2';
    const std::vector<Case> cases = {
        {"empty", {}, 0, "malformed: the archive ends inside its 20-byte header, after 0 bytes", 0},
        {"cut in the header", Bytes(kArchive.begin(), kArchive.begin() + 12), 0, "malformed: the archive ends inside its 20-byte header, after 12 bytes", 12},
        {"wrong signature", wrongVersion, 0, "malformed: not an archive (it does not begin with \"BIFFV1  \")", 0},
        {"a key instead", kKey, 0, "malformed: not an archive (it does not begin with \"BIFFV1  \")", 0},
        {"entry table cut short", Bytes(kArchive.begin(), kArchive.begin() + 40), 0, "malformed: the entry table of 2 entries runs past the end of the file", 8},
        {"index past the entries", kArchive, 2, "malformed: entry 2 is past the archive's 2 entries", 8},
        {"largest index", kArchive, 0xFFFFFFFF, "malformed: entry 4,294,967,295 is past the archive's 2 entries", 8},
    };
    for (const Case& c : cases) {
        ArchiveEntry entry;
        uint64_t at = 0;
        expectRefusal(readEntry(c.bytes, c.index, &entry, &at), c.what, c.reason, c.offset);
    }
}

TEST(GameArchive, RefusesAnArchiveWithOneBadFieldSayingWhereAndWhy) {
    struct Case {
        const char* what;
        std::size_t field;  // in kArchive, set to `value`
        uint32_t value;
        uint32_t index;  // the entry asked for
        std::string reason;
        std::size_t offset;
    };
    const std::vector<Case> cases = {
        {"entry count overflows", 8, 0xFFFFFFFF, 0, "malformed: the entry table of 4,294,967,295 entries runs past the end of the file", 8},
        {"entry table past the end", 16, 5000, 0, "malformed: the entry table of 2 entries runs past the end of the file", 16},
        {"entry table into the header", 16, 4, 0, "malformed: the entry table at offset 4 runs into the 20-byte header", 16},
        {"id disagrees with the index", 20, 1, 0, "malformed: entry 0's id gives index 1", 20},
        {"id's index in the upper bits only", 36, 0x00100000, 1, "malformed: entry 1's id gives index 0", 36},
        {"resource past the end", 28, 6, 0, "malformed: entry 0's 6 bytes at offset 52 run past the end of the file", 28},
        {"offset past the end", 24, 58, 0, "malformed: entry 0's 3 bytes at offset 58 run past the end of the file", 24},
        // 52 + 0xFFFFFFF0 is 36 in 32 bits: inside the file, if summed so.
        {"offset plus size overflows 32 bits", 28, 0xFFFFFFF0, 0, "malformed: entry 0's 4,294,967,280 bytes at offset 52 run past the end of the file", 28},
    };
    for (const Case& c : cases) {
        Bytes archive = kArchive;
        testing::setU32(archive, c.field, c.value);
        ArchiveEntry entry{1, 1, 1};
        uint64_t at = 0;
        expectRefusal(readEntry(archive, c.index, &entry, &at), c.what, c.reason, c.offset);
        if (c.field >= 20) {
            EXPECT_EQ(entry.size, 0u) << c.what << ": a refused entry is not left cleared";
        }
    }
}

TEST(GameArchive, RefusesWhatTheCallerHandsInShort) {
    struct Case {
        const char* what;
        Result result;
        std::string reason;
        std::size_t offset;
    };
    ArchiveHeader header;
    ArchiveEntry entry;
    uint64_t at = 0;
    const std::vector<Case> cases = {
        {"header slice shorter than the file's header",
         readArchiveHeader(std::span(kArchive).first(10), kArchive.size(), &header),
         "malformed: only 10 of the archive header's 20 bytes were given", 10},
        {"record slice cut short", readArchiveEntry(std::span(kArchive).subspan(20, 10), 0, 57, 20, &entry),
         "malformed: entry 0's record ends after 10 of its 16 bytes", 30},
        {"a header made by hand, its record past the end", archiveEntryAt(ArchiveHeader{2, 50}, 0, 57, &at),
         "malformed: entry 0's record at offset 50 runs past the end of the file", 16},
        {"a header made by hand, its table in the header", archiveEntryAt(ArchiveHeader{2, 8}, 1, 57, &at),
         "malformed: entry 1's record at offset 24 runs into the 20-byte header", 16},
    };
    for (const Case& c : cases) expectRefusal(c.result, c.what, c.reason, c.offset);
}

// A texture pack read as the game folder's reader reads it: its header,
// then the key list the header places.
Result readPack(const Bytes& file, std::vector<std::pair<std::string, uint16_t>>* listed) {
    PackHeader header;
    const std::span<const uint8_t> bytes(file);
    Result r = readPackHeader(bytes.first(std::min<std::size_t>(bytes.size(), 160)), bytes.size(), &header);
    if (!r) return r;
    return readPackKeys(bytes.subspan(header.keyList, static_cast<std::size_t>(header.keyListBytes())), header,
                        [&](const ListedResource& e) { listed->emplace_back(std::string(e.name), e.type); });
}

TEST(GameTexturePack, ReadsItsKeyListOfEveryTypeAndRefusesABadFieldSayingWhereAndWhy) {
    using Listed = std::vector<std::pair<std::string, uint16_t>>;
    // A full 16-byte name, and the 160-byte header then 2 keys of 24 and 2 resources of 8: 224 bytes, then the names.
    const Bytes pack = testing::buildPack({{"tex_el_moon", 3007}, {"sixteen_chars_ab", 2033}}, "HAK ");
    Listed listed;
    ASSERT_TRUE(readPack(pack, &listed)) << readPack(pack, &listed).reason;
    EXPECT_EQ(listed, (Listed{{"tex_el_moon", 3007}, {"sixteen_chars_ab", 2033}}));
    listed.clear();
    ASSERT_TRUE(readPack(testing::buildPack({}), &listed));  // no entries: wherever its lists claim to be
    EXPECT_TRUE(listed.empty());
    struct Case {
        const char* what;
        std::size_t field;  // set to `value`
        uint32_t value;
        std::size_t size;   // the file cut to this many bytes
        std::string reason;
        std::size_t offset;
    };
    const std::string notAPack = "malformed: not a texture pack (it does not begin with \"ERF V1.0\", or MOD, SAV or HAK for ERF)";
    const std::vector<Case> cases = {
        {"another type", 0, 0x20464942, 260, notAPack, 0},
        {"another version", 4, 0x312E3256, 260, notAPack, 0},
        {"cut in the header", 0, 0x204B4148, 100, "malformed: the texture pack ends inside its 160-byte header, after 100 bytes", 100},
        {"entry count overflows", 16, 0xFFFFFFFF, 260, "malformed: the key list of 4,294,967,295 entries runs past the end of the file", 16},
        {"key list cut short", 0, 0x204B4148, 200, "malformed: the key list of 2 entries runs past the end of the file", 16},
        {"key list into the header", 24, 100, 260, "malformed: the key list at offset 100 runs into the 160-byte header", 24},
        {"key list past the end", 24, 5000, 260, "malformed: the key list of 2 entries runs past the end of the file", 24},
        {"resource list past the end", 28, 250, 260, "malformed: the resource list of 2 entries runs past the end of the file", 16},
        {"the lists overlap", 28, 200, 260, "malformed: the resource list at offset 200 overlaps the key list at offset 160", 28},
    };
    for (const Case& c : cases) {
        Bytes bytes = pack;
        testing::setU32(bytes, c.field, c.value);
        bytes.resize(c.size);
        listed.clear();
        expectRefusal(readPack(bytes, &listed), c.what, c.reason, c.offset);
    }
    PackHeader header;
    expectRefusal(readPackHeader(std::span(pack).first(40), pack.size(), &header), "header slice short",
                  "malformed: only 40 of the texture pack header's 160 bytes were given", 40);
    ASSERT_TRUE(readPackHeader(std::span(pack).first(160), pack.size(), &header));
    expectRefusal(readPackKeys(std::span(pack).subspan(160, 30), header, {}), "key list slice short",
                  "malformed: only 30 of the key list's 48 bytes were given", 190);
}

// The install record: what a record holds reads back exactly, names of any
// bytes included, and a record that headlink did not write as it stands is
// refused at the line that gives it away.
TEST(InstallRecord, ReadsBackWhatItWrites) {
    const std::string a(32, 'a'), b(32, 'b');
    Record record;
    record.number = 12;
    record.heads = {"moon veil", "", "back\\slash", "line\nbreak", "caf\xE9"};  // a name of no bytes is left out
    record.pack = {b, "/home/p/my packs/moon\nveil"};
    record.madeOverride = record.madeBackups = true;
    record.files = {{"override/my head.mdl", kAbsent, a},
                    {"Override/heads.2da", a, b, {FileLink::Kind::symbolic, "../store/my heads.2da"}},
                    {"Override/hd.tga", a, b, {FileLink::Kind::hard}}};
    record.temporaries = {"override/.my head.mdl.headlink-0123456789abcdef.tmp"};
    record.complete = record.undoing = true;
    const std::string text = recordText(record);
    EXPECT_EQ(text, "headlink install record\ninstall 12\nheads moon\\x20veil back\\x5Cslash line\\x0Abreak caf\\xE9\n"
                    "pack " + b + " /home/p/my\\x20packs/moon\\x0Aveil\n"
                    "made override\nmade headlink-backups\nfile override/my\\x20head.mdl absent " + a +
                        "\nfile Override/heads.2da " + a + " " + b + " symlink ../store/my\\x20heads.2da\nfile Override/hd.tga " + a +
                        " " + b + " hardlink" +
                        "\ntemporary override/.my\\x20head.mdl.headlink-0123456789abcdef.tmp\ncomplete\nundoing\n");
    Record back;
    ASSERT_TRUE(parseRecord(text, "r", &back)) << parseRecord(text, "r", &back).description();
    EXPECT_EQ(recordText(back), text);
    EXPECT_EQ(back.heads, (std::vector<std::string>{"moon veil", "back\\slash", "line\nbreak", "caf\xE9"}));
    EXPECT_EQ(back.files[0].path, "override/my head.mdl");
    EXPECT_EQ(back.files[1].link.target, "../store/my heads.2da");
    EXPECT_EQ(back.files[2].link.kind, FileLink::Kind::hard);
    EXPECT_EQ(back.pack, (PackSign{b, "/home/p/my packs/moon\nveil"}));

    // Saved by an editor with CR LF; and a record from before numbers, with
    // a raw space in a path: it reads as it always did, as number 0.
    std::string crlf;
    for (const char c : text) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    ASSERT_TRUE(parseRecord(crlf, "r", &back));
    EXPECT_EQ(recordText(back), text);
    ASSERT_TRUE(parseRecord("headlink install record\nmade override\nfile override/a b.mdl absent " + a + "\ncomplete\n",
                            "r", &back));
    EXPECT_EQ(back.number, 0u);
    EXPECT_EQ(back.files[0].path, "override/a b.mdl");
}

TEST(InstallRecord, RefusesWhatHeadlinkDidNotWriteNamingTheLine) {
    const std::string sum(32, 'c');
    const std::string head = "headlink install record\ninstall 3\nfile override/x.mdl absent " + sum + "\n";
    const struct {
        std::string text;
        int line;
        const char* why;
    } cases[] = {
        {"", 0, "it is empty"},
        {"headlink install recorder\n", 1, "the first line is not"},
        {head + "complete", 4, "its last line is cut off"},
        {head + "remove game.key\n", 4, "a line it does not know"},
        {"headlink install record\ninstall 03\n", 2, "an install number"},
        {"headlink install record\ninstall 99999999999999999999\n", 2, "an install number"},
        {head + "install 4\n", 4, "install out of its place"},
        {head + "complete\ncomplete\n", 5, "complete out of its place"},
        {head + "undoing\ncomplete\n", 5, "complete out of its place"},
        {head + "made data\n", 4, "made out of its place"},
        {"headlink install record\nmade data\n", 2, "a folder headlink does not make"},
        {"headlink install record\nfile game.key absent " + sum + "\n", 2, "not a file in the override folder"},
        {"headlink install record\nfile override/../game.key absent " + sum + "\n", 2, "not a file in the override folder"},
        {"headlink install record\nfile override/a:b absent " + sum + "\n", 2, "not a file in the override folder"},
        {"headlink install record\ninstall 1\nfile override/a\\x2F..\\x2Fb absent " + sum + "\n", 3, "not a file in the override folder"},
        {"headlink install record\ninstall 1\nfile override/a\\q absent " + sum + "\n", 3, "not a file in the override folder"},
        {"headlink install record\ninstall 1\nfile override/a\\x4 absent " + sum + "\n", 3, "not a file in the override folder"},
        {"headlink install record\nfile override/x.mdl absent " + sum.substr(1) + "\n", 2, "a checksum"},
        {"headlink install record\nfile override/x.mdl " + sum + "\n", 2, "two checksums"},
        {head + "file override/y.mdl " + sum + " " + sum + " symlink\n", 4, "more than a path, two checksums and a link"},
        {head + "file override/y.mdl " + sum + " " + sum + " hardlink x\n", 4, "more than a path"},
        {head + "file override/y.mdl " + sum + " " + sum + " softlink x\n", 4, "more than a path"},
        {head + "file override/y.mdl " + sum + " " + sum + " symlink a\\x00b\n", 4, "a link's target"},
        {"headlink install record\nfile override/y.mdl " + sum + " " + sum + " hardlink\n", 2, "a checksum"},
        // Temporaries: only ours, beside a file this record writes.
        {head + "temporary game.key\n", 4, "a temporary that is not headlink's own"},
        {head + "temporary override/.y.mdl.headlink-0123456789abcdef.tmp\n", 4, "not headlink's own"},
        {head + "temporary .x.mdl.headlink-0123456789abcdef.tmp\n", 4, "not headlink's own"},
        {head + "temporary override/.x.mdl.headlink-0123456789ABCDEF.tmp\n", 4, "not headlink's own"},
        {head + "temporary override/.x.mdl.headlink-0123456789abcde.tmp\n", 4, "not headlink's own"},
        {head + "temporary override/.x.mdl.headlink-0123456789abcdef.tmp\\x0Atemporary\\x20game.key\n", 4,
         "not headlink's own"},
        {"headlink install record\ninstall 1\nheads a  b\n", 3, "a head's name"},
        // The pack's line: once, after the heads, a checksum and a folder.
        {"headlink install record\ninstall 1\npack " + sum + "\n", 3, "a pack line without a checksum and a folder"},
        {"headlink install record\ninstall 1\npack " + sum + " \n", 3, "a pack line without"},
        {"headlink install record\ninstall 1\npack x /p\n", 3, "a pack line without"},
        {"headlink install record\ninstall 1\npack " + sum + " /a b\n", 3, "a pack line without"},
        {"headlink install record\npack " + sum + " /p\n", 2, "a pack line without"},
        {"headlink install record\ninstall 1\npack " + sum + " /p\nheads a\n", 4, "heads out of its place"},
        {"headlink install record\ninstall 1\npack " + sum + " /p\npack " + sum + " /p\n", 4, "pack out of its place"},
        {"headlink install record\ninstall 1\nfile override/x. absent " + sum + "\n", 3, "not a file in the override folder"},
        // One file twice, in any case: its undo would put it back, then remove it with its only backup.
        {head + "file Override/X.MDL " + sum + " " + sum + "\n", 4, "names Override/X.MDL here and on line 3, which is one file"},
    };
    for (const auto& c : cases) {
        Record record;
        const Result why = parseRecord(c.text, "r.txt", &record);
        EXPECT_EQ(why.status, Status::malformed) << c.text;
        EXPECT_EQ(why.line, c.line) << c.text;
        EXPECT_NE(why.reason.find(c.why), std::string::npos) << c.text << "\n" << why.reason;
    }
    Record record;
    EXPECT_TRUE(parseRecord(head + "temporary override/.x.mdl.headlink-0123456789abcdef.tmp\n", "r", &record));
    // Today's temporaries: named for no file, in the folder of one the record writes.
    EXPECT_TRUE(parseRecord(head + "temporary override/.headlink-0123456789abcdef.tmp\n", "r", &record));
    EXPECT_FALSE(parseRecord(head + "temporary .headlink-0123456789abcdef.tmp\n", "r", &record));
    EXPECT_FALSE(parseRecord(head + "temporary override/.headlink-0123456789abcdef.tmq\n", "r", &record));
}

// Names a Windows program cannot open, refused before an install; the
// others pass as they are.
TEST(InstallRecord, TellsNamesTheGameCannotOpen) {
    const struct {
        std::string name;
        const char* why;  // "" when the game can open it
    } cases[] = {
        {"hd_moon.mdl", ""}, {"my head.tga", ""}, {"CONSOLE.mdl", ""}, {"com10.tga", ""}, {"lpt0", ""},
        {"a:b.mdl", "':'"}, {"a\\b.mdl", "'\\'"}, {"a|b", "'|'"}, {"a?b", "'?'"}, {"a*b", "'*'"}, {"a<b", "'<'"},
        {"a\"b", "'\"'"}, {"x\ntemporary game.key", "outside printable ASCII"}, {"caf\xC3\xA9.mdl", "outside printable ASCII"},
        {"tab\t.mdl", "outside printable ASCII"}, {"ends.", "ends in a dot or a space"}, {"ends ", "ends in a dot or a space"},
        {"CON", "device"}, {"nul.mdl", "device"}, {"CON .mdl", "device"}, {"conout$", "device"}, {"Aux.tga.txt", "device"}, {"COM1.mdl", "device"}, {"lpt9", "device"},
    };
    for (const auto& c : cases) {
        const std::string why = unopenableName(c.name).reason;
        if (*c.why == 0) EXPECT_EQ(why, "") << c.name;
        else EXPECT_NE(why.find(c.why), std::string::npos) << c.name << ": " << why;
    }
    // Names Windows could take for the short name of another file: 8.3 in
    // shape, with a '~' and a letter or digit in the first part.
    for (const char* alias : {"APPEAR~1.2DA", "APPE~SI4.2DA", "hd~f", "x~9.m", "~A.TGA"})
        EXPECT_FALSE(aliasLikeName(alias)) << alias;
    for (const char* plain : {"hd~moon_xy.mdl", "APPEAR~1.2DAX", "a~.mdl", "a~_.mdl", "a.b~1", "a~1.b.c", "heads.2da"})
        EXPECT_TRUE(aliasLikeName(plain)) << plain;
}

// Steam's library file, in both its shapes, read as untrusted text.
TEST(SteamLibraries, BothShapesEscapesAndDamage) {
    using Paths = std::vector<std::string>;
    const struct {
        std::string vdf;
        Paths paths;
    } cases[] = {
        {"\"libraryfolders\"\n{\n\t\"0\"\n\t{\n\t\t\"path\"\t\t\"C:\\\\Program Files (x86)\\\\Steam\"\n\t\t\"apps\"\n\t\t{\n"
         "\t\t\t\"228980\"\t\t\"1\"\n\t\t}\n\t}\n\t\"1\"\n\t{\n\t\t\"label\"\t\"\"\n\t\t\"path\"\t\t\"D:\\\\Games \\\"Lib\\\"\"\n\t}\n}\n",
         {"C:\\Program Files (x86)\\Steam", "D:\\Games \"Lib\""}},
        {"\"LibraryFolders\"\r\n{\r\n\t\"TimeNextStatsReport\"\t\t\"1700000000\"\r\n\t\"ContentStatsID\"\t\t\"-1\"\r\n"
         "\t\"1\"\t\t\"D:\\\\Library\"\r\n\t\"2\"\t\t\"/home/p/lib\"\r\n}\r\n",
         {"D:\\Library", "/home/p/lib"}},
        {"// a comment\n\"libraryfolders\" { \"0\" { \"PATH\" \"/a\" } \"x\" { \"path\" \"/not-numbered\" } }", {"/a"}},
        {"\"other\" { \"0\" { \"path\" \"/a\" } }", {}},
        {"\"libraryfolders\" { \"0\" { \"path\" \"/cut", {"/cut"}},  // cut off: what was read stays
        {"\"libraryfolders\" { \"0\" ", {}},
        {"", {}},
        {"}}}{{{", {}},
        {std::string(100000, '{'), {}},  // nested past any real file: not followed
    };
    for (const auto& c : cases) EXPECT_EQ(steamLibraries(c.vdf), c.paths) << c.vdf.substr(0, 80);
}

}  // namespace
}  // namespace headlink
