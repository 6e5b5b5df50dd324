// Whether the names a run writes are ones the game can load. A new head
// most often fails in the game not in the tables but in a name: a model or
// texture with a typo, or a file the modder forgot to ship; the game then
// shows a bald head, an invisible one, or crashes. Knowing every resource
// of the game folder, a run can say so first.
#pragma once

#include <array>
#include <cstddef>
#include <vector>

#include "app/files.h"
#include "app/link.h"
#include "app/pack.h"
#include "fileio/result.h"
#include "game/resources.h"
#include "table/table.h"

namespace headlink {

// Checks each cell a script set (an added row's key cell among them; not
// the link cells, nor a script's value
// in a link column, which linking replaces) whose value before the script
// (for an added row, its template's) names a resource the game can load:
// its value must name a resource of the same kind, in `index` or among the
// files the heads bring, in no more than 16 characters. A column whose
// template names nothing loadable (a number, ****, a base name the game
// extends) is never checked. `tables` are the run's final tables (in
// kTableFiles order), `marks` its cells set, in order; `heads` its heads
// (without a pack, one named "" that brings nothing). The warnings come in
// the order of the marks, each naming its script as the run names it.
// With `notes`, a line for the report for each name found only in a
// subfolder of the override folder ("head.txt: heads row 30, column 1
// "model" = "x": found in Override/mods/x.mdl, ...").
std::vector<Warning> unloadableNames(const std::array<Table, kTableCount>& tables,
                                        const std::vector<CellMark>& marks, const ResourceIndex& index,
                                        const std::vector<HeadInputs>& heads, const LinkColumns& links,
                                        std::vector<std::string>* notes = nullptr);

}  // namespace headlink
