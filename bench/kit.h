// Generated tables and kits for the benchmarks: deterministic, of any size
// the format allows.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace headlink::bench {

using Bytes = std::vector<uint8_t>;

// A binary table of `rows` x `columns` whose cells are drawn from
// `distinct` short texts (all of them used, so the pool holds exactly
// those), labels numbered.
Bytes makeTable(int32_t rows, int32_t columns, int32_t distinct);

// The three tables and five scripts of one run. `rows` applies to every
// table; the scripts add a head, three appearance rows (two new, one found)
// and a portrait, setting a few cells each, as a user's kit does.
struct KitShape {
    int32_t appearanceRows, appearanceColumns;
    int32_t headRows, headColumns;
    int32_t portraitRows, portraitColumns;
    int32_t distinct;  // texts per table
};
inline constexpr KitShape kRealisticKit = {700, 95, 120, 14, 320, 12, 3000};
inline constexpr KitShape kLargestKit = {65000, 100, 65000, 14, 65000, 12, 15000};
std::map<std::string, Bytes> makeKit(const KitShape& shape);

}  // namespace headlink::bench
