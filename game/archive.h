// The game keeps its resources in archives, and one key file lists them
// all: which archives there are, and for each resource its name, its type
// and where it lies (which archive, which entry of it). Both are read here
// from bytes the caller hands in; nothing here opens a file.
//
// Key file (little-endian throughout):
//   header        64 bytes: "KEY " "V1  ", u32 archive count, u32 entry
//                 count, u32 archive-table offset, u32 entry-table offset,
//                 u32 build year, u32 build day, 32 reserved bytes
//   archive table 12 bytes each: u32 archive size, u32 name offset,
//                 u16 name length (may count a trailing NUL), u16 drives
//   entry table   22 bytes each: 16-byte name padded with NULs, u16
//                 resource type, u32 id (upper 12 bits: archive, lower 20:
//                 the entry's index in that archive)
// Archive:
//   header        20 bytes: "BIFF" "V1  ", u32 entry count, u32 fixed-
//                 resource count, u32 entry-table offset
//   entry table   16 bytes each: u32 id, u32 offset, u32 size, u32 type
//
// Texture pack (the ERF form; little-endian throughout):
//   header        160 bytes: the type ("ERF ", "MOD ", "SAV " or "HAK "),
//                 "V1.0", u32 localised-string count, u32 their size,
//                 u32 entry count, u32 localised-string offset, u32 key-list
//                 offset, u32 resource-list offset, u32 build year, u32
//                 build day, u32 description string reference, 116
//                 reserved bytes
//   key list      24 bytes each: 16-byte name padded with NULs, u32 id,
//                 u16 resource type, 2 unused bytes
//   resource list 8 bytes each: u32 offset, u32 size
// Only the header and the key list are read: which resources a pack
// holds, not their bytes.
//
// Every count, offset and size is read as untrusted. A failure is
// Status::malformed with a reason and, as its offset, the byte of the field
// whose value is wrong (for a file cut short: where it ends); the caller
// fills in the file's name.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "fileio/result.h"

namespace headlink {

inline constexpr uint16_t kTwoDaType = 2017;  // resource type of a 2DA table

struct KeyArchive {
    std::string name;  // as stored ('\' separators), a trailing NUL dropped
    uint32_t size = 0;
};
struct KeyEntry {
    std::string name;  // NUL padding dropped
    uint16_t type = 0;
    uint32_t archive = 0;  // an index into KeyFile::archives
    uint32_t index = 0;    // the entry's index in that archive
};
struct KeyFile {
    std::vector<KeyArchive> archives;
    std::vector<KeyEntry> entries;
};
// A resource as a key file or texture pack lists it: its name (NUL padding
// dropped, pointing into the bytes read) and type; for a key file, also
// the archive it is in (an index into KeyFile::archives).
struct ListedResource {
    std::string_view name;
    uint16_t type = 0;
    uint32_t archive = 0;
};
using EachResource = std::function<void(const ListedResource&)>;

// Reads a whole key file; on failure `key` is left empty. With `onlyType`,
// only the entries of that resource type are kept (every one is checked):
// a game's key lists tens of thousands of resources. `each`, when given,
// is shown every entry, kept or not, without a copy of its name; after a
// failure it may have been shown some.
Result readKey(std::span<const uint8_t> bytes, KeyFile* key, std::optional<uint16_t> onlyType = {},
               const EachResource& each = {});

// The bytes of one entry of a key file's entry table.
inline constexpr std::size_t kKeyEntryBytes = 22;

inline constexpr std::size_t kArchiveHeaderBytes = 20;
inline constexpr std::size_t kArchiveEntryBytes = 16;
struct ArchiveHeader {
    uint32_t entryCount = 0;
    uint32_t entryTable = 0;  // offset of the entry table
};
// `header`: the archive's first bytes (fewer than 20 when the file is shorter); `fileSize`: its whole size.
Result readArchiveHeader(std::span<const uint8_t> header, uint64_t fileSize, ArchiveHeader* out);
// Where the 16-byte record of entry `index` lies; a failure when index >= entryCount or the record is past the end.
Result archiveEntryAt(const ArchiveHeader& header, uint32_t index, uint64_t fileSize, uint64_t* recordOffset);
struct ArchiveEntry {
    uint32_t offset = 0;  // of the resource's bytes in the archive
    uint32_t size = 0;
    uint32_t type = 0;  // as the archive states it; the key's may differ
};
// `record`: the 16 bytes at recordOffset. Checks the id's lower 20 bits equal `index` and offset+size lie inside fileSize.
Result readArchiveEntry(std::span<const uint8_t> record, uint32_t index, uint64_t fileSize, uint64_t recordOffset,
                        ArchiveEntry* out);

inline constexpr std::size_t kPackHeaderBytes = 160;
inline constexpr std::size_t kPackKeyBytes = 24;
struct PackHeader {
    uint32_t entryCount = 0;
    uint32_t keyList = 0;  // offset of the key list
    uint64_t keyListBytes() const { return uint64_t{entryCount} * kPackKeyBytes; }
};
// `header`: the texture pack's first bytes (fewer than 160 when the file is
// shorter); `fileSize`: its whole size. Checks the key list and the
// resource list lie inside the file, after the header, and apart.
Result readPackHeader(std::span<const uint8_t> header, uint64_t fileSize, PackHeader* out);
// `keys`: the key list's bytes (header.keyListBytes() at header.keyList);
// shows `each` every entry.
Result readPackKeys(std::span<const uint8_t> keys, const PackHeader& header, const EachResource& each);

}  // namespace headlink
