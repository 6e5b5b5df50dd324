// The run's fixed files and the cells that link its tables.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

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
// The appearance scripts, each of which adds or finds one appearance row.
inline constexpr std::array<ScriptId, 3> kAppearanceScripts = {kAppHead1Script, kAppHead2Script, kAppHead3Script};

// The table each script edits.
constexpr TableId tableOf(ScriptId script) {
    return script == kHeadScript ? kHeads : script == kPortraitsScript ? kPortraits : kAppearance;
}

// Link columns (0-based): appearance's head row, and portraits' three
// appearance rows.
inline constexpr int32_t kAppearanceHeadColumn = 10;
inline constexpr int32_t kPortraitMainColumn = 2;   // gets the row of apphead2.txt
inline constexpr int32_t kPortraitAlt1Column = 7;   // of apphead1.txt
inline constexpr int32_t kPortraitAlt2Column = 8;   // of apphead3.txt

}  // namespace headlink
