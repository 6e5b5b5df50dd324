#include "game/folder.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <system_error>

#include "fileio/fileio.h"
#include "game/archive.h"
#include "table/text.h"

namespace headlink {

namespace fs = std::filesystem;

namespace {

std::string lower(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

// An archive name from the key file, for a message: '\' shown as '/' (the
// message quotes it, and would spell out each backslash).
std::string archiveName(std::string stored) {
    std::replace(stored.begin(), stored.end(), '\\', '/');
    return quoted(stored, kWhole);
}

Result failure(std::string reason, std::string file) {
    return Result::failure(Status::cannotRead, std::move(reason), std::move(file));
}

enum class Kind { file, folder };

// The one entry of `folder` (the game folder joined with `relative`) named
// `wanted` whatever its letter case: its name as it is on disk, or "" when
// there is none. Two that differ only in case are an error naming both.
Result findOne(const std::string& dir, const std::string& relative, const std::string& wanted, Kind kind,
               std::string* found) {
    found->clear();
    const std::string key = lower(wanted);
    std::vector<std::string> matches;
    std::error_code ec;
    const fs::path folder = relative.empty() ? fs::path(dir) : fs::path(dir) / relative;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (lower(name) != key) continue;
        std::error_code typeError;
        const bool isFolder = it->is_directory(typeError);
        const bool isFile = it->is_regular_file(typeError);
        if ((kind == Kind::folder && isFolder) || (kind == Kind::file && isFile)) matches.push_back(name);
    }
    std::sort(matches.begin(), matches.end());
    if (matches.size() > 1) {
        std::string names;
        for (std::size_t i = 0; i < matches.size(); ++i) {
            if (i > 0) names += i + 1 == matches.size() ? " and " : ", ";
            names += quoted(matches[i], kWhole);
        }
        std::string reason = names;
        reason += " differ only in letter case: which one the application reads is not ours to guess";
        return failure(reason, relative.empty() ? dir : relative);
    }
    if (!matches.empty()) *found = matches.front();
    return {};
}

// The game folder's key file ("" when it has none); several are an error.
Result findKey(const std::string& dir, std::string* key) {
    key->clear();
    std::vector<std::string> keys;
    std::error_code ec;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        std::error_code typeError;
        if (name.size() > 4 && lower(name.substr(name.size() - 4)) == ".key" && it->is_regular_file(typeError))
            keys.push_back(name);
    }
    if (ec) return failure("cannot list the game folder: " + ec.message(), dir);
    std::sort(keys.begin(), keys.end());
    if (keys.size() > 1) {
        std::string reason = "the game folder holds several key files (";
        for (std::size_t i = 0; i < keys.size(); ++i) {
            if (i > 0) reason += ", ";
            reason += keys[i];
        }
        reason += "): which one the application reads is not ours to guess";
        return failure(reason, dir);
    }
    if (!keys.empty()) *key = keys.front();
    return {};
}

// The archive a key file names ("data\tables.bif"), found inside the game
// folder whatever its letter case: its path from the game folder, or ""
// when it is not there. A name that would leave the folder is refused.
Result findArchive(const std::string& dir, const std::string& stored, const std::string& keyName, std::string* found) {
    found->clear();
    std::vector<std::string> parts;
    std::string part;
    for (char c : stored) {
        if (c == '\\' || c == '/') {
            parts.push_back(part);
            part.clear();
        } else {
            part += c;
        }
    }
    parts.push_back(part);
    const bool drive = stored.size() > 1 && stored[1] == ':';
    bool leaves = drive || parts.front().empty();
    for (const std::string& p : parts) leaves = leaves || p == ".." || p == "." || p.empty();
    if (leaves) {
        std::string reason = "names the archive ";
        reason += archiveName(stored);
        reason += ", which is not a path inside the game folder: refused";
        return failure(reason, keyName);
    }
    std::string relative;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        std::string name;
        const bool last = i + 1 == parts.size();
        if (Result why = findOne(dir, relative, parts[i], last ? Kind::file : Kind::folder, &name); !why) return why;
        if (name.empty()) return {};
        if (!relative.empty()) relative += '/';
        relative += name;
    }
    *found = relative;
    return {};
}

// Reads entry `index` of archive `relative` (inside `dir`): three small
// reads, never the whole archive.
Result readArchived(const std::string& dir, const std::string& relative, uint32_t index, uint16_t keyType,
                    GameTable* table) {
    const std::string path = (fs::path(dir) / relative).string();
    auto named = [&](Result why) {
        why.file = relative;
        return why;
    };
    FilePart head = readFilePart(path, 0, kArchiveHeaderBytes);
    if (!head.ok()) return named(head.result);
    ArchiveHeader header;
    if (Result why = readArchiveHeader(head.bytes, head.fileSize, &header); !why) return named(why);
    uint64_t at = 0;
    if (Result why = archiveEntryAt(header, index, head.fileSize, &at); !why) return named(why);
    FilePart record = readFilePart(path, at, kArchiveEntryBytes);
    if (!record.ok()) return named(record.result);
    ArchiveEntry entry;
    if (Result why = readArchiveEntry(record.bytes, index, head.fileSize, at, &entry); !why) return named(why);
    if (entry.type != keyType) {
        std::string warning = relative;
        warning += ": entry ";
        warning += std::to_string(index);
        warning += " has resource type ";
        warning += std::to_string(entry.type);
        warning += ", where the key file says ";
        warning += std::to_string(keyType);
        table->warnings.push_back(warning);
    }
    FilePart bytes = readFilePart(path, entry.offset, entry.size);
    if (!bytes.ok()) return named(bytes.result);
    table->bytes = std::move(bytes.bytes);
    return {};
}

// The key file's 2DA entries by lower-case name: the later of two wins.
struct KeyTables {
    std::string keyName;
    KeyFile key;
    std::map<std::string, std::size_t> byName;  // index into key.entries
    std::vector<std::string> repeated;          // names the key gives twice
};

Result readKeyTables(const std::string& dir, KeyTables* tables) {
    if (Result why = findKey(dir, &tables->keyName); !why || tables->keyName.empty()) return why;
    FileBytes file = readFile((fs::path(dir) / tables->keyName).string());
    if (!file.ok()) {
        file.result.file = tables->keyName;
        return file.result;
    }
    if (Result why = readKey(file.bytes, &tables->key); !why) {
        why.file = tables->keyName;
        return why;
    }
    for (std::size_t i = 0; i < tables->key.entries.size(); ++i) {
        const KeyEntry& entry = tables->key.entries[i];
        if (entry.type != kTwoDaType) continue;
        const std::string name = lower(entry.name) + ".2da";
        if (!tables->byName.emplace(name, i).second) {
            tables->byName[name] = i;
            tables->repeated.push_back(name);
        }
    }
    return {};
}

std::string withoutTwoDa(const std::string& name) {
    const bool twoDa = name.size() > 4 && lower(name.substr(name.size() - 4)) == ".2da";
    return twoDa ? name.substr(0, name.size() - 4) : name;
}

}  // namespace

Result readGameTable(const std::string& dir, const std::string& name, GameTable* table) {
    *table = GameTable{};
    std::string override;
    if (Result why = findOne(dir, "", "override", Kind::folder, &override); !why) return why;
    if (!override.empty()) {
        std::string file;
        if (Result why = findOne(dir, override, name, Kind::file, &file); !why) return why;
        if (!file.empty()) {
            const std::string relative = override + "/" + file;
            FileBytes read = readFile((fs::path(dir) / relative).string());
            if (!read.ok()) {
                read.result.file = relative;
                return read.result;
            }
            table->bytes = std::move(read.bytes);
            table->from = relative;
            return {};
        }
    }
    KeyTables keyTables;
    if (Result why = readKeyTables(dir, &keyTables); !why) return why;
    const auto found = keyTables.byName.find(lower(name));
    if (found == keyTables.byName.end()) {
        std::string reason = "not in the game folder ";
        reason += dir;
        reason += ": looked in ";
        reason += override.empty() ? std::string("its override folder (it has none)") : override + "/";
        reason += " and ";
        reason += keyTables.keyName.empty() ? std::string("its key file (it has none)") : keyTables.keyName;
        return failure(reason, name);
    }
    const KeyEntry& entry = keyTables.key.entries[found->second];
    if (std::count(keyTables.repeated.begin(), keyTables.repeated.end(), found->first) > 0) {
        std::string warning = keyTables.keyName;
        warning += " names ";
        warning += withoutTwoDa(name);
        warning += " more than once; the later entry is taken";
        table->warnings.push_back(warning);
    }
    const std::string& stored = keyTables.key.archives[entry.archive].name;
    std::string archive;
    if (Result why = findArchive(dir, stored, keyTables.keyName, &archive); !why) return why;
    if (archive.empty()) {
        std::string reason = keyTables.keyName;
        reason += " says it is in ";
        reason += archiveName(stored);
        reason += ", which is not in the game folder";
        return failure(reason, name);
    }
    if (Result why = readArchived(dir, archive, entry.index, entry.type, table); !why) return why;
    table->from = archive + " (the key file)";
    return {};
}

Result listGameTables(const std::string& dir, std::vector<GameListing>* tables) {
    tables->clear();
    std::map<std::string, GameListing> byName;
    KeyTables keyTables;
    if (Result why = readKeyTables(dir, &keyTables); !why) return why;
    for (const auto& [name, index] : keyTables.byName) {
        const KeyEntry& entry = keyTables.key.entries[index];
        const std::string& stored = keyTables.key.archives[entry.archive].name;
        std::string archive;
        if (Result why = findArchive(dir, stored, keyTables.keyName, &archive); !why) return why;
        byName[name] = {entry.name + ".2da", archive.empty() ? stored + " (missing)" : archive};
    }
    std::string override;
    if (Result why = findOne(dir, "", "override", Kind::folder, &override); !why) return why;
    std::error_code ec;
    for (fs::directory_iterator it(fs::path(dir) / override, ec), end; !override.empty() && !ec && it != end;
         it.increment(ec)) {
        const std::string name = it->path().filename().string();
        std::error_code typeError;
        if (name.size() > 4 && lower(name.substr(name.size() - 4)) == ".2da" && it->is_regular_file(typeError))
            byName[lower(name)] = {name, override + "/" + name};
    }
    for (auto& [name, listing] : byName) tables->push_back(std::move(listing));
    return {};
}

}  // namespace headlink
