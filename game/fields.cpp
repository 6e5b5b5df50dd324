// Every number read here comes from a file that may be damaged or made to
// harm: each region is checked against the bytes that hold it, in 64-bit
// arithmetic, before it is read or anything is sized from it.
#include "game/fields.h"

#include <algorithm>

namespace headlink::fields {

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

}  // namespace headlink::fields
