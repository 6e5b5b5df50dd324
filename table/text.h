// Texts for people, and the one comparison every lookup uses.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fileio/names.h"

namespace headlink {

// Decimal text of a row number: digits only, no sign or padding.
std::string decimal(int32_t value);

// A text for a message: quoted, at most `limit` bytes (then
// "..."), with bytes that would garble a console shown as \xNN.
inline constexpr std::size_t kWhole = static_cast<std::size_t>(-1);
std::string quoted(std::string_view token, std::size_t limit = 40);

// A cell's text for people, spelled alike in every report and listing:
// **** for the empty text (as the text form writes it), any other text
// quoted as above, "****" itself included.
std::string cellSpelling(std::string_view text, std::size_t limit = kWhole);

// A text with the bytes that would garble a console, and the backslash,
// shown as \xNN (the double quote stays as it is).
std::string visible(std::string_view text);

// `text` with every byte outside printable ASCII, the backslash and each
// byte of `also` written as \xNN: the one escape every message and record
// uses.
std::string hexEscaped(std::string_view text, std::string_view also);

// "a", "a and b", "a, b and c".
std::string listed(const std::vector<std::string>& items);

// Whether two texts are equal apart from the case of A-Z, the comparison
// every lookup uses; every other byte must match exactly.
bool sameText(std::string_view a, std::string_view b);

}  // namespace headlink
