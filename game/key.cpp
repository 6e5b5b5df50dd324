// Every number read here comes from a file that may be damaged or made to
// harm: each region is checked against the bytes that hold it, in 64-bit
// arithmetic, before it is read or anything is sized from it.
#include "game/archive.h"

#include <optional>
#include <string_view>

#include "game/fields.h"

namespace headlink {

using namespace fields;

namespace {

constexpr std::string_view kKeySignature("KEY V1  ", 8);
constexpr std::size_t kKeyHeaderBytes = 64;
constexpr std::size_t kKeyArchiveBytes = 12;

// Where the header fields lie, for the messages about their values.
constexpr std::size_t kKeyArchiveCountAt = 8;
constexpr std::size_t kKeyEntryCountAt = 12;
constexpr std::size_t kKeyArchiveTableAt = 16;
constexpr std::size_t kKeyEntryTableAt = 20;

// Archive `i`'s record: its name must lie in the file and out of the header.
Result readKeyArchive(std::span<const uint8_t> bytes, uint64_t record, uint64_t i, KeyArchive* out) {
    Cursor in(bytes, record);
    const Field<uint32_t> size = in.u32();
    const Field<uint32_t> nameAt = in.u32();
    const Field<uint16_t> nameLength = in.u16();
    in.skip(2);  // the drives the archive may be on: every install has it in its own folder
    std::string who = "archive ";
    who += grouped(i);
    who += "'s name";
    if (nameLength.value > 0 && nameAt.value < kKeyHeaderBytes) {
        who += " at offset ";
        who += grouped(nameAt.value);
        who += " runs into ";
        who += headerOf(kKeyHeaderBytes);
        return malformed(who, nameAt.at);
    }
    Cursor nameIn(bytes, nameAt.value);
    std::string_view name = nameIn.text(nameLength.value);
    if (nameIn.shortOfBytes()) {
        who += " (";
        who += counted(nameLength.value, "byte", "bytes");
        who += " at offset ";
        who += grouped(nameAt.value);
        who += ") runs past the end of the file";
        return malformed(who, nameAt.value >= bytes.size() ? nameAt.at : nameLength.at);
    }
    if (!name.empty() && name.back() == '\0') name.remove_suffix(1);
    *out = KeyArchive{std::string(name), size.value};
    return {};
}

// Entry `i`'s record: the archive its id names must be one the key lists.
// Only checked, not kept, when it is of another type than `onlyType`.
Result readKeyEntry(std::span<const uint8_t> bytes, uint64_t record, uint64_t i, std::size_t archives,
                    std::optional<uint16_t> onlyType, const EachResource& each, std::vector<KeyEntry>* entries) {
    Cursor in(bytes, record);
    std::string_view name = in.text(kNameBytes);
    name = name.substr(0, name.find('\0'));
    const Field<uint16_t> type = in.u16();
    const Field<uint32_t> id = in.u32();
    const uint32_t archive = id.value >> kIndexBits;
    if (archive >= archives) {
        std::string reason = "entry ";
        reason += grouped(i);
        reason += " (\"";
        reason += name;
        reason += "\") names archive ";
        reason += grouped(archive);
        reason += ", past the key's ";
        reason += counted(archives, "archive", "archives");
        return malformed(reason, id.at);
    }
    if (each) each(ListedResource{name, type.value, archive});
    if (!onlyType || type.value == *onlyType)
        entries->push_back(KeyEntry{std::string(name), type.value, archive, id.value & kIndexMask});
    return {};
}

Result readKeyInto(std::span<const uint8_t> bytes, KeyFile* key, std::optional<uint16_t> onlyType,
                   const EachResource& each) {
    if (!signatureMatches(bytes, kKeySignature)) return notA("a key file", kKeySignature);
    if (bytes.size() < kKeyHeaderBytes) return endsInsideHeader("key file", kKeyHeaderBytes, bytes.size());
    Cursor in(bytes, kKeySignature.size());
    const Field<uint32_t> archiveCount = in.u32();
    const Field<uint32_t> entryCount = in.u32();
    const Field<uint32_t> archiveTable = in.u32();
    const Field<uint32_t> entryTable = in.u32();
    // The build year and day, and reserved bytes, are not read.
    const Region archives{"archive table", "archive", "archives", archiveTable.value, archiveCount.value,
                          kKeyArchiveBytes, kKeyArchiveTableAt, kKeyArchiveCountAt};
    const Region entries{"entry table", "entry", "entries", entryTable.value, entryCount.value,
                         kKeyEntryBytes, kKeyEntryTableAt, kKeyEntryCountAt};
    for (const Region* region : {&archives, &entries})
        if (Result r = checkRegion(*region, bytes.size(), kKeyHeaderBytes); !r) return r;
    // Read as they are, overlapping tables would give entries made of
    // archive records: a damaged file, not one to guess at.
    if (overlap(archives, entries)) {
        std::string reason = "the entry table at offset ";
        reason += grouped(entries.at);
        reason += " overlaps the archive table at offset ";
        reason += grouped(archives.at);
        return malformed(reason, entryTable.at);
    }
    // Both counts are now bounded by the file's size, so sizing is safe.
    key->archives.resize(static_cast<std::size_t>(archives.count));
    for (uint64_t i = 0; i < archives.count; ++i)
        if (Result r = readKeyArchive(bytes, archives.at + i * kKeyArchiveBytes, i,
                                      &key->archives[static_cast<std::size_t>(i)]);
            !r)
            return r;
    // Entries of other types are checked as well, but not kept.
    // A game's key lists tens of thousands: one of another type whose
    // archive is listed is stepped over on its type and id alone.
    if (!onlyType) key->entries.reserve(static_cast<std::size_t>(entries.count));
    const bool stepOver = onlyType && !each;
    const uint16_t kept = onlyType.value_or(0);
    const std::size_t listed = key->archives.size();
    for (uint64_t i = 0; i < entries.count; ++i) {
        const uint64_t record = entries.at + i * kKeyEntryBytes;
        const uint8_t* r = bytes.data() + record + kNameBytes;
        const auto type = static_cast<uint16_t>(r[0] | r[1] << 8);
        const uint32_t id = uint32_t{r[2]} | uint32_t{r[3]} << 8 | uint32_t{r[4]} << 16 | uint32_t{r[5]} << 24;
        if (stepOver && type != kept && (id >> kIndexBits) < listed) continue;
        if (Result why = readKeyEntry(bytes, record, i, listed, onlyType, each, &key->entries); !why)
            return why;
    }
    return {};
}

}  // namespace

Result readKey(std::span<const uint8_t> bytes, KeyFile* key, std::optional<uint16_t> onlyType,
               const EachResource& each) {
    *key = KeyFile();
    Result r = readKeyInto(bytes, key, onlyType, each);
    if (!r) *key = KeyFile();
    return r;
}

}  // namespace headlink
