// Helpers shared by the fuzz targets: failing loudly, and a plain model of
// the string pool that the targets hold the table's edits against.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "table/table.h"

namespace fuzz {

// A broken property: say which, then abort so that libFuzzer saves the input.
// The message parts are only put together when the property fails, so that
// checks cost nothing in the common case.
template <class... Parts>
[[noreturn]] void fail(const Parts&... parts) {
    std::ostringstream message;
    (message << ... << parts);
    std::fprintf(stderr, "\nPROPERTY FAILED: %s\n", message.str().c_str());
    std::abort();
}

template <class... Parts>
void check(bool holds, const Parts&... parts) {
    if (!holds) fail(parts...);
}

inline char foldAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + ('a' - 'A')) : c; }

inline bool sameIgnoringAsciiCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (foldAscii(a[i]) != foldAscii(b[i])) return false;
    return true;
}

inline bool startsWith(const std::string& s, const std::string& prefix) { return s.rfind(prefix, 0) == 0; }

// The pool as the format stores it: NUL-terminated strings back to back.
// Values are placed as the README tells users: the first string equal apart
// from A-Z case is reused, except that a match at offset 0 counts as none,
// and a new string goes at the end as long as the pool stays within 16-bit
// offsets.
struct PoolModel {
    std::vector<uint8_t> bytes;

    // Offset of the first string equal to `text` apart from A-Z case, which
    // may be 0, or 0 when there is none.
    uint16_t find(std::string_view text) const {
        std::size_t at = 0;
        while (at < bytes.size()) {
            std::size_t end = at;
            while (end < bytes.size() && bytes[end] != 0) ++end;
            std::string_view s(reinterpret_cast<const char*>(bytes.data()) + at, end - at);
            if (sameIgnoringAsciiCase(s, text)) return static_cast<uint16_t>(at);
            at = end + 1;
        }
        return 0;
    }

    // Where a cell set to `text` points afterwards (text ends at a NUL), or
    // -1 when the pool would grow past 65,535 bytes. The pool is changed
    // only when `commit` is set.
    int32_t place(std::string_view text, bool commit = true) {
        text = text.substr(0, text.find('\0'));
        uint16_t found = find(text);
        if (found != 0) return found;
        if (bytes.size() + text.size() + 1 > 65535) return -1;
        auto offset = static_cast<int32_t>(bytes.size());
        if (!commit) return offset;
        bytes.insert(bytes.end(), text.begin(), text.end());
        bytes.push_back(0);
        return offset;
    }
};

// Text of a cell of a loaded table; fails the property when it points
// outside the pool.
inline std::string_view cellText(const headlink::Table& t, int32_t row, int32_t column) {
    std::string_view text;
    check(t.poolString(t.cellOffset(row, column), &text), "cell (", row, ", ", column,
          ") points outside the pool");
    return text;
}

// All grid entries, row by row.
inline std::vector<uint16_t> gridOf(const headlink::Table& t) {
    std::vector<uint16_t> grid;
    for (int32_t r = 0; r < t.rowCount(); ++r)
        for (int32_t c = 0; c < t.columnCount(); ++c) grid.push_back(t.cellOffset(r, c));
    return grid;
}

// Where the regions of a file lie; fails the property when the file has no
// table's shape (every file handed in here has loaded).
inline headlink::FileLayout layoutOf(std::span<const uint8_t> file) {
    headlink::FileLayout layout;
    const headlink::Result shape = headlink::readLayout(file, &layout);
    check(static_cast<bool>(shape), "a loaded file has no table layout: ", shape.reason);
    return layout;
}

// Bytes 0 up to the grid of a table file: the labels, the row count and
// the row labels.
inline std::vector<uint8_t> headerOf(std::span<const uint8_t> file) {
    const auto gridStart = static_cast<std::ptrdiff_t>(layoutOf(file).gridStart);
    return std::vector<uint8_t>(file.begin(), file.begin() + gridStart);
}

// The header a table written after appending rows must have: the header of
// the file it was loaded from with the new row count, then each new row's
// number and a tab.
inline std::vector<uint8_t> expectedHeader(std::span<const uint8_t> loadedFile, int32_t rows) {
    const headlink::FileLayout layout = layoutOf(loadedFile);
    std::vector<uint8_t> header = headerOf(loadedFile);
    const std::size_t at = layout.labelEnd + 1;
    header[at] = static_cast<uint8_t>(rows & 0xFF);
    header[at + 1] = static_cast<uint8_t>((rows >> 8) & 0xFF);
    for (auto row = static_cast<int32_t>(layout.rows); row < rows; ++row) {
        std::string label = std::to_string(row) + "\t";
        header.insert(header.end(), label.begin(), label.end());
    }
    return header;
}

// The pool-size field a table should be written with, taken from the file
// it was loaded from: the pool's length now when the file's field was its
// pool's length (in a table with rows), else the file's own field.
inline uint16_t expectedPoolSizeField(std::span<const uint8_t> file, std::size_t poolBytesNow) {
    const headlink::FileLayout layout = layoutOf(file);
    const std::size_t at = layout.poolStart - 2;
    const auto read = static_cast<uint16_t>(file[at] | file[at + 1] << 8);
    const bool wasLength = layout.rows > 0 && read == file.size() - at - 2;
    return wasLength ? static_cast<uint16_t>(poolBytesNow) : read;
}

inline bool isPrefix(const std::vector<uint8_t>& prefix, const std::vector<uint8_t>& whole) {
    return prefix.size() <= whole.size() && std::equal(prefix.begin(), prefix.end(), whole.begin());
}

}  // namespace fuzz
