// Fuzz target: the key file, archive and texture pack readers, on
// arbitrary bytes.
//
// The input is a key file and an archive: a 4-byte length, that many bytes
// of key (or all that is left), then the archive. Each reader's verdict is
// held to a plain model of the format decoded here apart from it: it
// accepts exactly the files the model finds whole, what it returns is what
// the bytes say, and every entry it hands back lies inside the bytes. A
// refusal gives a reason and an offset inside the file, and leaves nothing
// half read. The key is read whole and, as the index of resources reads
// it, shown entry by entry while keeping only tables. The archive is asked
// for the entries the key names in it and for indices at and past its
// count. The archive's bytes are read as a texture pack too, as the index
// reads one: its header, then the key list on the slice the header names.
// The same bytes are read as Steam's library file too.
#include <algorithm>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "game/archive.h"
#include "game/find.h"
#include "tests/fuzz/fuzz_support.h"

using fuzz::check;

namespace {

uint32_t u32(std::span<const uint8_t> b, uint64_t at) {
    const auto i = static_cast<std::size_t>(at);
    return static_cast<uint32_t>(b[i] | b[i + 1] << 8 | b[i + 2] << 16) | static_cast<uint32_t>(b[i + 3]) << 24;
}
uint16_t u16(std::span<const uint8_t> b, uint64_t at) {
    const auto i = static_cast<std::size_t>(at);
    return static_cast<uint16_t>(b[i] | b[i + 1] << 8);
}

void checkRefusal(const headlink::Result& why, uint64_t fileSize, const char* what) {
    check(why.status == headlink::Status::malformed && fuzz::startsWith(why.reason, "malformed: "), what,
          " refused without a reason: ", why.reason);
    check(why.offset <= fileSize, what, " refused at offset ", why.offset, ", past the file's ", fileSize,
          " bytes");
}

// The key read again as the index of resources reads it: every entry
// shown, in order, with what the whole read gave; only tables kept.
void keyShownEntryByEntry(std::span<const uint8_t> bytes, const headlink::KeyFile& whole, bool accepted) {
    headlink::KeyFile tables;
    std::size_t shown = 0;
    const headlink::Result why =
        headlink::readKey(bytes, &tables, headlink::kTwoDaType, [&](const headlink::ListedResource& listed) {
            // After a refusal, the entries before the bad one may have been shown.
            if (!accepted) return;
            check(shown < whole.entries.size(), "more entries shown than the key holds");
            const headlink::KeyEntry& e = whole.entries[shown++];
            check(listed.name == e.name && listed.type == e.type && listed.archive == e.archive, "entry ",
                  shown - 1, " is shown as other than it is");
        });
    check(static_cast<bool>(why) == accepted, "the key is refused with a visitor and not without, or the reverse");
    if (!accepted) {
        checkRefusal(why, bytes.size(), "a key read entry by entry");
        headlink::KeyFile only;
        check(!headlink::readKey(bytes, &only, headlink::kTwoDaType), "a refused key is read for its tables alone");
        check(tables.archives.empty() && tables.entries.empty(), "a refused key is not left empty");
        return;
    }
    check(shown == whole.entries.size(), shown, " of the key's ", whole.entries.size(), " entries shown");
    std::size_t t = 0;
    for (const headlink::KeyEntry& e : whole.entries) {
        if (e.type != headlink::kTwoDaType) continue;
        check(t < tables.entries.size() && tables.entries[t].name == e.name && tables.entries[t].index == e.index,
              "table ", t, " is not kept as the whole key has it");
        ++t;
    }
    check(t == tables.entries.size(), "entries of other types than tables were kept");
    // Read for the tables alone, as a run reads it: the same verdict, the same tables.
    headlink::KeyFile only;
    check(static_cast<bool>(headlink::readKey(bytes, &only, headlink::kTwoDaType)), "the key is refused for its tables alone");
    check(only.entries.size() == tables.entries.size() && only.archives.size() == tables.archives.size(),
          "the key read for its tables alone keeps other entries");
    for (std::size_t i = 0; i < only.entries.size(); ++i)
        check(only.entries[i].name == tables.entries[i].name && only.entries[i].index == tables.entries[i].index,
              "table ", i, " is read otherwise for the tables alone");
}

// The archives' indices the key names in archive 0, to ask the archive for.
std::vector<uint32_t> keyFile(std::span<const uint8_t> bytes) {
    headlink::KeyFile key;
    const headlink::Result why = headlink::readKey(bytes, &key);
    keyShownEntryByEntry(bytes, key, static_cast<bool>(why));
    if (!why) {
        checkRefusal(why, bytes.size(), "a key");
        check(key.archives.empty() && key.entries.empty(), "a refused key is not left empty");
        return {};
    }
    check(bytes.size() >= 64 && std::string_view(reinterpret_cast<const char*>(bytes.data()), 8) == "KEY V1  ",
          "a key without its header or signature was accepted");
    check(key.archives.size() == u32(bytes, 8) && key.entries.size() == u32(bytes, 12),
          "the key's counts are not the header's");
    const uint64_t archiveTable = u32(bytes, 16);
    for (std::size_t i = 0; i < key.archives.size(); ++i) {
        const uint64_t record = archiveTable + 12 * i;
        check(record >= 64 && record + 12 <= bytes.size(), "archive record ", i, " lies outside the file");
        check(key.archives[i].size == u32(bytes, record), "archive ", i, "'s size is not the stored one");
        const uint64_t nameAt = u32(bytes, record + 4);
        const uint16_t length = u16(bytes, record + 8);
        check(nameAt + length <= bytes.size(), "archive ", i, "'s name runs past the end");
        std::string stored(bytes.begin() + static_cast<std::ptrdiff_t>(nameAt),
                           bytes.begin() + static_cast<std::ptrdiff_t>(nameAt + length));
        if (!stored.empty() && stored.back() == '\0') stored.pop_back();
        check(key.archives[i].name == stored, "archive ", i, "'s name is not the stored one");
    }
    const uint64_t entryTable = u32(bytes, 20);
    std::vector<uint32_t> wanted;
    for (std::size_t i = 0; i < key.entries.size(); ++i) {
        const headlink::KeyEntry& e = key.entries[i];
        const uint64_t record = entryTable + 22 * i;
        check(record >= 64 && record + 22 <= bytes.size(), "key entry ", i, " lies outside the file");
        check(e.archive < key.archives.size(), "key entry ", i, " names archive ", e.archive, " of ",
              key.archives.size());
        const uint32_t id = u32(bytes, record + 18);
        check(e.archive == id >> 20 && e.index == (id & 0xFFFFF) && e.type == u16(bytes, record + 16),
              "key entry ", i, " is not what its record says");
        std::string name(bytes.begin() + static_cast<std::ptrdiff_t>(record),
                         bytes.begin() + static_cast<std::ptrdiff_t>(record + 16));
        check(e.name == name.substr(0, name.find('\0')), "key entry ", i, "'s name is not the stored one");
        if (e.archive == 0 && wanted.size() < 64) wanted.push_back(e.index);
    }
    return wanted;
}

void archiveEntry(std::span<const uint8_t> bytes, const headlink::ArchiveHeader& header, uint32_t index) {
    uint64_t at = 0;
    headlink::Result why = headlink::archiveEntryAt(header, index, bytes.size(), &at);
    if (index >= header.entryCount) {
        check(!why, "entry ", index, " of an archive of ", header.entryCount, " was found");
        checkRefusal(why, bytes.size(), "an index past the count");
        return;
    }
    check(static_cast<bool>(why), "entry ", index, " of ", header.entryCount, " has no record: ", why.reason);
    check(at == header.entryTable + uint64_t{16} * index && at + 16 <= bytes.size(), "entry ", index,
          "'s record is not where the table puts it, or past the end");

    const std::span<const uint8_t> record = bytes.subspan(static_cast<std::size_t>(at), 16);
    headlink::ArchiveEntry entry;
    why = headlink::readArchiveEntry(record, index, bytes.size(), at, &entry);
    const uint32_t id = u32(record, 0);
    const uint64_t offset = u32(record, 4);
    const uint64_t size = u32(record, 8);
    const bool whole = (id & 0xFFFFF) == index && offset + size <= bytes.size();
    if (!whole) {
        check(!why, "entry ", index, " was accepted with id ", id, " or ", size, " bytes at ", offset);
        checkRefusal(why, bytes.size(), "an archive entry");
        check(entry.offset == 0 && entry.size == 0 && entry.type == 0, "a refused entry is not left cleared");
        return;
    }
    check(static_cast<bool>(why), "a whole entry ", index, " was refused: ", why.reason);
    check(entry.offset == offset && entry.size == size && entry.type == u32(record, 12), "entry ", index,
          " is not what its record says");
    // Touch every byte of the resource: outside the input, the sanitizer stops us.
    unsigned sum = 0;
    for (uint8_t b : bytes.subspan(entry.offset, entry.size)) sum += b;
    (void)sum;
}

void archive(std::span<const uint8_t> bytes, const std::vector<uint32_t>& wanted) {
    headlink::ArchiveHeader header;
    const headlink::Result why =
        headlink::readArchiveHeader(bytes.first(std::min<std::size_t>(bytes.size(), 20)), bytes.size(), &header);
    const bool signature =
        bytes.size() >= 20 && std::string_view(reinterpret_cast<const char*>(bytes.data()), 8) == "BIFFV1  ";
    const uint64_t count = signature ? u32(bytes, 8) : 0;
    const uint64_t table = signature ? u32(bytes, 16) : 0;
    const bool whole = signature && (count == 0 || (table >= 20 && table + 16 * count <= bytes.size()));
    if (!whole) {
        check(!why, "an archive whose header or entry table is not whole was accepted");
        checkRefusal(why, bytes.size(), "an archive");
        return;
    }
    check(static_cast<bool>(why), "a whole archive header was refused: ", why.reason);
    check(header.entryCount == count && header.entryTable == table, "the archive header is not what it says");

    for (uint32_t i = 0; i < std::min<uint32_t>(header.entryCount, 32); ++i) archiveEntry(bytes, header, i);
    for (uint32_t index : wanted) archiveEntry(bytes, header, index);
    for (uint32_t index : {header.entryCount - 1, header.entryCount, uint32_t{0xFFFFF}, uint32_t{0xFFFFFFFF}})
        archiveEntry(bytes, header, index);

    // A record cut short, as a caller holding a slice of the file may hand in.
    if (header.entryCount > 0) {
        const std::size_t cut = bytes.size() % 16;
        headlink::ArchiveEntry entry;
        const headlink::Result shortRecord =
            headlink::readArchiveEntry(bytes.subspan(header.entryTable, cut), 0, bytes.size(), header.entryTable,
                                       &entry);
        check(!shortRecord, "a record of ", cut, " bytes was accepted");
        checkRefusal(shortRecord, bytes.size(), "a short record");
    }
}

// A texture pack, as the index reads it: the header from the first 160
// bytes, then the key list alone, on the slice the header names.
void texturePack(std::span<const uint8_t> bytes) {
    headlink::PackHeader header;
    const headlink::Result why =
        headlink::readPackHeader(bytes.first(std::min<std::size_t>(bytes.size(), 160)), bytes.size(), &header);
    bool typed = bytes.size() >= 8 && std::string_view(reinterpret_cast<const char*>(bytes.data()) + 4, 4) == "V1.0";
    if (typed) {
        const std::string_view type(reinterpret_cast<const char*>(bytes.data()), 4);
        typed = type == "ERF " || type == "MOD " || type == "SAV " || type == "HAK ";
    }
    const bool sized = typed && bytes.size() >= 160;
    const uint64_t count = sized ? u32(bytes, 16) : 0;
    const uint64_t keys = sized ? u32(bytes, 24) : 0;
    const uint64_t resources = sized ? u32(bytes, 28) : 0;
    // Both lists after the header, inside the file, and apart.
    const bool whole = sized && (count == 0 || (keys >= 160 && keys + 24 * count <= bytes.size() &&
                                                resources >= 160 && resources + 8 * count <= bytes.size() &&
                                                (keys + 24 * count <= resources || resources + 8 * count <= keys)));
    if (!whole) {
        check(!why, "a texture pack whose header or lists are not whole was accepted");
        checkRefusal(why, bytes.size(), "a texture pack");
        check(header.entryCount == 0 && header.keyList == 0, "a refused pack header is not left cleared");
        return;
    }
    check(static_cast<bool>(why), "a whole texture pack was refused: ", why.reason);
    check(header.entryCount == count && (count == 0 || header.keyList == keys),
          "the texture pack header is not what it says");
    const std::span<const uint8_t> list =
        bytes.subspan(header.keyList, static_cast<std::size_t>(header.keyListBytes()));
    std::size_t shown = 0;
    const headlink::Result listed = headlink::readPackKeys(list, header, [&](const headlink::ListedResource& r) {
        check(shown < count, "more pack entries shown than its count");
        const uint64_t record = keys + 24 * shown;
        std::string name(bytes.begin() + static_cast<std::ptrdiff_t>(record),
                         bytes.begin() + static_cast<std::ptrdiff_t>(record + 16));
        check(r.name == name.substr(0, name.find('\0')) && r.type == u16(bytes, record + 20), "pack entry ",
              shown, " is not what its record says");
        ++shown;
    });
    check(static_cast<bool>(listed), "a whole key list was refused: ", listed.reason);
    check(shown == count, shown, " of the pack's ", count, " entries shown");
    // A key list cut short, as a slice read from a file that changed may be.
    if (count > 0) {
        const headlink::Result cut = headlink::readPackKeys(list.first(list.size() - 1 - bytes.size() % 24),
                                                            header, [](const headlink::ListedResource&) {});
        check(!cut, "a key list cut short was accepted");
        checkRefusal(cut, bytes.size(), "a key list cut short");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    std::span<const uint8_t> input(data, size);
    if (input.size() < 4) return 0;
    const std::size_t keyBytes = std::min<std::size_t>(u32(input, 0), input.size() - 4);
    const std::vector<uint32_t> wanted = keyFile(input.subspan(4, keyBytes));
    archive(input.subspan(4 + keyBytes), wanted);
    texturePack(input.subspan(4 + keyBytes));
    // The same bytes as Steam's library file, which is read as untrusted text too.
    for (const std::string& library : headlink::steamLibraries(std::string_view(reinterpret_cast<const char*>(data), size)))
        check(!library.empty() && library.size() <= size, "a library path that is not in the file: ", library);
    return 0;
}
