#include "patch/tokens.h"

#include <algorithm>
#include <limits>

namespace headlink {

namespace {

constexpr std::size_t kMaxIntChars = 15;

int digitValue(char c, int base) {
    int v = -1;
    if (c >= '0' && c <= '9') v = c - '0';
    else if (c >= 'a' && c <= 'f') v = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F') v = c - 'A' + 10;
    return v < base ? v : -1;
}

}  // namespace

bool isScriptSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool isScriptNumber(std::string_view token) {
    ScriptReader reader(std::span(reinterpret_cast<const uint8_t*>(token.data()), token.size()));
    int32_t value = 0;
    return !token.empty() && reader.readInt(&value) && reader.restOfToken().empty() && reader.atEnd();
}

ScriptReader::ScriptReader(std::span<const uint8_t> raw) {
    auto end = std::find(raw.begin(), raw.end(), uint8_t{0x1A});
    text_ = std::string_view(reinterpret_cast<const char*>(raw.data()),
                             static_cast<std::size_t>(end - raw.begin()));
}

// Line feeds only ever occur in white space, so counting them here keeps
// line() exact without rescanning the input.
void ScriptReader::skipSpace() {
    while (pos_ < text_.size() && isScriptSpace(text_[pos_])) {
        if (text_[pos_] == '\n') ++line_;
        ++pos_;
    }
}

bool ScriptReader::atEnd() {
    skipSpace();
    return pos_ == text_.size();
}

bool ScriptReader::readInt(int32_t* value) {
    skipSpace();
    const std::size_t start = pos_;
    const std::size_t limit = std::min(text_.size(), start + kMaxIntChars);
    std::size_t at = start;
    bool negative = false;
    if (at < limit && (text_[at] == '+' || text_[at] == '-')) negative = text_[at++] == '-';

    int base = 10;
    bool sawDigit = false;
    if (at < limit && text_[at] == '0') {
        ++at;
        sawDigit = true;
        base = 8;
        if (at < limit && (text_[at] == 'x' || text_[at] == 'X')) {
            ++at;
            sawDigit = false;  // the prefix needs a hex digit after it
            base = 16;
        }
    }
    // At most 15 bytes fit in 60 bits, so this cannot overflow.
    uint64_t magnitude = 0;
    while (at < limit && digitValue(text_[at], base) >= 0) {
        magnitude = magnitude * static_cast<uint64_t>(base) +
                    static_cast<uint64_t>(digitValue(text_[at], base));
        sawDigit = true;
        ++at;
    }
    if (!sawDigit) return false;
    numberStart_ = start;
    pos_ = at;
    constexpr auto kMax = static_cast<uint64_t>(std::numeric_limits<int32_t>::max());
    if (negative)
        *value = magnitude > kMax ? std::numeric_limits<int32_t>::min()
                                  : -static_cast<int32_t>(magnitude);
    else
        *value = magnitude > kMax ? std::numeric_limits<int32_t>::max()
                                  : static_cast<int32_t>(magnitude);
    return true;
}

bool ScriptReader::readText(std::string_view* value) {
    skipSpace();
    if (pos_ == text_.size()) return false;
    const std::size_t start = pos_;
    while (pos_ < text_.size() && !isScriptSpace(text_[pos_])) ++pos_;
    std::string_view token = text_.substr(start, pos_ - start);
    *value = token.substr(0, token.find('\0'));
    return true;
}

std::string_view ScriptReader::restOfToken() const {
    std::size_t end = pos_;
    while (end < text_.size() && !isScriptSpace(text_[end])) ++end;
    return text_.substr(pos_, end - pos_);
}

std::string ScriptReader::peekToken() const {
    std::size_t at = pos_;
    while (at < text_.size() && isScriptSpace(text_[at])) ++at;
    std::size_t end = at;
    while (end < text_.size() && !isScriptSpace(text_[end])) ++end;
    return std::string(text_.substr(at, end - at));
}

}  // namespace headlink
