// Every number read here comes from a file that may be damaged or made to
// harm: each region is checked against the bytes that hold it, in 64-bit
// arithmetic, before it is read or anything is sized from it.
#include "game/archive.h"

#include <algorithm>
#include <array>
#include <optional>
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

// Where the header fields lie, for the messages about their values.
constexpr std::size_t kKeyArchiveCountAt = 8;
constexpr std::size_t kKeyEntryCountAt = 12;
constexpr std::size_t kKeyArchiveTableAt = 16;
constexpr std::size_t kKeyEntryTableAt = 20;
constexpr std::size_t kArchiveEntryCountAt = 8;
constexpr std::size_t kArchiveEntryTableAt = 16;
constexpr std::size_t kPackEntryCountAt = 16;
constexpr std::size_t kPackKeyListAt = 24;
constexpr std::size_t kPackResourceListAt = 28;
constexpr std::size_t kPackResourceBytes = 8;
// A texture pack begins with its type, one of these, then its version.
constexpr std::array<std::string_view, 4> kPackTypes{"ERF ", "MOD ", "SAV ", "HAK "};
constexpr std::string_view kPackVersion("V1.0", 4);

// A field as read, and the file offset it lies at (where a message about
// its value points).
template <class T>
struct Field {
    T value;
    uint64_t at;
};

// Reads fields one after another, in file order, little-endian; `origin`
// is the file offset of the first byte given. The bounds checks live here:
// a read past the end gives 0 and marks the cursor short, so that a
// record's reader is one plain read per field and checks only values.
class Cursor {
public:
    Cursor(std::span<const uint8_t> bytes, uint64_t at, uint64_t origin = 0)
        : bytes_(bytes), at_(at), origin_(origin) {}

    Field<uint16_t> u16() {
        const uint64_t at = origin_ + at_;
        return {static_cast<uint16_t>(take(2)), at};
    }
    Field<uint32_t> u32() {
        const uint64_t at = origin_ + at_;
        return {static_cast<uint32_t>(take(4)), at};
    }
    // The next `size` bytes as they are, as text.
    std::string_view text(uint64_t size) {
        const std::string_view text = fits(size) ? std::string_view(reinterpret_cast<const char*>(bytes_.data()) + at_,
                                                                    static_cast<std::size_t>(size))
                                                 : std::string_view();
        skip(size);
        return text;
    }
    void skip(uint64_t size) {
        shortOfBytes_ = shortOfBytes_ || !fits(size);
        at_ += size;
    }
    // Whether `size` more bytes are there to read.
    bool fits(uint64_t size) const { return at_ <= bytes_.size() && size <= bytes_.size() - at_; }
    bool shortOfBytes() const { return shortOfBytes_; }

private:
    uint64_t take(std::size_t size) {
        uint64_t value = 0;
        for (std::size_t i = 0; fits(size) && i < size; ++i)
            value |= uint64_t{bytes_[static_cast<std::size_t>(at_) + i]} << (8 * i);
        skip(size);
        return value;
    }

    std::span<const uint8_t> bytes_;
    uint64_t at_;
    uint64_t origin_;
    bool shortOfBytes_ = false;
};

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


// "the 64-byte header", from the size the format gives it.
std::string headerOf(std::size_t bytes) {
    std::string text = "the ";
    text += std::to_string(bytes);
    text += "-byte header";
    return text;
}

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
    std::string_view name = in.text(kKeyNameBytes);
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

// The signature, compared over the bytes there are, so that a file cut
// short inside it is reported as cut short.
bool signatureMatches(std::span<const uint8_t> bytes, std::string_view signature) {
    const std::size_t n = std::min(bytes.size(), signature.size());
    return Cursor(bytes, 0).text(n) == signature.substr(0, n);
}

// "not a key file (it does not begin with "KEY V1  ")".
Result notA(std::string_view what, std::string_view signature) {
    std::string reason = "not ";
    reason += what;
    reason += " (it does not begin with \"";
    reason += signature;
    reason += "\")";
    return malformed(reason, 0);
}

// "the key file ends inside its 64-byte header, after 12 bytes".
Result endsInsideHeader(std::string_view what, std::size_t headerBytes, uint64_t size) {
    std::string reason = "the ";
    reason += what;
    reason += " ends inside its ";
    reason += std::to_string(headerBytes);
    reason += "-byte header, after ";
    reason += counted(size, "byte", "bytes");
    return malformed(reason, size);
}

// "only 12 of the archive header's 20 bytes were given": the caller read
// less of the file than the header it asks to have read.
Result headerNotGiven(std::string_view what, std::size_t given, std::size_t headerBytes) {
    std::string reason = "only ";
    reason += std::to_string(given);
    reason += " of the ";
    reason += what;
    reason += " header's ";
    reason += std::to_string(headerBytes);
    reason += " bytes were given";
    return malformed(reason, given);
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
        const uint8_t* r = bytes.data() + record + kKeyNameBytes;
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

Result readArchiveHeader(std::span<const uint8_t> header, uint64_t fileSize, ArchiveHeader* out) {
    *out = ArchiveHeader();
    if (!signatureMatches(header, kArchiveSignature)) return notA("an archive", kArchiveSignature);
    if (fileSize < kArchiveHeaderBytes) return endsInsideHeader("archive", kArchiveHeaderBytes, fileSize);
    if (header.size() < kArchiveHeaderBytes) return headerNotGiven("archive", header.size(), kArchiveHeaderBytes);
    Cursor in(header, kArchiveSignature.size());
    const Field<uint32_t> entryCount = in.u32();
    // The fixed-resource count is left alone: fixed resources lie in a
    // table of their own, and tables are never among them.
    in.skip(4);
    const Field<uint32_t> entryTable = in.u32();
    const Region entries{"entry table", "entry", "entries", entryTable.value, entryCount.value,
                         kArchiveEntryBytes, kArchiveEntryTableAt, kArchiveEntryCountAt};
    if (Result r = checkRegion(entries, fileSize, kArchiveHeaderBytes); !r) return r;
    *out = ArchiveHeader{entryCount.value, entryTable.value};
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
        reason += " runs ";
        reason += header.entryTable < kArchiveHeaderBytes ? "into " + headerOf(kArchiveHeaderBytes)
                                                          : std::string("past the end of the file");
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
    Cursor in(record, 0, recordOffset);
    const Field<uint32_t> id = in.u32();
    const Field<uint32_t> offset = in.u32();
    const Field<uint32_t> size = in.u32();
    const Field<uint32_t> type = in.u32();
    if (in.shortOfBytes()) {
        who += "'s record ends after ";
        who += std::to_string(record.size());
        who += " of its ";
        who += std::to_string(kArchiveEntryBytes);
        who += " bytes";
        return malformed(who, recordOffset + record.size());
    }
    // Writers do not all set the id's upper bits (the archive's index in
    // the key), so only the lower 20 are held to the index.
    if ((id.value & kIndexMask) != index) {
        who += "'s id gives index ";
        who += grouped(id.value & kIndexMask);
        return malformed(who, id.at);
    }
    if (uint64_t{offset.value} + size.value > fileSize) {
        who += "'s ";
        who += counted(size.value, "byte", "bytes");
        who += " at offset ";
        who += grouped(offset.value);
        who += " run past the end of the file";
        return malformed(who, offset.value >= fileSize ? offset.at : size.at);
    }
    *out = ArchiveEntry{offset.value, size.value, type.value};
    return {};
}

Result readPackHeader(std::span<const uint8_t> header, uint64_t fileSize, PackHeader* out) {
    *out = PackHeader();
    const bool typed = std::any_of(kPackTypes.begin(), kPackTypes.end(), [&](std::string_view type) {
        return signatureMatches(header, std::string(type) + std::string(kPackVersion));
    });
    if (!typed) {
        std::string reason = "not a texture pack (it does not begin with \"ERF V1.0\", or MOD, SAV or HAK for ERF)";
        return malformed(reason, 0);
    }
    if (fileSize < kPackHeaderBytes) return endsInsideHeader("texture pack", kPackHeaderBytes, fileSize);
    if (header.size() < kPackHeaderBytes) return headerNotGiven("texture pack", header.size(), kPackHeaderBytes);
    Cursor in(header, kPackEntryCountAt);
    const Field<uint32_t> entryCount = in.u32();
    in.skip(4);  // the localised strings: a pack's description, not its resources
    const Field<uint32_t> keyList = in.u32();
    const Field<uint32_t> resourceList = in.u32();
    const Region keys{"key list", "entry", "entries", keyList.value, entryCount.value,
                      kPackKeyBytes, kPackKeyListAt, kPackEntryCountAt};
    const Region resources{"resource list", "entry", "entries", resourceList.value, entryCount.value,
                           kPackResourceBytes, kPackResourceListAt, kPackEntryCountAt};
    for (const Region* region : {&keys, &resources})
        if (Result r = checkRegion(*region, fileSize, kPackHeaderBytes); !r) return r;
    if (overlap(keys, resources)) {
        std::string reason = "the resource list at offset ";
        reason += grouped(resources.at);
        reason += " overlaps the key list at offset ";
        reason += grouped(keys.at);
        return malformed(reason, kPackResourceListAt);
    }
    *out = PackHeader{entryCount.value, keyList.value};
    return {};
}

Result readPackKeys(std::span<const uint8_t> keys, const PackHeader& header, const EachResource& each) {
    if (keys.size() < header.keyListBytes()) {
        std::string reason = "only ";
        reason += grouped(keys.size());
        reason += " of the key list's ";
        reason += counted(header.keyListBytes(), "byte", "bytes");
        reason += " were given";
        return malformed(reason, uint64_t{header.keyList} + keys.size());
    }
    for (uint64_t i = 0; each && i < header.entryCount; ++i) {
        Cursor in(keys, i * kPackKeyBytes);
        std::string_view name = in.text(kKeyNameBytes);
        name = name.substr(0, name.find('\0'));
        in.skip(4);  // the id: the entry's place, which the key list's order gives already
        const Field<uint16_t> type = in.u16();
        if (each) each(ListedResource{name, type.value, 0});
    }
    return {};
}

}  // namespace headlink
