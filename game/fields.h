// Reading the game's binary formats (key file, archive, texture pack) from
// untrusted bytes: fields read in file order with their bounds checked in
// one place, the tables a header places checked against the file, and the
// one way their messages are made (Status::malformed, with the offset of the
// field whose value is wrong). For the readers in this library.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "fileio/result.h"

namespace headlink::fields {

// A resource's name in a key file or texture pack: 16 bytes, padded with NULs.
inline constexpr std::size_t kNameBytes = 16;
// A key entry's id: the archive in its upper 12 bits, the entry's index in
// that archive in its lower 20.
inline constexpr uint32_t kIndexBits = 20;
inline constexpr uint32_t kIndexMask = (1u << kIndexBits) - 1;

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

Result malformed(std::string_view reason, uint64_t at);
// 4000000000 as "4,000,000,000": counts read from a damaged file are often
// huge, and grouped digits show at a glance how far off they are.
std::string grouped(uint64_t n);
// "1 entry", "3 entries".
std::string counted(uint64_t n, std::string_view one, std::string_view many);

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
Result checkRegion(const Region& region, uint64_t fileSize, uint64_t headerBytes);
bool overlap(const Region& a, const Region& b);
// "the 64-byte header", from the size the format gives it.
std::string headerOf(std::size_t bytes);
// The signature, compared over the bytes there are, so that a file cut
// short inside it is reported as cut short.
bool signatureMatches(std::span<const uint8_t> bytes, std::string_view signature);
// "not a key file (it does not begin with "KEY V1  ")".
Result notA(std::string_view what, std::string_view signature);
// "the key file ends inside its 64-byte header, after 12 bytes".
Result endsInsideHeader(std::string_view what, std::size_t headerBytes, uint64_t size);
// "only 12 of the archive header's 20 bytes were given": the caller read
// less of the file than the header it asks to have read.
Result headerNotGiven(std::string_view what, std::size_t given, std::size_t headerBytes);

}  // namespace headlink::fields
