#include "game/record.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <utility>
#include <vector>

#include "table/text.h"

namespace headlink {

namespace {

constexpr const char* kRecordTitle = "headlink install record";
constexpr std::string_view kTemporaryTag = ".headlink-";

bool printable(unsigned char c) { return c > 0x20 && c < 0x7F; }

bool isChecksum(std::string_view text) {
    return text.size() == 32 && std::all_of(text.begin(), text.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
           });
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// A file's path in a record: a name inside the override folder, nothing
// else. Files of an install only ever go there, so a path that leads
// anywhere else (up, to a drive, a stream, deeper) is not ours.
bool inOverride(const std::string& path) {
    const std::size_t slash = path.find('/');
    if (slash == std::string::npos || !sameText(path.substr(0, slash), "override")) return false;
    const std::string name = path.substr(slash + 1);
    if (name.empty() || name == "." || name == "..") return false;
    return std::none_of(name.begin(), name.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return u < 0x20 || u == 0x7F || c == '/' || c == '\\' || c == ':';
    });
}

// The lines' order: each kind at its place, the ones marked once at most.
enum Rank { kInstall = 1, kHeads, kPack, kMade, kFile, kTemporary, kComplete, kUndoing };

struct Reader {
    Record* record;
    const std::string& name;
    int number = 0;
    int lastRank = 0;
    bool numbered = false;
    std::vector<int> fileLines;  // the line of each file

    Result bad(const std::string& why) const {
        return Result::failure(Status::malformed, "not a record headlink wrote: " + why, name, number);
    }
    // One field's name: escaped in a numbered record, as it stands in an older one.
    bool field(std::string_view text, std::string* out) const {
        if (!numbered) {
            *out = std::string(text);
            return !text.empty();
        }
        return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return printable(static_cast<unsigned char>(c)); }) &&
               unescapeName(text, out);
    }
    Result line(std::string_view text);
    Result file(std::string_view rest);
    Result temporary(std::string_view rest);
};

Result Reader::line(std::string_view text) {
    const std::size_t space = text.find(' ');
    const std::string_view word = text.substr(0, space);
    const std::string_view rest = space == std::string_view::npos ? std::string_view() : text.substr(space + 1);
    int rank = 0;
    if (word == "install") rank = kInstall;
    else if (word == "heads") rank = kHeads;
    else if (word == "pack") rank = kPack;
    else if (word == "made") rank = kMade;
    else if (word == "file") rank = kFile;
    else if (word == "temporary") rank = kTemporary;
    else if (text == "complete") rank = kComplete;
    else if (text == "undoing") rank = kUndoing;
    else return bad("a line it does not know");
    const bool once = rank == kInstall || rank == kHeads || rank == kPack || rank >= kComplete;
    if (rank < lastRank || (once && rank == lastRank)) {
        std::string why(word);  // appended piecewise: GCC 12 warns wrongly on a chain of +
        why += " out of its place";
        return bad(why);
    }
    lastRank = rank;
    switch (rank) {
        case kInstall: {
            uint64_t n = 0;
            const auto [end, ec] = std::from_chars(rest.data(), rest.data() + rest.size(), n);
            if (ec != std::errc() || end != rest.data() + rest.size() || n == 0 || rest[0] == '0')
                return bad("an install number that is not a whole number from 1");
            record->number = n;
            numbered = true;
            return {};
        }
        case kHeads:
            for (std::size_t at = 0; at <= rest.size();) {
                const std::size_t end = std::min(rest.find(' ', at), rest.size());
                std::string head;
                if (!field(rest.substr(at, end - at), &head)) return bad("a head's name not written as headlink writes it");
                record->heads.push_back(std::move(head));
                at = end + 1;
            }
            return {};
        case kPack: {
            const std::size_t space = rest.find(' ');
            if (!numbered || space == std::string_view::npos || !isChecksum(rest.substr(0, space)) ||
                !field(rest.substr(space + 1), &record->pack.path) || record->pack.path.empty())
                return bad("a pack line without a checksum and a folder");
            record->pack.sum = std::string(rest.substr(0, space));
            return {};
        }
        case kMade:
            if (rest == "override") record->madeOverride = true;
            else if (rest == "headlink-backups") record->madeBackups = true;
            else return bad("a folder headlink does not make");
            return {};
        case kFile: return file(rest);
        case kTemporary: return temporary(rest);
        case kComplete: record->complete = true; return {};
        default: record->undoing = true; return {};
    }
}

// "file PATH BEFORE AFTER [symlink TARGET | hardlink]". An older record
// is read from its end back: it may hold a path with spaces, and no links.
Result Reader::file(std::string_view rest) {
    std::vector<std::string_view> words;
    for (std::size_t at = 0; numbered && at <= rest.size();) {
        const std::size_t end = std::min(rest.find(' ', at), rest.size());
        words.push_back(rest.substr(at, end - at));
        at = end + 1;
    }
    if (!numbered) {
        const std::size_t last = rest.rfind(' ');
        const std::size_t middle =
            last == std::string_view::npos || last == 0 ? std::string_view::npos : rest.rfind(' ', last - 1);
        if (middle != std::string_view::npos && middle != 0)
            words = {rest.substr(0, middle), rest.substr(middle + 1, last - middle - 1), rest.substr(last + 1)};
    }
    if (words.size() < 3) return bad("a file line without two checksums");
    RecordedFile file{{}, std::string(words[1]), std::string(words[2])};
    if (words.size() == 4 && words[3] == "hardlink") {
        file.link.kind = FileLink::Kind::hard;
    } else if (words.size() == 5 && words[3] == "symlink") {
        file.link.kind = FileLink::Kind::symbolic;
        if (!field(words[4], &file.link.target) || file.link.target.find('\0') != std::string::npos)
            return bad("a link's target not written as headlink writes it");
    } else if (words.size() != 3) {
        return bad("a file line with more than a path, two checksums and a link");
    }
    if (!field(words[0], &file.path) || !inOverride(file.path) ||
        (numbered && !unopenableName(file.path.substr(file.path.find('/') + 1))))
        return bad("a path that is not a file in the override folder");
    if ((!isChecksum(file.before) && file.before != kAbsent) || !isChecksum(file.after))
        return bad("a checksum that is not 32 hex digits");
    // One file twice (in any case, as Windows names it) would be put back,
    // then removed, its only backup with it.
    for (std::size_t i = 0; i < record->files.size(); ++i)
        if (sameText(record->files[i].path, file.path))
            return bad("it names " + file.path + " here and on line " + std::to_string(fileLines[i]) +
                       ", which is one file");
    record->files.push_back(std::move(file));
    fileLines.push_back(number);
    return {};
}

// A temporary is only ever ours, beside a file this record writes: an
// undo removes it, so any other name would be a file deleted.
Result Reader::temporary(std::string_view rest) {
    std::string path;
    if (!field(rest, &path)) return bad("a temporary not written as headlink writes it");
    const std::size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const std::string target = temporaryTarget(name);
    const bool beside = isTemporaryName(name) &&
                        std::any_of(record->files.begin(), record->files.end(), [&](const RecordedFile& f) {
                            return target.empty() ? f.path.starts_with(folder) && f.path.find('/', folder.size()) ==
                                                                                      std::string::npos
                                                  : f.path == folder + target;
                        });
    if (!beside) return bad("a temporary that is not headlink's own beside a file the record writes");
    record->temporaries.push_back(std::move(path));
    return {};
}

}  // namespace

// A space too: fields are separated by spaces.
std::string escapeName(std::string_view name) { return hexEscaped(name, " "); }

bool unescapeName(std::string_view text, std::string* name) {
    name->clear();
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            *name += text[i];
            continue;
        }
        if (i + 3 >= text.size()) return false;
        if (text[i + 1] != 'x' || hexValue(text[i + 2]) < 0 || hexValue(text[i + 3]) < 0) return false;
        *name += static_cast<char>(hexValue(text[i + 2]) * 16 + hexValue(text[i + 3]));
        i += 3;
    }
    return true;
}

namespace {
bool isTag(std::string_view tag) {
    return tag.size() == 16 &&
           std::all_of(tag.begin(), tag.end(), [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}
}  // namespace

bool isTemporaryName(std::string_view fileName) {
    // ".headlink-" 16 hex digits ".tmp"
    const bool bare = fileName.size() == kTemporaryTag.size() + 16 + 4 && fileName.starts_with(kTemporaryTag) &&
                      fileName.ends_with(".tmp") && isTag(fileName.substr(kTemporaryTag.size(), 16));
    return bare || !temporaryTarget(fileName).empty();
}

std::string temporaryTarget(std::string_view fileName) {
    // "." NAME ".headlink-" 16 hex digits ".tmp"
    constexpr std::size_t kTail = 10 + 16 + 4;
    if (fileName.size() < 2 + kTail || fileName[0] != '.' || !fileName.ends_with(".tmp")) return {};
    const std::string_view tail = fileName.substr(fileName.size() - kTail);
    if (!tail.starts_with(kTemporaryTag)) return {};
    const std::string_view tag = tail.substr(kTemporaryTag.size(), 16);
    if (!std::all_of(tag.begin(), tag.end(), [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); }))
        return {};
    return std::string(fileName.substr(1, fileName.size() - 1 - kTail));
}

Result unopenableName(std::string_view name) {
    const auto refused = [&](std::string why) { return Result::failure(Status::usage, std::move(why), std::string(name)); };
    for (const char c : name) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u > 0x7E) return refused("its name holds a byte outside printable ASCII");
        if (std::string_view("<>:\"/\\|?*").find(c) != std::string_view::npos)
            return refused(std::string("its name holds '") + c + "'");
    }
    if (name.empty()) return refused("it has no name");
    if (name.back() == '.' || name.back() == ' ') return refused("its name ends in a dot or a space");
    // Windows opens a device for these, whatever follows the first dot, and
    // spaces before it.
    std::string_view base = name.substr(0, name.find('.'));
    while (base.ends_with(' ')) base.remove_suffix(1);
    for (const char* device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"})
        if (sameText(base, device)) return refused("its name is a device's (" + std::string(device) + ")");
    if (base.size() == 4 && (sameText(base.substr(0, 3), "COM") || sameText(base.substr(0, 3), "LPT")) &&
        base[3] >= '1' && base[3] <= '9')
        return refused("its name is a device's (" + std::string(base) + ")");
    return {};
}

Result aliasLikeName(std::string_view name) {
    // The 8.3 shape: up to eight bytes, then perhaps a dot and up to three.
    const std::size_t dot = name.find('.');
    const std::size_t base = std::min(dot, name.size());
    if (base == 0 || base > 8 || (dot != std::string_view::npos && (name.size() - dot - 1 > 3 || name.size() == dot + 1 ||
                                                                    name.find('.', dot + 1) != std::string_view::npos)))
        return {};
    for (std::size_t at = name.find('~'); at != std::string_view::npos && at + 1 < base; at = name.find('~', at + 1))
        if (std::isalnum(static_cast<unsigned char>(name[at + 1])) != 0)
            return Result::failure(Status::usage,
                                   "its name could be the short name Windows gives another file (as APPEAR~1.2DA is "
                                   "appearance.2da's)",
                                   std::string(name));
    return {};
}

std::string recordText(const Record& record) {
    std::string text = kRecordTitle;
    text += '\n';
    if (record.number != 0) text += "install " + std::to_string(record.number) + '\n';
    // A name with no bytes could not be read back: it is left out.
    std::string heads;
    for (const std::string& head : record.heads)
        if (!head.empty()) heads += ' ' + escapeName(head);
    if (!heads.empty()) text += "heads" + heads + '\n';
    if (record.number != 0 && !record.pack.sum.empty() && !record.pack.path.empty())
        text += "pack " + record.pack.sum + ' ' + escapeName(record.pack.path) + '\n';
    if (record.madeOverride) text += "made override\n";
    if (record.madeBackups) text += "made headlink-backups\n";
    for (const RecordedFile& file : record.files)
    {
        text += "file " + escapeName(file.path) + ' ' + file.before + ' ' + file.after;
        if (file.link.kind == FileLink::Kind::symbolic) text += " symlink " + escapeName(file.link.target);
        if (file.link.kind == FileLink::Kind::hard) text += " hardlink";
        text += '\n';
    }
    for (const std::string& temporary : record.temporaries) text += "temporary " + escapeName(temporary) + '\n';
    if (record.complete) text += "complete\n";
    if (record.undoing) text += "undoing\n";
    return text;
}

Result parseRecord(std::string_view text, const std::string& name, Record* record) {
    *record = Record{};
    Reader reader{record, name, 0, 0, false, {}};
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t end = text.find('\n', at);
        ++reader.number;
        if (end == std::string_view::npos) return reader.bad("its last line is cut off");
        std::string_view line = text.substr(at, end - at);
        at = end + 1;
        if (line.ends_with('\r')) line.remove_suffix(1);
        if (reader.number == 1) {
            if (line != kRecordTitle) return reader.bad("the first line is not \"headlink install record\"");
        } else if (Result why = reader.line(line); !why) {
            return why;
        }
    }
    if (reader.number == 0) return reader.bad("it is empty");
    return {};
}

}  // namespace headlink
