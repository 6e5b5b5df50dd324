#include "app/pack.h"

#include <algorithm>
#include <filesystem>
#include <iterator>
#include <span>
#include <string_view>
#include <system_error>
#include <utility>

#include "table/text.h"

namespace headlink {

namespace fs = std::filesystem;

namespace {

Result failure(std::string file, std::string reason) {
    return Result::failure(Status::cannotRead, std::move(reason), std::move(file));
}

// An entry of a folder: its name, and what it is itself (a link is a link,
// never what it points to).
struct Entry {
    std::string name;
    fs::file_type type;
};

// The entries of `folder` in byte order of their names.
bool listFolder(const fs::path& folder, std::vector<Entry>* entries, std::error_code& ec) {
    entries->clear();
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const fs::file_status status = it->symlink_status(ec);
        if (ec) break;
        entries->push_back({it->path().filename().string(), status.type()});
    }
    std::sort(entries->begin(), entries->end(), [](const Entry& a, const Entry& b) { return a.name < b.name; });
    return !ec;
}

std::string notAPlainFile(fs::file_type type) {
    if (type == fs::file_type::symlink) return "is a link: links are not followed";
    if (type == fs::file_type::directory) return "is a folder: a head's override folder holds only plain files";
    return "is not a plain file";
}

// The files of a head's override folder `folder`, shown as `shown`.
void readBrought(const fs::path& folder, const std::string& shown, HeadInputs* head, std::vector<Result>* errors) {
    std::vector<Entry> entries;
    std::error_code ec;
    if (!listFolder(folder, &entries, ec)) {
        errors->push_back(failure(shown, "cannot list the folder: " + ec.message()));
        return;
    }
    for (const Entry& entry : entries) {
        const std::string from = shown + "/" + entry.name;
        if (entry.type != fs::file_type::regular) {
            errors->push_back(failure(from, notAPlainFile(entry.type)));
            continue;
        }
        if (broughtNameTaken(entry.name, from, errors)) continue;
        FileBytes file = readFile((folder / entry.name).string());
        if (!file.ok()) {
            file.result.file = from;
            errors->push_back(std::move(file.result));
            continue;
        }
        head->files.push_back({entry.name, from, std::move(file.bytes)});
    }
}

constexpr const char* kNotAFolder = "not a folder";

// Whether the link `link` in the pack is read as a head: "" when it leads to
// a folder inside the pack, deeper than its heads (a head kept elsewhere in
// the pack under a name of its own); kNotAFolder when it leads to something
// else, which is no head; else why it is refused. A folder outside the pack
// is not the pack's to install, and a link to one of its heads would
// install that head twice.
std::string linkedHead(const std::string& pack, const fs::path& link) {
    std::error_code ec;
    const fs::path target = fs::canonical(link, ec);
    if (ec) return "is a link that leads nowhere (" + ec.message() + "): copy the head's folder into the pack";
    if (!fs::is_directory(target, ec)) return kNotAFolder;
    const fs::path home = fs::canonical(pack, ec);
    const fs::path inside = target.lexically_relative(home);
    if (ec || inside.empty() || *inside.begin() == "..")
        return "is a link to a folder outside the pack (" + target.string() + "): copy the head's folder into the pack";
    if (inside == "." || std::distance(inside.begin(), inside.end()) == 1)
        return "is a link to " + (inside == "." ? std::string("the pack itself") : "its head " + inside.string()) +
               ", which would install it twice: remove the link";
    return {};
}

}  // namespace

PackInputs readPack(const std::string& pack, const std::string& shown) {
    PackInputs result;
    std::vector<Entry> entries;
    std::error_code ec;
    if (!listFolder(pack, &entries, ec)) {
        result.errors.push_back(failure(shown, "cannot list the pack: " + ec.message()));
        return result;
    }
    for (const Entry& entry : entries) {
        const fs::path folder = fs::path(pack) / entry.name;
        if (entry.type == fs::file_type::symlink) {
            const std::string why = linkedHead(pack, folder);
            if (why == kNotAFolder) continue;
            if (!why.empty()) {
                result.errors.push_back(failure(entry.name, why));
                continue;
            }
        } else if (entry.type != fs::file_type::directory) {
            continue;
        }
        HeadInputs head;
        head.name = entry.name;
        std::vector<std::string> present, missing;
        for (std::size_t i = 0; i < kScriptCount; ++i) {
            head.scripts[i] = readFile((folder / kScriptFiles[i]).string());
            (head.scripts[i].missing() ? missing : present).push_back(kScriptFiles[i]);
        }
        if (present.empty()) {
            result.skipped.push_back(entry.name);
            continue;
        }
        if (!missing.empty()) {
            result.errors.push_back(failure(entry.name, "holds " + listed(present) + " but not " + listed(missing) +
                                                            ": a head needs all five scripts"));
            continue;
        }
        std::vector<Entry> inside;
        if (!listFolder(folder, &inside, ec)) {
            result.errors.push_back(failure(entry.name, "cannot list the folder: " + ec.message()));
            continue;
        }
        for (const Entry& e : inside) {
            if (!sameText(e.name, "override")) continue;
            const std::string shown = entry.name + "/" + e.name;
            if (e.type == fs::file_type::directory) readBrought(folder / e.name, shown, &head, &result.errors);
            else result.errors.push_back(failure(shown, notAPlainFile(e.type)));
        }
        result.heads.push_back(std::move(head));
    }
    // A head's own folder given for the pack: the scripts lie in it.
    const bool isHead = std::any_of(entries.begin(), entries.end(), [](const Entry& e) {
        return e.type == fs::file_type::regular && sameText(e.name, kScriptFiles[0]);
    });
    if (result.heads.empty() && result.errors.empty())
        result.errors.push_back(failure(shown, isHead ? "holds the scripts of one head, not folders of heads: run "
                                                        "headlink -C " + shown + " for that head alone"
                                                      : std::string("holds no head: no folder in it holds the five scripts")));
    checkBroughtNames(result.heads, &result.errors);
    return result;
}

bool broughtNameTaken(const std::string& name, const std::string& from, std::vector<Result>* errors) {
    const bool table =
        std::any_of(kTableFiles.begin(), kTableFiles.end(), [&](const char* t) { return sameText(name, t); });
    if (table) errors->push_back(failure(from, "is named like one of the three tables, which the scripts make"));
    return table;
}

// One name in the game's override folder holds one file.
void checkBroughtNames(const std::vector<HeadInputs>& heads, std::vector<Result>* errors) {
    std::vector<const BroughtFile*> seen;
    for (const HeadInputs& head : heads)
        for (const BroughtFile& file : head.files) {
            const auto first = std::find_if(seen.begin(), seen.end(),
                                            [&](const BroughtFile* f) { return sameText(f->name, file.name); });
            if (first == seen.end()) seen.push_back(&file);
            else if ((*first)->bytes != file.bytes)
                errors->push_back(failure(file.from, "has the name of " + (*first)->from +
                                                         " but other bytes: only one of them can be installed"));
        }
}

std::string packChecksum(const std::vector<HeadInputs>& heads) {
    // Every part with its length before it, so that no two packs run together alike.
    std::vector<uint8_t> all;
    auto add = [&](std::string_view tag, std::span<const uint8_t> bytes) {
        all.insert(all.end(), tag.begin(), tag.end());
        for (int shift = 0; shift < 64; shift += 8) all.push_back(static_cast<uint8_t>(uint64_t{bytes.size()} >> shift));
        all.insert(all.end(), bytes.begin(), bytes.end());
    };
    auto text = [](const std::string& s) { return std::span(reinterpret_cast<const uint8_t*>(s.data()), s.size()); };
    for (const HeadInputs& head : heads) {
        add("head", text(head.name));
        for (const FileBytes& script : head.scripts) add(script.ok() ? "script" : "none", script.bytes);
        for (const BroughtFile& file : head.files) {
            add("name", text(file.name));
            add("file", file.bytes);
        }
    }
    return checksumOf(all);
}

std::string packPlace(const std::string& folder) {
    std::error_code ec;
    const fs::path real = fs::weakly_canonical(folder, ec);
    if (!ec) return real.generic_string();
    // A link that cannot be read now: its name, which is what it was known by.
    return fs::absolute(folder, ec).lexically_normal().generic_string();
}

std::string skippedNote(const std::string& folder) { return folder + ": holds none of the five scripts: skipped"; }

}  // namespace headlink
