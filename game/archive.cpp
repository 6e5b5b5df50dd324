// Every number read here comes from a file that may be damaged or made to
// harm: each region is checked against the bytes that hold it, in 64-bit
// arithmetic, before it is read or anything is sized from it.
#include "game/archive.h"

#include <string_view>

#include "game/fields.h"

namespace headlink {

using namespace fields;

namespace {

constexpr std::string_view kArchiveSignature("BIFFV1  ", 8);
// Where the header fields lie, for the messages about their values.
constexpr std::size_t kArchiveEntryCountAt = 8;
constexpr std::size_t kArchiveEntryTableAt = 16;

}  // namespace

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

}  // namespace headlink
