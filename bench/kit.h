// Generated kits for the benchmarks: deterministic, of any size the format
// allows. Their tables come from tableWithPoolStrings (tests/support).
#pragma once

#include <cstdint>

#include "tests/support/fixtures.h"
#include "tests/support/game_folder.h"
#include "tests/support/table_builder.h"

namespace headlink::bench {

using testing::Bytes;
using testing::Kit;
using testing::tableWithPoolStrings;

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
Kit makeKit(const KitShape& shape);

// A game folder laid out like a real one, around the realistic kit's three
// tables: a key of about 30,000 entries naming 20 archives, one of them
// holding 600 tables (about 2.5 MB), the kit's three among them; and a
// texture pack of 10,000 entries, which --game reads the key list of to
// check the names a new row gives.
inline constexpr int kPackEntries = 10000;
testing::GameLayout benchGame(const Kit& realistic);

}  // namespace headlink::bench
