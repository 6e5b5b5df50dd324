// Texts for people and the comparison every lookup uses.
#include "table/text.h"

namespace headlink {

namespace {

// Bytes that would garble a console, and the backslash, as \xNN; with
// `quote`, the double quote too, so that a quoted text reads unambiguously.
std::string escaped(std::string_view text, bool quote) { return hexEscaped(text, quote ? "\"" : ""); }

}  // namespace

std::string visible(std::string_view text) { return escaped(text, false); }

std::string hexEscaped(std::string_view text, std::string_view also) {
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    for (char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c >= 0x20 && c < 0x7F && c != '\\' && also.find(ch) == std::string_view::npos) {
            out += ch;
        } else {
            out += "\\x";
            out += hex[c >> 4];
            out += hex[c & 0xF];
        }
    }
    return out;
}

// Built a piece at a time: GCC 12 warns wrongly (-Wrestrict) on chains of +
// with a literal first.
std::string listed(const std::vector<std::string>& items) {
    std::string text;
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (i > 0) text += i + 1 == items.size() ? " and " : ", ";
        text += items[i];
    }
    return text;
}

// Built a piece at a time: MinGW's GCC 12 warns wrongly (-Wrestrict) on
// a literal joined to a string.
std::string quoted(std::string_view token, std::size_t limit) {
    std::string out(1, '"');
    out += escaped(token.substr(0, limit), true);
    if (token.size() > limit) out += "...";
    out += '"';
    return out;
}

std::string cellSpelling(std::string_view text, std::size_t limit) {
    if (text.empty()) return std::string(4, '*');
    return quoted(text, limit);
}

bool sameText(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (foldAscii(a[i]) != foldAscii(b[i])) return false;
    return true;
}

std::string decimal(int32_t value) { return std::to_string(value); }

}  // namespace headlink
