// The binary table layout's fixed facts, in one place.
//
//   label text   the signature line "2DA V2.b", LF, then each column label
//                closed by a tab, up to the first NUL (labelEnd)
//   row count    16 bits at labelEnd + 1, its upper half (zero) at + 3
//   row labels   from labelEnd + 5, each closed by a tab (gridStart after)
//   cell grid    rows x columns 16-bit pool offsets, row by row
//   pool size    16 bits, the pool's length in bytes as most writers set it
//   pool         NUL-terminated texts to the end of the file (poolStart)
//
// Every number is little-endian.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace headlink::format {

// The first line of a binary table, and of the plain-text form.
inline constexpr std::string_view kSignature = "2DA V2.b";
inline constexpr std::string_view kTextSignature = "2DA V2.0";

// Where the row count and the row labels start, counted from labelEnd.
inline constexpr std::size_t kRowCountAt = 1;
inline constexpr std::size_t kRowCountHighAt = 3;
inline constexpr std::size_t kRowLabelsAt = 5;

inline uint16_t readU16(const uint8_t* at) { return static_cast<uint16_t>(at[0] | at[1] << 8); }
inline void writeU16(uint8_t* at, uint16_t value) {
    at[0] = static_cast<uint8_t>(value & 0xFF);
    at[1] = static_cast<uint8_t>(value >> 8);
}
inline void appendU16(std::vector<uint8_t>& out, uint16_t value) {
    out.push_back(0);
    out.push_back(0);
    writeU16(&out[out.size() - 2], value);
}

}  // namespace headlink::format
