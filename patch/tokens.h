// Token reading for patch scripts.
//
// A script is read as bytes and the text-mode rules are applied explicitly,
// so that it reads the same on every platform: the input ends at the first
// 0x1A byte, and a CR LF pair reads as LF. Tokens are separated by the six
// white-space bytes (space, tab, LF, VT, FF, CR) and nothing else; as CR is
// one of them, a CR before an LF never changes a token or a line number, so
// the reader works on the bytes as they are, without a copy. Values are
// views into those bytes, which must outlive the reader and its results.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace headlink {

class ScriptReader {
public:
    explicit ScriptReader(std::span<const uint8_t> raw);

    // Reads an integer: optional sign, then 0x/0X and hex digits, a leading
    // 0 and octal digits, or decimal digits. Stops at the first byte that
    // cannot continue the number (it begins the next token) or after 15
    // bytes. Values outside 32 bits clamp to the nearest limit. False, with
    // nothing consumed but white space, when no digit is found.
    bool readInt(int32_t* value);
    // Reads a text token up to the next white space. A NUL ends the value;
    // the rest of the token is read and dropped. False at end of input.
    bool readText(std::string_view* value);

    // The characters the last successful readInt took, and what is left of
    // their token when the number stopped inside it ("8" of "08"; empty when
    // the number was the whole token).
    std::string_view lastNumber() const { return text_.substr(numberStart_, pos_ - numberStart_); }
    std::string_view restOfToken() const;

    // Skips white space; true when nothing but white space is left.
    bool atEnd();
    // The token at the current position, for messages (empty at the end).
    std::string peekToken() const;
    // 1-based line of the current position, and the position itself in text().
    int line() const { return line_; }
    std::size_t position() const { return pos_; }
    // The input up to its end-of-file byte, for checks such as a byte-order mark.
    std::string_view text() const { return text_; }

private:
    void skipSpace();

    std::string_view text_;
    std::size_t pos_ = 0;
    std::size_t numberStart_ = 0;
    int line_ = 1;
};

bool isScriptSpace(char c);
// Whether a whole token reads as one number, as readInt reads it.
bool isScriptNumber(std::string_view token);

}  // namespace headlink
