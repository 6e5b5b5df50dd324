// The run's fixed files and the cells that link its tables.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fileio/names.h"

namespace headlink {

// The three tables, in the order they are loaded and written.
enum TableId : std::size_t { kAppearance, kHeads, kPortraits, kTableCount };
inline constexpr std::array<const char*, kTableCount> kTableFiles = {"appearance.2da", "heads.2da",
                                                                      "portraits.2da"};
inline constexpr std::array<const char*, kTableCount> kOutputFiles = {
    "appearance_updated.2da", "heads_updated.2da", "portraits_updated.2da"};

// The five scripts, in the order they are applied.
enum ScriptId : std::size_t { kHeadScript, kAppHead1Script, kAppHead2Script, kAppHead3Script, kPortraitsScript,
                              kScriptCount };
inline constexpr std::array<const char*, kScriptCount> kScriptFiles = {
    "head.txt", "apphead1.txt", "apphead2.txt", "apphead3.txt", "portraits.txt"};

// The table each script edits.
constexpr TableId tableOf(ScriptId script) {
    return script == kHeadScript ? kHeads : script == kPortraitsScript ? kPortraits : kAppearance;
}

// The cells that link the tables: after a script finds or adds its row,
// each link of its table gets, in that row, the row number that `source`
// found or added. The host's own tables say where each link belongs by
// the label of its column; a table without that label gets the link in the
// fixed `column` (counting from 0), as tables made for headlink always
// have. This table is the one place that says which cell links to what:
// LinkColumns finds them in the tables at hand, and the run, the link
// check, the name check, the usage text and the page all ask it.
struct Link {
    TableId table;      // the table whose cell is written
    const char* label;  // the column's label in the host's tables (ASCII case ignored)
    int32_t column;     // the column when no column has that label
    ScriptId source;    // the script whose row number goes there
};
inline constexpr std::array<Link, 4> kLinks = {{
    {kAppearance, "normalhead", 10, kHeadScript},
    {kPortraits, "appearancenumber", 2, kAppHead2Script},
    {kPortraits, "appearance_s", 7, kAppHead1Script},
    {kPortraits, "appearance_l", 8, kAppHead3Script},
}};

// Each link's source runs before any script of the table it is written in.
constexpr bool sourcesComeFirst() {
    for (const Link& link : kLinks)
        for (std::size_t script = 0; script <= link.source; ++script)
            if (tableOf(static_cast<ScriptId>(script)) == link.table) return false;
    return true;
}
static_assert(sourcesComeFirst(), "a link's row must be known before its table is edited");

}  // namespace headlink
