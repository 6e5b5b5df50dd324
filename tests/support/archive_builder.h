// Builds key files and archives for tests and fuzz seeds, apart from the
// reader under test: from plain descriptions, with the tables laid out in
// the usual order or placed where told, so that odd and damaged layouts
// can be made too. No test framework: make_seeds uses it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace headlink::testing {

struct ArchiveResource {
    uint32_t type = 0;
    std::vector<uint8_t> bytes;
};
// The 20-byte header, the entry table right after it, then each resource's
// bytes in order. Entry i has id i.
std::vector<uint8_t> buildArchive(const std::vector<ArchiveResource>& resources);

struct KeyArchiveRecord {
    std::string name;  // stored with a trailing NUL, counted in its length
    uint32_t size = 0;
};
struct KeyEntryRecord {
    std::string name;  // the first 16 characters are stored, NUL-padded
    uint16_t type = 0;
    uint32_t archive = 0;  // the id's upper 12 bits
    uint32_t index = 0;    // its lower 20
};
struct KeyLayout {
    std::vector<KeyArchiveRecord> archives;
    std::vector<KeyEntryRecord> entries;
    // Unset: the header, the archive table, the names, the entry table, in
    // that order. Set: the table goes there (the file padded with zeros up
    // to it, or written over what lies there already); the names follow
    // the archive table wherever it is.
    std::optional<uint32_t> archiveTableAt;
    std::optional<uint32_t> entryTableAt;
};
std::vector<uint8_t> buildKey(const KeyLayout& layout);
std::vector<uint8_t> buildKey(std::vector<KeyArchiveRecord> archives, std::vector<KeyEntryRecord> entries);

// A texture pack: the 160-byte header (no localised strings), the key
// list right after it, the resource list, then each resource's bytes
// (its name, as a stand-in). Entry i has id i. `type` is the header's
// first four bytes.
struct PackKey {
    std::string name;  // the first 16 characters are stored, NUL-padded
    uint16_t type = 0;
};
std::vector<uint8_t> buildPack(const std::vector<PackKey>& keys, const char* type = "ERF ");

// Little-endian numbers written over bytes already there, for damaging a
// built file in one field.
void setU16(std::vector<uint8_t>& bytes, std::size_t at, uint16_t value);
void setU32(std::vector<uint8_t>& bytes, std::size_t at, uint32_t value);

}  // namespace headlink::testing
