// Every number read here comes from a file that may be damaged or made to
// harm: each region is checked against the bytes that hold it, in 64-bit
// arithmetic, before it is read or anything is sized from it.
#include "game/archive.h"

#include <array>
#include <string_view>

#include "game/fields.h"

namespace headlink {

using namespace fields;

namespace {

// Where the header fields lie, for the messages about their values.
constexpr std::size_t kPackEntryCountAt = 16;
constexpr std::size_t kPackKeyListAt = 24;
constexpr std::size_t kPackResourceListAt = 28;
constexpr std::size_t kPackResourceBytes = 8;
// A texture pack begins with its type, one of these, then its version.
constexpr std::array<std::string_view, 4> kPackTypes{"ERF ", "MOD ", "SAV ", "HAK "};
constexpr std::string_view kPackVersion("V1.0", 4);

}  // namespace

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
        std::string_view name = in.text(kNameBytes);
        name = name.substr(0, name.find('\0'));
        in.skip(4);  // the id: the entry's place, which the key list's order gives already
        const Field<uint16_t> type = in.u16();
        if (each) each(ListedResource{name, type.value, 0});
    }
    return {};
}

}  // namespace headlink
