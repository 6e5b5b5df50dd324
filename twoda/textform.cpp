#include "twoda/textform.h"

#include "table/format.h"


#include <string>

namespace headlink {

namespace {

using format::kTextSignature;

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

std::string_view trimmed(std::string_view line) {
    while (!line.empty() && isSpace(line.front())) line.remove_prefix(1);
    while (!line.empty() && isSpace(line.back())) line.remove_suffix(1);
    return line;
}

struct Field {
    std::string_view text;
    bool quoted = false;
};

// Splits one line into its fields. A quoted field runs to the next double
// quote, which must be followed by white space or the end of the line. A
// quote left open takes the rest of the line, as lenient readers do, and
// sets *openQuote.
Result splitFields(std::string_view line, std::vector<Field>* fields, bool* openQuote) {
    fields->clear();
    *openQuote = false;
    std::size_t at = 0;
    while (true) {
        while (at < line.size() && isSpace(line[at])) ++at;
        if (at == line.size()) return {};
        if (line[at] == '"') {
            const std::size_t close = line.find('"', at + 1);
            if (close == std::string_view::npos) {
                fields->push_back({line.substr(at + 1), true});
                *openQuote = true;
                return {};
            }
            if (close + 1 < line.size() && !isSpace(line[close + 1]))
                return Result::failure(Status::malformed, "expected white space after the closing quote");
            fields->push_back({line.substr(at + 1, close - at - 1), true});
            at = close + 1;
        } else {
            const std::size_t start = at;
            while (at < line.size() && !isSpace(line[at])) ++at;
            fields->push_back({line.substr(start, at - start), false});
        }
    }
}

// Reads the text one line at a time, counting lines for messages.
class Lines {
public:
    explicit Lines(std::string_view text) : text_(text) {}
    bool next(std::string_view* line) {
        if (at_ > text_.size() || (at_ == text_.size() && number_ > 0)) return false;
        std::size_t end = text_.find('\n', at_);
        if (end == std::string_view::npos) end = text_.size();
        *line = text_.substr(at_, end - at_);
        if (!line->empty() && line->back() == '\r') line->remove_suffix(1);
        at_ = end + 1;
        ++number_;
        return true;
    }
    int number() const { return number_; }

private:
    std::string_view text_;
    std::size_t at_ = 0;
    int number_ = 0;
};

Result failAt(int line, std::string what) { return Result::failure(Status::malformed, std::move(what), {}, line); }

}  // namespace

bool isTextForm(std::string_view bytes) {
    if (bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
    return trimmed(bytes.substr(0, bytes.find('\n'))) == kTextSignature;
}

Result buildFromText(std::string_view text, std::vector<uint8_t>* out, std::vector<std::string>* notes) {
    std::vector<std::string> ignored;
    if (notes == nullptr) notes = &ignored;
    bool openQuote = false;
    auto noteOpenQuote = [&](int line) {
        if (openQuote)
            notes->push_back("line " + std::to_string(line) + ": a double quote is left open; the rest of the "
                             "line is taken as the value");
    };
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);  // a byte-order mark some editors add
    Lines lines(text);
    std::string_view line;
    if (text.substr(0, format::kSignature.size()) == format::kSignature)
        return failAt(1, "this is a table in binary form (2DA V2.b), not the text form");
    if (!lines.next(&line) || trimmed(line) != kTextSignature)
        return failAt(1, "expected \"2DA V2.0\", found " + quoted(line));
    if (!lines.next(&line))
        return failAt(2, "expected a blank line, found the end of the file");
    if (trimmed(line).substr(0, 8) == "DEFAULT:")
        return failAt(2, "a DEFAULT: line is not supported (the binary form has no default value); "
                         "remove it");
    if (!trimmed(line).empty()) return failAt(2, "expected a blank line, found " + quoted(line));

    std::vector<Field> fields;
    if (!lines.next(&line)) return failAt(3, "expected the column labels, found the end of the file");
    if (trimmed(line).empty()) return failAt(3, "expected the column labels, found a blank line");
    if (line.find('\0') != std::string_view::npos)
        return failAt(3, "a NUL byte, which no label or text may hold");
    if (const Result split = splitFields(line, &fields, &openQuote); !split) return failAt(3, split.reason);
    noteOpenQuote(3);
    TableRows rows;
    for (const Field& label : fields) {
        if (label.text.find('\t') != std::string_view::npos)
            return failAt(3, "column label " + quoted(label.text) + " holds a tab, which ends a "
                             "label in the binary form");
        rows.columnLabels.push_back(label.text);
    }
    const std::size_t columns = fields.size();

    while (lines.next(&line)) {
        const int number = lines.number();
        if (trimmed(line).empty()) continue;
        if (line.find('\0') != std::string_view::npos)
            return failAt(number, "a NUL byte, which no label or text may hold");
        if (const Result split = splitFields(line, &fields, &openQuote); !split) return failAt(number, split.reason);
        noteOpenQuote(number);
        if (fields.size() > columns + 1)
            return failAt(number, "row " + quoted(fields[0].text) + ": expected " + std::to_string(columns) +
                                      (columns == 1 ? " value" : " values") + ", one per column, found " +
                                      std::to_string(fields.size() - 1));
        // A short row ends in empty cells, as the host application reads it.
        if (fields.size() < columns + 1) {
            const std::size_t missing = columns + 1 - fields.size();
            notes->push_back("line " + std::to_string(number) + ": row " + quoted(fields[0].text) + " has " +
                             std::to_string(fields.size() - 1) + " of " + std::to_string(columns) +
                             " values; the last " + std::to_string(missing) + " are taken as empty");
            fields.resize(columns + 1, Field{kEmptyCell, false});
        }
        if (rows.rowLabels.size() == static_cast<std::size_t>(kMaxRows))
            return failAt(number, "more than 65,535 rows, the most the binary form holds");
        if (fields[0].text.find('\t') != std::string_view::npos)
            return failAt(number, "row label " + quoted(fields[0].text) + " holds a tab, which ends a "
                                  "label in the binary form");
        rows.rowLabels.push_back(fields[0].text);
        rows.lines.push_back(number);
        for (std::size_t c = 1; c < fields.size(); ++c)
            rows.cells.push_back(!fields[c].quoted && fields[c].text == kEmptyCell ? std::string_view() : fields[c].text);
    }
    Result written = tableBytes(rows, out);
    if (!written) written.status = Status::malformed;  // as every other failure of the text says
    return written;
}

namespace {

bool needsQuotes(std::string_view text, bool isValue) {
    if (text.empty()) return !isValue;  // an empty value is written ****
    if (text.front() == '"' || (isValue && text == kEmptyCell)) return true;
    for (char c : text)
        if (isSpace(c)) return true;
    return false;
}

// Whether a field can hold the text: no line break or NUL, and no double
// quote in a text that needs quotes.
bool writable(std::string_view text, bool isValue) {
    if (text.find_first_of(std::string_view("\n\0", 2)) != std::string_view::npos) return false;
    return !needsQuotes(text, isValue) || text.find('"') == std::string_view::npos;
}

// Appends a writable text as one field: as it is, or in quotes when it
// holds white space or could be read as something else.
void putField(std::string_view text, bool isValue, std::string* out) {
    if (isValue && text.empty()) {
        *out += kEmptyCell;
    } else if (needsQuotes(text, isValue)) {
        *out += '"';
        *out += text;
        *out += '"';
    } else {
        *out += text;
    }
}

Result cannotWrite(const std::string& what, std::string_view text) {
    std::string why = what;
    why += ": the text ";
    why += quoted(text);
    why += " cannot be written in the text form (it holds a line break or a NUL, or needs quotes "
           "and holds a double quote)";
    return Result::failure(Status::cannotWrite, why);
}

}  // namespace

Result writeTextForm(const Table& table, std::ostream& out) {
    if (table.columnCount() == 0) {
        return Result::failure(Status::cannotWrite, "the table has no columns, and the text form needs at least one");
    }
    // Every text is checked before anything is written, so that a table
    // this form cannot hold gives no output at all.
    const auto labels = table.columnLabels();
    const auto rowLabels = table.rowLabels();
    for (std::size_t c = 0; c < labels.size(); ++c)
        if (!writable(labels[c], false)) return cannotWrite("column " + std::to_string(c) + "'s label", labels[c]);
    for (int32_t r = 0; r < table.rowCount(); ++r) {
        const std::string& label = rowLabels[static_cast<std::size_t>(r)];
        if (!writable(label, false)) return cannotWrite("row " + std::to_string(r) + "'s label", label);
        for (int32_t c = 0; c < table.columnCount(); ++c)
            if (!writable(table.cellText(r, c), true))
                return cannotWrite("row " + std::to_string(r) + ", column " + std::to_string(c),
                                   table.cellText(r, c));
    }
    // One line at a time, so that a table of long texts is never held whole.
    std::string line(kTextSignature);
    line += "\n\n";
    for (std::string_view label : labels) {
        line += '\t';
        putField(label, false, &line);
    }
    line += '\n';
    out << line;
    for (int32_t r = 0; r < table.rowCount(); ++r) {
        line.clear();
        putField(rowLabels[static_cast<std::size_t>(r)], false, &line);
        for (int32_t c = 0; c < table.columnCount(); ++c) {
            line += '\t';
            putField(table.cellText(r, c), true, &line);
        }
        line += '\n';
        out << line;
    }
    return {};
}

}  // namespace headlink
