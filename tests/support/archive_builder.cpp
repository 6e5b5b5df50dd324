#include "tests/support/archive_builder.h"

#include <algorithm>
#include <array>

namespace headlink::testing {

namespace {

void appendU32(std::vector<uint8_t>& out, uint32_t value) {
    out.resize(out.size() + 4);
    setU32(out, out.size() - 4, value);
}

// Writes `piece` at `at`, growing the file with zeros as needed.
void putAt(std::vector<uint8_t>& out, std::size_t at, const std::vector<uint8_t>& piece) {
    if (out.size() < at + piece.size()) out.resize(at + piece.size());
    std::copy(piece.begin(), piece.end(), out.begin() + static_cast<std::ptrdiff_t>(at));
}

std::vector<uint8_t> textBytes(const char* text) { return std::vector<uint8_t>(text, text + 8); }

}  // namespace

void setU16(std::vector<uint8_t>& bytes, std::size_t at, uint16_t value) {
    bytes[at] = static_cast<uint8_t>(value & 0xFF);
    bytes[at + 1] = static_cast<uint8_t>(value >> 8);
}

void setU32(std::vector<uint8_t>& bytes, std::size_t at, uint32_t value) {
    for (std::size_t i = 0; i < 4; ++i) bytes[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

std::vector<uint8_t> buildArchive(const std::vector<ArchiveResource>& resources) {
    std::vector<uint8_t> out = textBytes("BIFFV1  ");
    const auto count = static_cast<uint32_t>(resources.size());
    appendU32(out, count);
    appendU32(out, 0);   // fixed resources
    appendU32(out, 20);  // the entry table, right after the header
    auto dataAt = static_cast<uint32_t>(20 + 16 * resources.size());
    for (uint32_t i = 0; i < count; ++i) {
        appendU32(out, i);
        appendU32(out, dataAt);
        appendU32(out, static_cast<uint32_t>(resources[i].bytes.size()));
        appendU32(out, resources[i].type);
        dataAt += static_cast<uint32_t>(resources[i].bytes.size());
    }
    for (const ArchiveResource& resource : resources)
        out.insert(out.end(), resource.bytes.begin(), resource.bytes.end());
    return out;
}

std::vector<uint8_t> buildPack(const std::vector<PackKey>& keys, const char* type) {
    std::vector<uint8_t> out(8);
    for (std::size_t i = 0; i < 4; ++i) out[i] = static_cast<uint8_t>(type[i]);
    for (std::size_t i = 0; i < 4; ++i) out[4 + i] = static_cast<uint8_t>("V1.0"[i]);
    const auto count = static_cast<uint32_t>(keys.size());
    const uint32_t keyList = 160, resourceList = keyList + 24 * count;
    appendU32(out, 0);  // localised strings: none
    appendU32(out, 0);  // and their size
    appendU32(out, count);
    appendU32(out, keyList);  // where the localised strings would be
    appendU32(out, keyList);
    appendU32(out, resourceList);
    appendU32(out, 125);  // build year, counted from 1900
    appendU32(out, 40);   // build day
    appendU32(out, 0xFFFFFFFF);  // no description
    out.resize(160);
    // Each key: the name NUL-padded to 16 bytes, the id, the type, 2 unused bytes.
    for (uint32_t i = 0; i < count; ++i) {
        std::array<uint8_t, 24> record{};
        std::copy_n(keys[i].name.begin(), std::min<std::size_t>(keys[i].name.size(), 16), record.begin());
        for (std::size_t b = 0; b < 4; ++b) record[16 + b] = static_cast<uint8_t>(i >> (8 * b));
        record[20] = static_cast<uint8_t>(keys[i].type & 0xFF);
        record[21] = static_cast<uint8_t>(keys[i].type >> 8);
        out.insert(out.end(), record.begin(), record.end());
    }
    uint32_t dataAt = resourceList + 8 * count;
    for (const PackKey& key : keys) {
        appendU32(out, dataAt);
        appendU32(out, static_cast<uint32_t>(key.name.size()));
        dataAt += static_cast<uint32_t>(key.name.size());
    }
    for (const PackKey& key : keys) out.insert(out.end(), key.name.begin(), key.name.end());
    return out;
}

std::vector<uint8_t> buildKey(const KeyLayout& layout) {
    std::vector<uint8_t> out = textBytes("KEY V1  ");
    out.resize(64);
    const uint32_t archiveTable = layout.archiveTableAt.value_or(64);
    setU32(out, 8, static_cast<uint32_t>(layout.archives.size()));
    setU32(out, 12, static_cast<uint32_t>(layout.entries.size()));
    setU32(out, 16, archiveTable);
    setU32(out, 24, 125);  // build year, counted from 1900
    setU32(out, 28, 40);   // build day of that year

    std::vector<uint8_t> records;
    std::vector<uint8_t> names;
    auto nameAt = static_cast<uint32_t>(archiveTable + 12 * layout.archives.size());
    for (const KeyArchiveRecord& archive : layout.archives) {
        appendU32(records, archive.size);
        appendU32(records, nameAt + static_cast<uint32_t>(names.size()));
        const auto length = static_cast<uint16_t>(archive.name.size() + 1);
        records.push_back(static_cast<uint8_t>(length & 0xFF));
        records.push_back(static_cast<uint8_t>(length >> 8));
        records.push_back(1);  // drives: the install folder
        records.push_back(0);
        names.insert(names.end(), archive.name.begin(), archive.name.end());
        names.push_back(0);
    }
    putAt(out, archiveTable, records);
    putAt(out, nameAt, names);

    const uint32_t entryTable = layout.entryTableAt.value_or(nameAt + static_cast<uint32_t>(names.size()));
    setU32(out, 20, entryTable);
    std::vector<uint8_t> entries;
    for (const KeyEntryRecord& entry : layout.entries) {
        std::vector<uint8_t> name(16, 0);
        std::copy_n(entry.name.begin(), std::min<std::size_t>(entry.name.size(), 16), name.begin());
        entries.insert(entries.end(), name.begin(), name.end());
        entries.push_back(static_cast<uint8_t>(entry.type & 0xFF));
        entries.push_back(static_cast<uint8_t>(entry.type >> 8));
        appendU32(entries, entry.archive << 20 | entry.index);
    }
    putAt(out, entryTable, entries);
    return out;
}

std::vector<uint8_t> buildKey(std::vector<KeyArchiveRecord> archives, std::vector<KeyEntryRecord> entries) {
    KeyLayout layout;
    layout.archives = std::move(archives);
    layout.entries = std::move(entries);
    return buildKey(layout);
}

}  // namespace headlink::testing
