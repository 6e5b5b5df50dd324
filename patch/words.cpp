#include <vector>

#include "patch/patch.h"
#include "patch/tokens.h"

namespace headlink {

namespace {

// Every word of the script with its role, read by the run's own reader,
// and the role of the word that would come after the last.
std::vector<ScriptWord> readWords(std::span<const uint8_t> script, WordRole* next) {
    std::vector<ScriptWord> words;
    ScriptReader in(script);
    // Reads the next word as `role`: with `number`, as the run reads a
    // number; true when it was one.
    const auto take = [&](WordRole role, bool number) {
        ScriptWord w;
        w.role = role;
        w.begin = in.position();
        int32_t value = 0;
        std::string_view text;
        if (number && in.readInt(&value)) w.number = value;
        else in.readText(&text);
        w.end = in.position();
        words.push_back(w);
        return w.number.has_value();
    };
    for (const WordRole role : {WordRole::templateRow, WordRole::keyColumn, WordRole::keyValue}) {
        *next = role;
        if (in.atEnd()) return words;
        take(role, role != WordRole::keyValue);
    }
    for (;;) {
        *next = WordRole::column;
        if (in.atEnd()) return words;
        // A word where a column belongs ends the pairs: the rest is the note.
        if (!take(WordRole::column, true)) {
            words.back().role = WordRole::note;
            break;
        }
        *next = WordRole::value;
        if (in.atEnd()) return words;
        take(WordRole::value, false);
    }
    while (!in.atEnd()) take(WordRole::note, false);
    *next = WordRole::note;
    return words;
}

}  // namespace

ScriptWord scriptWordAt(std::span<const uint8_t> script, std::size_t offset) {
    WordRole next = WordRole::templateRow;
    const std::vector<ScriptWord> words = readWords(script, &next);
    for (const ScriptWord& w : words) {
        if (w.begin <= offset && offset <= w.end) return w;
        if (w.begin > offset) return {w.role, offset, offset, {}};
    }
    return {next, offset, offset, {}};
}

std::optional<ScriptWord> firstScriptWord(std::span<const uint8_t> script, WordRole role) {
    WordRole next = WordRole::templateRow;
    for (const ScriptWord& w : readWords(script, &next))
        if (w.role == role) return w;
    return {};
}

}  // namespace headlink
