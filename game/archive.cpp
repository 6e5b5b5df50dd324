// Every number read here comes from a file that may be damaged or made to
// harm: each region is checked against the bytes that hold it, in 64-bit
// arithmetic, before it is read or anything is sized from it.
#include "game/archive.h"

#include <optional>

#include <algorithm>
#include <string_view>

namespace headlink {

namespace {

constexpr std::string_view kKeySignature("KEY V1  ", 8);
constexpr std::string_view kArchiveSignature("BIFFV1  ", 8);

constexpr std::size_t kKeyHeaderBytes = 64;
constexpr std::size_t kKeyArchiveBytes = 12;
constexpr std::size_t kKeyEntryBytes = 22;
constexpr std::size_t kKeyNameBytes = 16;
constexpr uint32_t kIndexBits = 20;
constexpr uint32_t kIndexMask = (1u << kIndexBits) - 1;

// Where the header fields lie.
constexpr std::size_t kKeyArchiveCountAt = 8;
constexpr std::size_t kKeyEntryCountAt = 12;
constexpr std::size_t kKeyArchiveTableAt = 16;
constexpr std::size_t kKeyEntryTableAt = 20;
constexpr std::size_t kArchiveEntryCountAt = 8;
constexpr std::size_t kArchiveEntryTableAt = 16;

uint16_t readU16(std::span<const uint8_t> bytes, uint64_t at) {
    const auto i = static_cast<std::size_t>(at);
    return static_cast<uint16_t>(bytes[i] | bytes[i + 1] << 8);
}

uint32_t readU32(std::span<const uint8_t> bytes, uint64_t at) {
    const auto i = static_cast<std::size_t>(at);
    return static_cast<uint32_t>(bytes[i]) | static_cast<uint32_t>(bytes[i + 1]) << 8 |
           static_cast<uint32_t>(bytes[i + 2]) << 16 | static_cast<uint32_t>(bytes[i + 3]) << 24;
}

Result malformed(std::string_view reason, uint64_t at) {
    std::string text = "malformed: ";
    text += reason;
    return Result::failure(Status::malformed, std::move(text), {}, 0, static_cast<std::size_t>(at));
}

// 4000000000 as "4,000,000,000": counts read from a damaged file are often
// huge, and grouped digits show at a glance how far off they are.
std::string grouped(uint64_t n) {
    const std::string digits = std::to_string(n);
    std::string out;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
        out += digits[i];
    }
    return out;
}

// "1 entry", "3 entries".
std::string counted(uint64_t n, std::string_view one, std::string_view many) {
    std::string out = grouped(n);
    out += ' ';
    out += n == 1 ? one : many;
    return out;
}

// A table of `count` records of `recordBytes` each, placed at the offset
// stored at `offsetField` and counted at `countField`. An empty table is
// never read, so wherever it claims to be is harmless. A table that starts
// outside the file is the offset's fault; one that starts inside but does
// not fit, the count's.
struct Region {
    std::string_view what;  // "archive table"
    std::string_view one, many;
    uint64_t at = 0;
    uint64_t count = 0;
    uint64_t recordBytes = 0;
    std::size_t offsetField = 0;
    std::size_t countField = 0;

    uint64_t end() const { return at + count * recordBytes; }
};

Result checkRegion(const Region& region, uint64_t fileSize, uint64_t headerBytes) {
    if (region.count == 0) return {};
    std::string reason = "the ";
    reason += region.what;
    if (region.at < headerBytes) {
        reason += " at offset ";
        reason += grouped(region.at);
        reason += " runs into the ";
        reason += std::to_string(headerBytes);
        reason += "-byte header";
        return malformed(reason, region.offsetField);
    }
    // count < 2^32 and recordBytes <= 22, so end() cannot overflow.
    if (region.end() > fileSize) {
        reason += " of ";
        reason += counted(region.count, region.one, region.many);
        reason += " runs past the end of the file";
        return malformed(reason, region.at >= fileSize ? region.offsetField : region.countField);
    }
    return {};
}

bool overlap(const Region& a, const Region& b) {
    return a.count > 0 && b.count > 0 && a.at < b.end() && b.at < a.end();
}

std::string_view textAt(std::span<const uint8_t> bytes, uint64_t at, uint64_t length) {
    return {reinterpret_cast<const char*>(bytes.data()) + at, static_cast<std::size_t>(length)};
}

// Archive `i`'s record: its name must lie in the file and out of the header.
Result readKeyArchive(std::span<const uint8_t> bytes, uint64_t record, uint64_t i, KeyArchive* out) {
    const uint32_t nameAt = readU32(bytes, record + 4);
    const uint16_t nameLength = readU16(bytes, record + 8);
    std::string who = "archive ";
    who += grouped(i);
    who += "'s name";
    if (nameLength > 0 && nameAt < kKeyHeaderBytes) {
        who += " at offset ";
        who += grouped(nameAt);
        who += " runs into the 64-byte header";
        return malformed(who, record + 4);
    }
    if (uint64_t{nameAt} + nameLength > bytes.size()) {
        who += " (";
        who += counted(nameLength, "byte", "bytes");
        who += " at offset ";
        who += grouped(nameAt);
        who += ") runs past the end of the file";
        return malformed(who, nameAt >= bytes.size() ? record + 4 : record + 8);
    }
    std::string_view name = nameLength > 0 ? textAt(bytes, nameAt, nameLength) : std::string_view();
    if (!name.empty() && name.back() == '\0') name.remove_suffix(1);
    out->name = std::string(name);
    out->size = readU32(bytes, record);
    return {};
}

// Entry `i`'s record: the archive its id names must be one the key lists.
Result readKeyEntry(std::span<const uint8_t> bytes, uint64_t record, uint64_t i, std::size_t archives,
                    KeyEntry* out) {
    std::string_view name = textAt(bytes, record, kKeyNameBytes);
    name = name.substr(0, name.find('\0'));
    const uint32_t id = readU32(bytes, record + kKeyNameBytes + 2);
    const uint32_t archive = id >> kIndexBits;
    if (archive >= archives) {
        std::string reason = "entry ";
        reason += grouped(i);
        reason += " (\"";
        reason += name;
        reason += "\") names archive ";
        reason += grouped(archive);
        reason += ", past the key's ";
        reason += counted(archives, "archive", "archives");
        return malformed(reason, record + kKeyNameBytes + 2);
    }
    if (out == nullptr) return {};
    out->name = std::string(name);
    out->type = readU16(bytes, record + kKeyNameBytes);
    out->archive = archive;
    out->index = id & kIndexMask;
    return {};
}

// The signature, compared over the bytes there are, so that a file cut
// short inside it is reported as cut short.
bool signatureMatches(std::span<const uint8_t> bytes, std::string_view signature) {
    const std::size_t n = std::min(bytes.size(), signature.size());
    return textAt(bytes, 0, n) == signature.substr(0, n);
}

Result readKeyInto(std::span<const uint8_t> bytes, KeyFile* key, std::optional<uint16_t> onlyType) {
    if (!signatureMatches(bytes, kKeySignature))
        return malformed("not a key file (it does not begin with \"KEY V1  \")", 0);
    if (bytes.size() < kKeyHeaderBytes) {
        std::string reason = "the key file ends inside its 64-byte header, after ";
        reason += counted(bytes.size(), "byte", "bytes");
        return malformed(reason, bytes.size());
    }
    const Region archives{"archive table", "archive", "archives", readU32(bytes, kKeyArchiveTableAt),
                         readU32(bytes, kKeyArchiveCountAt), kKeyArchiveBytes, kKeyArchiveTableAt,
                         kKeyArchiveCountAt};
    const Region entries{"entry table", "entry", "entries", readU32(bytes, kKeyEntryTableAt),
                        readU32(bytes, kKeyEntryCountAt), kKeyEntryBytes, kKeyEntryTableAt, kKeyEntryCountAt};
    for (const Region* region : {&archives, &entries})
        if (Result r = checkRegion(*region, bytes.size(), kKeyHeaderBytes); !r) return r;
    // Read as they are, overlapping tables would give entries made of
    // archive records: a damaged file, not one to guess at.
    if (overlap(archives, entries)) {
        std::string reason = "the entry table at offset ";
        reason += grouped(entries.at);
        reason += " overlaps the archive table at offset ";
        reason += grouped(archives.at);
        return malformed(reason, kKeyEntryTableAt);
    }
    // Both counts are now bounded by the file's size, so sizing is safe.
    key->archives.resize(static_cast<std::size_t>(archives.count));
    for (uint64_t i = 0; i < archives.count; ++i)
        if (Result r = readKeyArchive(bytes, archives.at + i * kKeyArchiveBytes, i,
                                      &key->archives[static_cast<std::size_t>(i)]);
            !r)
            return r;
    // Entries of other types are checked as well, but not kept.
    if (!onlyType) key->entries.reserve(static_cast<std::size_t>(entries.count));
    for (uint64_t i = 0; i < entries.count; ++i) {
        const uint64_t record = entries.at + i * kKeyEntryBytes;
        const bool kept = !onlyType || readU16(bytes, record + kKeyNameBytes) == *onlyType;
        if (kept) key->entries.emplace_back();
        if (Result r = readKeyEntry(bytes, record, i, key->archives.size(), kept ? &key->entries.back() : nullptr); !r)
            return r;
    }
    return {};
}

}  // namespace

Result readKey(std::span<const uint8_t> bytes, KeyFile* key, std::optional<uint16_t> onlyType) {
    *key = KeyFile();
    Result r = readKeyInto(bytes, key, onlyType);
    if (!r) *key = KeyFile();
    return r;
}

Result readArchiveHeader(std::span<const uint8_t> header, uint64_t fileSize, ArchiveHeader* out) {
    *out = ArchiveHeader();
    if (!signatureMatches(header, kArchiveSignature))
        return malformed("not an archive (it does not begin with \"BIFFV1  \")", 0);
    if (fileSize < kArchiveHeaderBytes) {
        std::string reason = "the archive ends inside its 20-byte header, after ";
        reason += counted(fileSize, "byte", "bytes");
        return malformed(reason, fileSize);
    }
    if (header.size() < kArchiveHeaderBytes) {
        std::string reason = "only ";
        reason += std::to_string(header.size());
        reason += " of the archive header's 20 bytes were given";
        return malformed(reason, header.size());
    }
    // The fixed-resource count is left alone: fixed resources lie in a
    // table of their own, and tables are never among them.
    const Region entries{"entry table", "entry", "entries", readU32(header, kArchiveEntryTableAt),
                        readU32(header, kArchiveEntryCountAt), kArchiveEntryBytes, kArchiveEntryTableAt,
                        kArchiveEntryCountAt};
    if (Result r = checkRegion(entries, fileSize, kArchiveHeaderBytes); !r) return r;
    out->entryCount = static_cast<uint32_t>(entries.count);
    out->entryTable = static_cast<uint32_t>(entries.at);
    return {};
}

Result archiveEntryAt(const ArchiveHeader& header, uint32_t index, uint64_t fileSize, uint64_t* recordOffset) {
    *recordOffset = 0;
    if (index >= header.entryCount) {
        std::string reason = "entry ";
        reason += grouped(index);
        reason += " is past the archive's ";
        reason += counted(header.entryCount, "entry", "entries");
        return malformed(reason, kArchiveEntryCountAt);
    }
    // A header from readArchiveHeader always passes; one made otherwise
    // is checked all the same.
    const uint64_t at = uint64_t{header.entryTable} + uint64_t{index} * kArchiveEntryBytes;
    if (header.entryTable < kArchiveHeaderBytes || at + kArchiveEntryBytes > fileSize) {
        std::string reason = "entry ";
        reason += grouped(index);
        reason += "'s record at offset ";
        reason += grouped(at);
        reason += header.entryTable < kArchiveHeaderBytes ? " runs into the 20-byte header"
                                                          : " runs past the end of the file";
        return malformed(reason, kArchiveEntryTableAt);
    }
    *recordOffset = at;
    return {};
}

Result readArchiveEntry(std::span<const uint8_t> record, uint32_t index, uint64_t fileSize, uint64_t recordOffset,
                        ArchiveEntry* out) {
    *out = ArchiveEntry();
    std::string who = "entry ";
    who += grouped(index);
    if (record.size() < kArchiveEntryBytes) {
        who += "'s record ends after ";
        who += std::to_string(record.size());
        who += " of its 16 bytes";
        return malformed(who, recordOffset + record.size());
    }
    // Writers do not all set the id's upper bits (the archive's index in
    // the key), so only the lower 20 are held to the index.
    const uint32_t id = readU32(record, 0);
    if ((id & kIndexMask) != index) {
        who += "'s id gives index ";
        who += grouped(id & kIndexMask);
        return malformed(who, recordOffset);
    }
    const uint32_t offset = readU32(record, 4);
    const uint32_t size = readU32(record, 8);
    if (uint64_t{offset} + size > fileSize) {
        who += "'s ";
        who += counted(size, "byte", "bytes");
        who += " at offset ";
        who += grouped(offset);
        who += " run past the end of the file";
        return malformed(who, recordOffset + (offset >= fileSize ? 4 : 8));
    }
    *out = ArchiveEntry{offset, size, readU32(record, 12)};
    return {};
}

}  // namespace headlink
