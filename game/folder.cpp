#include "game/folder.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <system_error>

#include "fileio/fileio.h"
#include "game/archive.h"
#include "game/installs.h"
#include "table/text.h"

namespace headlink {

namespace fs = std::filesystem;

namespace {

// Whether the extension of `name` is `wanted` (".2da", in lower case) in any letter case.
bool hasExtension(std::string_view name, std::string_view wanted) { return foldedCase(extension(name)) == wanted; }

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

// The game folder on disk.
class DiskGameFiles : public FolderFiles {
public:
    explicit DiskGameFiles(std::string dir) : dir_(std::move(dir)) {}

    Result list(const std::string& relative, const std::function<bool(const std::string&)>& keep,
                std::vector<Entry>* entries) override {
        entries->clear();
        std::error_code ec;
        const fs::path folder = relative.empty() ? fs::path(dir_) : fs::path(dir_) / relative;
        for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
            Entry entry;
            entry.name = it->path().filename().string();
            if (!keep(entry.name)) continue;
            std::error_code typeError;
            entry.folder = it->is_directory(typeError);
            entry.file = it->is_regular_file(typeError);
            if (typeError) entry.typeError = typeError.message();
            std::error_code linkError;  // a link that cannot be told is taken for one, never followed
            entry.link = it->is_symlink(linkError) || linkError;
            entries->push_back(std::move(entry));
        }
        if (ec) return failure(ec.message(), relative);
        return {};
    }
    FileBytes readAll(const std::string& relative) override { return readFile((fs::path(dir_) / relative).string()); }
    FilePart readPart(const std::string& relative, uint64_t offset, std::size_t size) override {
        return readFilePart((fs::path(dir_) / relative).string(), offset, size);
    }

private:
    std::string dir_;
};

std::string notAFile(const FolderFiles::Entry& entry) {
    std::string reason = quoted(entry.name, kWhole);
    reason += entry.folder ? " is a folder, not a file" : " is not a plain file";
    return reason;
}

// The one entry of folder `relative` of the game folder (`dir` in
// messages) named `wanted` whatever its letter case: its name as it is on
// disk, or "" when there is none. Two that differ only in case are an
// error naming both.
Result findOne(FolderFiles& files, const std::string& dir, const std::string& relative, const std::string& wanted,
               Kind kind, std::string* found) {
    found->clear();
    const std::string key = foldedCase(wanted);
    std::vector<std::string> matches;
    std::vector<FolderFiles::Entry> entries;
    const Result listed = files.list(relative, [&](const std::string& name) { return foldedCase(name) == key; }, &entries);
    for (const FolderFiles::Entry& entry : entries) {
        if (!entry.typeError.empty())
            return failure("cannot look at " + quoted(entry.name, kWhole) + ": " + entry.typeError,
                           relative.empty() ? dir : relative);
        if ((kind == Kind::folder && entry.folder) || (kind == Kind::file && entry.file)) matches.push_back(entry.name);
        // A file looked for that is there as something else is said to be so,
        // never taken for one that is missing.
        else if (kind == Kind::file)
            return failure(notAFile(entry), relative.empty() ? dir : relative);
    }
    // A folder that cannot be listed may hold the name: not knowing is not "none".
    if (!listed) return failure("cannot list the folder: " + listed.reason, relative.empty() ? dir : relative);
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
Result findKey(FolderFiles& files, const std::string& dir, std::string* key) {
    key->clear();
    std::vector<std::string> keys;
    std::vector<FolderFiles::Entry> entries;
    const Result listed = files.list("", [](const std::string& name) { return hasExtension(name, ".key"); }, &entries);
    for (const FolderFiles::Entry& entry : entries) {
        if (!entry.file) return failure(notAFile(entry), dir);
        keys.push_back(entry.name);
    }
    if (!listed) return failure("cannot list the game folder: " + listed.reason, dir);
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

// A folder without a key file that is plainly not the game folder: what it
// is, and what to pick instead; "" for any other. The game's override
// folder is one, picked by mistake for the folder that holds it; a folder
// of the job's own tables (a kit) is another.
std::string notTheGameFolder(FolderFiles& files, const std::string& dir, const std::string& key) {
    if (!key.empty()) return {};
    const std::string_view name = std::string_view(dir).substr(dir.find_last_of("/\\") + 1);
    if (foldedCase(name) == "override")
        return "this is an override folder: pick the game folder that holds it and the game's .key file";
    std::vector<FolderFiles::Entry> tables;
    (void)files.list("", [](const std::string& entry) { return extension(foldedCase(entry)) == ".2da"; }, &tables);
    if (tables.empty()) return {};
    std::string reason = "this folder holds tables (";
    reason += tables.front().name;
    reason += tables.size() > 1 ? ", ...)" : ")";
    reason += " but no .key file: pick the game folder, the one that holds the game's .key file";
    return reason;
}

// The archive a key file names ("data\tables.bif"), found inside the game
// folder whatever its letter case: its path from the game folder, or ""
// when it is not there. A name that would leave the folder is refused.
Result findArchive(FolderFiles& files, const std::string& dir, const std::string& stored, const std::string& keyName, std::string* found) {
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
    // ".\data\x.bif" and "data\\x.bif" name data/x.bif, as the system
    // reads them; a drive, a first separator or a step up leave the folder.
    const bool drive = stored.size() > 1 && stored[1] == ':';
    bool leaves = drive || parts.front().empty() || parts.back().empty();
    std::vector<std::string> steps;
    for (const std::string& p : parts) {
        leaves = leaves || p == "..";
        if (!p.empty() && p != ".") steps.push_back(p);
    }
    if (leaves) {
        std::string reason = "names the archive ";
        reason += archiveName(stored);
        reason += ", which is not a path inside the game folder: refused";
        return failure(reason, keyName);
    }
    std::string relative;
    for (std::size_t i = 0; i < steps.size(); ++i) {
        std::string name;
        const bool last = i + 1 == steps.size();
        if (Result why = findOne(files, dir, relative, steps[i], last ? Kind::file : Kind::folder, &name); !why)
            return why;
        if (name.empty()) return {};
        if (!relative.empty()) relative += '/';
        relative += name;
    }
    *found = relative;
    return {};
}

// Reads entry `index` of archive `relative` (inside `dir`): three small
// reads, never the whole archive.
Result readArchived(FolderFiles& files, const std::string& relative, uint32_t index, uint16_t keyType,
                    const std::string& name, FoundTable* table) {
    auto named = [&](Result why) {
        why.file = relative;
        return why;
    };
    FilePart head = files.readPart(relative, 0, kArchiveHeaderBytes);
    if (!head.ok()) return named(head.result);
    ArchiveHeader header;
    if (Result why = readArchiveHeader(head.bytes, head.fileSize, &header); !why) return named(why);
    uint64_t at = 0;
    if (Result why = archiveEntryAt(header, index, head.fileSize, &at); !why) return named(why);
    FilePart record = files.readPart(relative, at, kArchiveEntryBytes);
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
        table->warnings.push_back({name, 0, std::move(warning)});
    }
    FilePart bytes = files.readPart(relative, entry.offset, entry.size);
    if (!bytes.ok()) return named(bytes.result);
    table->bytes = std::move(bytes.bytes);
    return {};
}

std::string withoutTwoDa(const std::string& name) {
    return hasExtension(name, ".2da") ? std::string(stem(name)) : name;
}

}  // namespace

Result findInGame(const std::string& dir, const std::string& relative, const std::string& wanted, bool folder,
                  std::string* found) {
    DiskGameFiles files(dir);
    return findOne(files, dir, relative, wanted, folder ? Kind::folder : Kind::file, found);
}

Result findInGame(FolderFiles& files, const std::string& dir, const std::string& relative, const std::string& wanted,
                  bool folder, std::string* found) {
    return findOne(files, dir, relative, wanted, folder ? Kind::folder : Kind::file, found);
}

namespace {

// Files whose folders are each listed once, all their entries kept: a Game
// lives for one reading of the folder.
class ListedOnce : public FolderFiles {
public:
    explicit ListedOnce(FolderFiles& files) : files_(files) {}
    explicit ListedOnce(std::unique_ptr<FolderFiles> own) : own_(std::move(own)), files_(*own_) {}
    Result list(const std::string& relative, const std::function<bool(const std::string&)>& keep,
                std::vector<Entry>* entries) override {
        auto [listing, fresh] = listings_.try_emplace(relative);
        if (fresh)
            listing->second.first = files_.list(relative, [](const std::string&) { return true; }, &listing->second.second);
        entries->clear();
        for (const Entry& entry : listing->second.second)
            if (keep(entry.name)) entries->push_back(entry);
        return listing->second.first;
    }
    FileBytes readAll(const std::string& relative) override { return files_.readAll(relative); }
    FilePart readPart(const std::string& relative, uint64_t offset, std::size_t size) override {
        return files_.readPart(relative, offset, size);
    }

private:
    std::unique_ptr<FolderFiles> own_;
    FolderFiles& files_;
    std::map<std::string, std::pair<Result, std::vector<Entry>>> listings_;
};

}  // namespace

GamePart partOf(std::string_view relative) {
    const std::string_view first = relative.substr(0, relative.find('/'));
    if (first.size() == relative.size()) return hasExtension(relative, ".key") ? GamePart::keyFile : GamePart::archives;
    if (sameText(first, installs::kOverride)) return GamePart::overrideFolder;
    if (sameText(first, "texturepacks")) return GamePart::texturePacks;
    if (sameText(first, installs::kBackups)) return GamePart::backups;
    return GamePart::archives;
}

std::unique_ptr<FolderFiles> gameFilesOnDisk(std::string dir) {
    return std::make_unique<ListedOnce>(std::make_unique<DiskGameFiles>(std::move(dir)));
}

Game::Game(std::string dir)
    : dir_(std::move(dir)), files_(gameFilesOnDisk(dir_)) {}

Game::Game(std::string dir, FolderFiles& files) : dir_(std::move(dir)), files_(std::make_unique<ListedOnce>(files)) {}

Result Game::readKeyTables() {
    if (keyRead_) return keyResult_;
    keyRead_ = true;
    keyResult_ = findKey(*files_, dir_, &keyName_);
    if (!keyResult_ || keyName_.empty()) return keyResult_;
    FileBytes file = files_->readAll(keyName_);
    keyResult_ = file.result;
    if (file.ok()) keyResult_ = readKey(file.bytes, &key_, kTwoDaType);
    // Kept for the index of what the game can load, which takes every entry.
    if (keyResult_) keyBytes_ = std::move(file.bytes);
    if (!keyResult_) {
        keyResult_.file = keyName_;
        return keyResult_;
    }
    for (std::size_t i = 0; i < key_.entries.size(); ++i) {
        const KeyEntry& entry = key_.entries[i];
        if (entry.type != kTwoDaType) continue;
        const std::string name = foldedCase(entry.name) + ".2da";
        if (!byName_.emplace(name, i).second) {
            byName_[name] = i;
            repeated_.push_back(name);
        }
    }
    return keyResult_;
}

// How deep below the override folder its subfolders are looked into: deeper
// than mods lay out their files. A folder deeper still is passed over
// without a word, so that a folder nested without end (a mount of a folder
// inside itself) ends the walk; a symbolic link is never followed at all.
constexpr int kOverrideDepth = 8;

const std::vector<std::string>& Game::overrideSubfolders(const std::string& override) {
    if (walked_) return subfolders_;
    walked_ = true;
    // Listings alone (each folder's once, through files_), never a file's
    // bytes: an override folder may hold thousands of files. A folder that
    // cannot be listed is stepped over, as the override folder is.
    std::vector<std::pair<std::string, int>> next{{override, 0}};
    std::vector<FolderFiles::Entry> entries;
    while (!next.empty()) {
        const auto [folder, depth] = next.back();
        next.pop_back();
        if (depth > 0) subfolders_.push_back(folder);
        if (depth == kOverrideDepth) continue;
        (void)files_->list(folder, [](const std::string&) { return true; }, &entries);
        for (const FolderFiles::Entry& entry : entries)
            if (entry.folder && !entry.link && entry.name != "." && entry.name != "..")
                next.emplace_back(folder + "/" + entry.name, depth + 1);
    }
    std::sort(subfolders_.begin(), subfolders_.end());
    return subfolders_;
}

Result Game::read(const std::string& name, FoundTable* table) {
    const std::string& dir = dir_;
    *table = FoundTable{};
    std::string override;
    if (Result why = findOne(*files_, dir, "", "override", Kind::folder, &override); !why) return why;
    if (!override.empty()) {
        std::string file;
        if (Result why = findOne(*files_, dir, override, name, Kind::file, &file); !why) return why;
        // Another mod's copy of a table headlink numbers rows in, further
        // down the override folder: the game may take it instead of the one
        // changed here, or rows from both, and the rows added there may have
        // the numbers of the rows added here.
        const std::string folded = foldedCase(name);
        if (folded == "appearance.2da" || folded == "heads.2da" || folded == "portraits.2da") {
            std::vector<FolderFiles::Entry> entries;
            for (const std::string& folder : overrideSubfolders(override)) {
                const auto same = [&](const std::string& entry) { return foldedCase(entry) == folded; };
                (void)files_->list(folder, same, &entries);
                for (const FolderFiles::Entry& entry : entries) {
                    if (!entry.file) continue;
                    std::string warning = folder + "/" + entry.name;
                    warning += " is another " + name + ", in a subfolder of the override folder, which the game may "
                               "read too: rows another mod added there would collide with the rows numbered here; "
                               "merge them into ";
                    warning += override + "/" + (file.empty() ? name : file);
                    warning += " or move it out";
                    table->warnings.push_back({name, 0, std::move(warning)});
                }
            }
        }
        if (!file.empty()) {
            const std::string relative = override + "/" + file;
            FileBytes read = files_->readAll(relative);
            if (!read.ok()) {
                read.result.file = relative;
                return read.result;
            }
            table->bytes = std::move(read.bytes);
            table->from = relative;
            return {};
        }
    }
    if (Result why = readKeyTables(); !why) return why;
    const auto found = byName_.find(foldedCase(name));
    if (found == byName_.end()) {
        if (std::string picked = notTheGameFolder(*files_, dir, keyName_); !picked.empty()) return failure(picked, dir);
        std::string reason = "not in the game folder ";
        reason += dir;
        reason += ": looked in ";
        reason += override.empty() ? std::string("its override folder (it has none)") : override + "/";
        reason += " and ";
        reason += keyName_.empty() ? std::string("its key file (it has none)") : keyName_;
        return failure(reason, name);
    }
    const KeyEntry& entry = key_.entries[found->second];
    if (std::count(repeated_.begin(), repeated_.end(), found->first) > 0) {
        std::string warning = keyName_;
        warning += " names ";
        warning += withoutTwoDa(name);
        warning += " more than once; the later entry is taken";
        table->warnings.push_back({name, 0, std::move(warning)});
    }
    const std::string& stored = key_.archives[entry.archive].name;
    std::string archive;
    if (Result why = findArchive(*files_, dir, stored, keyName_, &archive); !why) return why;
    if (archive.empty()) {
        std::string reason = keyName_;
        reason += " says it is in ";
        reason += archiveName(stored);
        reason += ", which is not in the game folder";
        return failure(reason, name);
    }
    if (Result why = readArchived(*files_, archive, entry.index, entry.type, name, table); !why) return why;
    table->from = archive + " (the key file)";
    return {};
}

namespace {

// A texture pack's resources into `index`: its header, then its key list,
// each read as a part of the file. Why it cannot be read, or nothing.
Result readTexturePack(FolderFiles& files, const std::string& relative, ResourceIndex* index) {
    FilePart head = files.readPart(relative, 0, kPackHeaderBytes);
    if (!head.ok()) return head.result;
    PackHeader header;
    if (Result why = readPackHeader(head.bytes, head.fileSize, &header); !why) return why;
    if (header.entryCount == 0) return {};
    const FilePart keys = files.readPart(relative, header.keyList, static_cast<std::size_t>(header.keyListBytes()));
    if (!keys.ok()) return keys.result;
    // Checked whole before any of it is added: a pack that cannot be read adds nothing.
    if (Result why = readPackKeys(keys.bytes, header, {}); !why) return why;
    const uint32_t place = index->addPlace(relative, false);
    index->reserve(header.entryCount);
    return readPackKeys(keys.bytes, header, [&](const ListedResource& listed) { index->add(listed.name, listed.type, place); });
}

}  // namespace

Result Game::resources(ResourceIndex* index, std::vector<Warning>* warnings) {
    const std::string& dir = dir_;
    // The key's entries, read with it; a key that cannot be read leaves
    // them out, as a damaged pack does: the tables' own reading says what
    // is wrong with it when it matters.
    *index = ResourceIndex();
    if (const Result keyRead = readKeyTables(); !keyRead) {
        warnings->push_back({keyRead.file.empty() ? keyName_ : keyRead.file, 0,
                             keyRead.reason + "; its resources are left out of the check of names"});
    } else {
        uint32_t first = 0;
        for (std::size_t i = 0; i < key_.archives.size(); ++i) {
            std::string shown = key_.archives[i].name;  // with '/', as every path is shown
            std::replace(shown.begin(), shown.end(), '\\', '/');
            const uint32_t place = index->addPlace(std::move(shown), false);
            if (i == 0) first = place;
        }
        index->reserve(keyBytes_.size() / kKeyEntryBytes);  // (no more entries than that fit in it)
        KeyFile again;  // (it was read whole before, and reads the same)
        (void)readKey(keyBytes_, &again, kTwoDaType, [&](const ListedResource& listed) {
            index->add(listed.name, listed.type, first + listed.archive);
        });
    }
    // The override folder's files (the game takes a file there before any other).
    std::string override;
    if (Result why = findOne(*files_, dir, "", "override", Kind::folder, &override); !why) return why;
    // Then those of its subfolders, each a place of its own: a folder's
    // files are found before any archive's, and in the order added, so the
    // override folder's own come first.
    std::vector<FolderFiles::Entry> entries;
    if (!override.empty()) {
        std::vector<std::string> folders{override};
        const std::vector<std::string>& subfolders = overrideSubfolders(override);
        folders.insert(folders.end(), subfolders.begin(), subfolders.end());
        for (const std::string& folder : folders) {
            const uint32_t place = index->addPlace(folder, true);
            (void)files_->list(folder, [](const std::string&) { return true; }, &entries);
            for (const FolderFiles::Entry& entry : entries) {
                const std::string_view dotted = extension(entry.name);
                const ResourceType* type = dotted.empty() ? nullptr : typeOfExtension(dotted.substr(1));
                if (type != nullptr && entry.file) index->add(stem(entry.name), type->number, place);
            }
        }
    }
    // The texture packs directly in TexturePacks, in name order.
    std::string packs;
    if (Result why = findOne(*files_, dir, "", "texturepacks", Kind::folder, &packs); !why) return why;
    entries.clear();
    if (!packs.empty())
        (void)files_->list(packs, [](const std::string& name) { return hasExtension(name, ".erf"); }, &entries);
    std::sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) { return a.name < b.name; });
    for (const FolderFiles::Entry& entry : entries) {
        if (!entry.file) continue;
        Result why = readTexturePack(*files_, packs + "/" + entry.name, index);
        if (!why) {
            std::string text = why.reason;
            text += "; its textures are left out of the check of names";
            warnings->push_back({packs + "/" + entry.name, 0, std::move(text)});
        }
    }
    return {};
}

Result Game::list(std::vector<TableListing>* tables) {
    const std::string& dir = dir_;
    tables->clear();
    std::map<std::string, TableListing> byName;
    if (Result why = readKeyTables(); !why) return why;
    for (const auto& [name, index] : byName_) {
        const KeyEntry& entry = key_.entries[index];
        const std::string& stored = key_.archives[entry.archive].name;
        std::string archive;
        if (Result why = findArchive(*files_, dir, stored, keyName_, &archive); !why) return why;
        std::string shown = stored;  // with '/', as every path is shown
        std::replace(shown.begin(), shown.end(), '\\', '/');
        byName[name] = {entry.name + ".2da", archive.empty() ? shown + " (missing)" : archive};
    }
    std::string override;
    if (Result why = findOne(*files_, dir, "", "override", Kind::folder, &override); !why) return why;
    std::vector<FolderFiles::Entry> entries;
    // An override folder that cannot be listed lists nothing, as before.
    const auto isTable = [](const std::string& name) { return hasExtension(name, ".2da"); };
    if (!override.empty()) (void)files_->list(override, isTable, &entries);
    for (const FolderFiles::Entry& entry : entries)
        if (entry.file) byName[foldedCase(entry.name)] = {entry.name, override + "/" + entry.name};
    for (auto& [name, listing] : byName) tables->push_back(std::move(listing));
    return {};
}

}  // namespace headlink

namespace headlink {

void ListedFiles::add(std::string path) { sizes_[std::move(path)] = std::nullopt; }

void ListedFiles::add(std::string path, uint64_t size) { sizes_[std::move(path)] = size; }

void ListedFiles::giveSize(const std::string& path, uint64_t size) {
    if (const auto known = sizes_.find(path); known != sizes_.end()) known->second = size;
}

void ListedFiles::give(const std::string& path, uint64_t offset, std::size_t size, std::vector<uint8_t> bytes) {
    given_[{path, offset, size}] = std::move(bytes);
}

Result ListedFiles::list(const std::string& relative, const std::function<bool(const std::string&)>& keep,
                             std::vector<Entry>* entries) {
    entries->clear();
    const std::string prefix = relative.empty() ? std::string() : relative + "/";
    std::map<std::string, Entry> found;
    for (auto it = sizes_.lower_bound(prefix); it != sizes_.end() && it->first.rfind(prefix, 0) == 0;) {
        const std::string rest = it->first.substr(prefix.size());
        const std::size_t slash = rest.find('/');
        const std::string name = rest.substr(0, slash);
        // The paths inside a folder come one after another, all before
        // its name followed by '0' (which follows '/'): a folder of
        // thousands of files is stepped over at once.
        it = slash == std::string::npos ? std::next(it) : sizes_.lower_bound(prefix + name + '0');
        if (name.empty() || !keep(name)) continue;
        Entry& entry = found[name];
        entry.name = name;
        (slash == std::string::npos ? entry.file : entry.folder) = true;
    }
    for (auto& [name, entry] : found) entries->push_back(std::move(entry));
    return {};
}

FilePart ListedFiles::readPart(const std::string& relative, uint64_t offset, std::size_t size) {
    FilePart part;
    const auto needed = [&](Need need) {
        needs_.push_back(std::move(need));
        part.result = Result::failure(Status::cannotRead, "not read yet", relative);
        return part;
    };
    const auto known = sizes_.find(relative);
    if (known == sizes_.end()) {
        part.result = missingFile(relative);
        return part;
    }
    if (!known->second) return needed({relative, 0, 0, true});
    part.fileSize = *known->second;
    // As on disk: fewer bytes where the file ends first.
    const uint64_t wanted = offset >= part.fileSize ? 0 : std::min<uint64_t>(size, part.fileSize - offset);
    const auto given = given_.find({relative, offset, static_cast<std::size_t>(wanted)});
    if (given == given_.end()) return needed({relative, offset, static_cast<std::size_t>(wanted)});
    if (given->second.size() < wanted) {
        part.result = Result::failure(Status::cannotRead, "changed since it was picked: pick the game folder again",
                                      relative);
        return part;
    }
    part.bytes.assign(given->second.begin(), given->second.begin() + static_cast<std::ptrdiff_t>(wanted));
    return part;
}

FileBytes ListedFiles::readAll(const std::string& relative) {
    FilePart part = readPart(relative, 0, static_cast<std::size_t>(-1));
    return {std::move(part.bytes), std::move(part.result)};
}

}  // namespace headlink
