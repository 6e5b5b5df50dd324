#include "app/link.h"

#include <new>

#include "patch/patch.h"

namespace headlink {

namespace {

bool checkColumns(const Table& table, int32_t needed, std::string* why) {
    if (table.columnCount() >= needed) return true;
    *why = table.name() + ": has " + std::to_string(table.columnCount()) +
           " columns, but linking writes into column " + std::to_string(needed - 1) +
           " and so needs at least " + std::to_string(needed);
    return false;
}

// Applies script i; returns the row it reported, or -1.
int32_t apply(Table& table, const std::array<FileBytes, 5>& scripts, std::size_t i,
              std::string* why) {
    if (!scripts[i].ok()) {
        *why = std::string(kScriptFiles[i]) + ": " + scripts[i].error;
        return -1;
    }
    try {
        return applyScriptBytes(table, scripts[i].bytes, kScriptFiles[i], why);
    } catch (const std::bad_alloc&) {
        *why = std::string(kScriptFiles[i]) + ": not enough memory";
        return -1;
    }
}

bool link(Table& table, int32_t row, int32_t column, int32_t value, std::string* why) {
    std::string reason;
    try {
        if (table.setCell(row, column, decimal(value), &reason) == 0) return true;
    } catch (const std::bad_alloc&) {
        reason = "not enough memory";
    }
    *why = table.name() + ": cannot write " + decimal(value) + " into column " + decimal(column) +
           " of row " + decimal(row) + ": " + reason;
    return false;
}

}  // namespace

bool runLinking(Table& appearance, Table& heads, Table& portraits,
                const std::array<FileBytes, 5>& scripts, std::string* why) {
    if (!checkColumns(appearance, kAppearanceHeadColumn + 1, why) ||
        !checkColumns(portraits, kPortraitAlt2Column + 1, why))
        return false;

    if (apply(heads, scripts, 0, why) < 0) return false;
    const int32_t headRow = heads.lastPatchedRow();

    // Each appearance row gets the head row; later scripts see rows that
    // earlier ones appended.
    std::array<int32_t, 3> appearanceRows{};
    for (std::size_t i = 0; i < 3; ++i) {
        if (apply(appearance, scripts, i + 1, why) < 0) return false;
        appearanceRows[i] = appearance.lastPatchedRow();
        if (!link(appearance, appearanceRows[i], kAppearanceHeadColumn, headRow, why)) return false;
    }

    if (apply(portraits, scripts, 4, why) < 0) return false;
    const int32_t portraitRow = portraits.lastPatchedRow();
    return link(portraits, portraitRow, kPortraitMainColumn, appearanceRows[1], why) &&
           link(portraits, portraitRow, kPortraitAlt1Column, appearanceRows[0], why) &&
           link(portraits, portraitRow, kPortraitAlt2Column, appearanceRows[2], why);
}

}  // namespace headlink
