// Names as the programs compare and show them: the one letter-case folding
// and the one split of a name into its stem and extension.
#pragma once

#include <string>
#include <string_view>

namespace headlink {

// A-Z to a-z; every other byte as it is. The game's names, and every
// lookup of a text, ignore the case of A-Z and nothing else.
constexpr char foldAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
inline std::string foldedCase(std::string_view text) {
    std::string folded(text);
    for (char& c : folded) c = foldAscii(c);
    return folded;
}

// Where a name's extension begins: at the last dot of its last step, unless
// that dot begins the step (".profile" is a name, not an extension); the
// name's end when it has none.
constexpr std::size_t extensionAt(std::string_view name) {
    const std::size_t step = name.find_last_of("/\\") + 1;  // 0 when there is no folder
    const std::size_t dot = name.rfind('.');
    return dot == std::string_view::npos || dot <= step ? name.size() : dot;
}
// "heads" and ".2da" for "heads.2da", as the report and the help name a
// table or a script's row, and as a game's tables are told from its other
// files.
constexpr std::string_view stem(std::string_view name) { return name.substr(0, extensionAt(name)); }
constexpr std::string_view extension(std::string_view name) { return name.substr(extensionAt(name)); }

}  // namespace headlink
