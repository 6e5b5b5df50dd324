#include "app/loadable.h"

#include <algorithm>
#include <map>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>

#include "fileio/names.h"
#include "table/text.h"

namespace headlink {

namespace {

// The kinds a name is found as, a bit for each ResourceKind.
using Kinds = unsigned;
Kinds bitOf(ResourceKind kind) { return 1u << static_cast<unsigned>(kind); }
constexpr Kinds kAnyKind = ~1u;  // every kind but none

// A file a head brings, as the game will find it in its override folder.
struct Brought {
    std::string_view name;  // without the extension
    const ResourceType* type;
    std::string shown;      // "override/hd_el_f_moon.mdl, brought by moonveil"
};

std::vector<Brought> broughtBy(const std::vector<HeadInputs>& heads) {
    std::vector<Brought> brought;
    for (const HeadInputs& head : heads)
        for (const BroughtFile& file : head.files) {
            const std::string_view dotted = extension(file.name);
            const ResourceType* type = dotted.empty() ? nullptr : typeOfExtension(dotted.substr(1));
            if (type == nullptr || type->kind == ResourceKind::none) continue;
            // Shown from the head's folder on, as the pack holds it.
            std::string shown = file.from;
            if (shown.size() > head.name.size() && shown.compare(0, head.name.size(), head.name) == 0 &&
                shown[head.name.size()] == '/')
                shown.erase(0, head.name.size() + 1);
            shown += ", brought by ";
            shown += head.name;
            brought.push_back({stem(file.name), type, std::move(shown)});
        }
    return brought;
}

// Where a resource of the index is, for people: "Override/hd.mdl" for a
// folder (its path names the file already), "hd.mdl in data/models.bif".
std::string placeOf(const ResourceIndex::Found& found) {
    const std::string& where = found.where;
    if (where.size() > found.file.size() && sameText(std::string_view(where).substr(where.size() - found.file.size()), found.file))
        return where;
    std::string place = found.file;
    place += " in ";
    place += where;
    return place;
}

// What a name is among the game's resources and the heads' files: the
// kinds (of those in `wanted`) it is found as, and where the first one is.
// The heads' files come first: they go into the override folder, which
// the game looks in first.
struct Named {
    Kinds kinds = 0;
    std::string shown;
    bool deep = false;  // the first is in a subfolder of the override folder
};
Named lookUp(std::string_view name, Kinds wanted, const ResourceIndex& index, const std::vector<Brought>& brought) {
    Named named;
    const auto take = [&](ResourceKind kind, const auto& shown) {
        if ((wanted & bitOf(kind)) == 0) return;
        if (named.kinds == 0) named.shown = shown();
        named.kinds |= bitOf(kind);
    };
    for (const Brought& file : brought)
        if (sameText(file.name, name)) take(file.type->kind, [&] { return file.shown; });
    if (name.empty() || name.size() > kResourceNameBytes) return named;
    for (const ResourceIndex::Found& found : index.find(name)) {
        // Override/sub/x.mdl: a folder's file, two steps down.
        const bool deep = found.folder && std::count(found.where.begin(), found.where.end(), '/') > 1;
        if (named.kinds == 0 && (wanted & bitOf(kindOf(found.type))) != 0) named.deep = deep;
        take(kindOf(found.type), [&] { return placeOf(found); });
    }
    return named;
}

// "; did you mean "x" (where)?" when exactly one name of kinds `kinds` is
// one or two edits from `value`, else "".
std::string suggestion(std::string_view value, Kinds kinds, const ResourceIndex& index,
                       const std::vector<Brought>& brought) {
    std::vector<std::pair<std::string, std::string>> names;  // each name once, and where it is
    const auto add = [&](std::string_view name, const auto& shown) {
        if (std::none_of(names.begin(), names.end(), [&](const auto& n) { return sameText(n.first, name); }))
            names.emplace_back(std::string(name), shown());
    };
    const auto near = [&](std::string_view name) {
        const int edits = editsApart(value, name);
        return edits == 1 || edits == 2;
    };
    for (const Brought& file : brought)
        if ((kinds & bitOf(file.type->kind)) != 0 && near(file.name))
            add(file.name, [&] { return file.shown; });
    for (const ResourceKind kind : {ResourceKind::texture, ResourceKind::model, ResourceKind::sound, ResourceKind::script})
        if ((kinds & bitOf(kind)) != 0)
            for (const std::string& name : index.near(value, kind))
                add(name, [&] { return lookUp(name, bitOf(kind), index, brought).shown; });
    if (names.size() != 1) return {};
    std::string text = "; did you mean ";
    text += quoted(names[0].first, kWhole);
    text += " (";
    text += names[0].second;
    text += ")?";
    return text;
}

// "model", "texture or model".
std::string kindsText(Kinds kinds) {
    std::vector<std::string> names;
    for (const ResourceKind kind : {ResourceKind::texture, ResourceKind::model, ResourceKind::sound, ResourceKind::script})
        if ((kinds & bitOf(kind)) != 0) names.emplace_back(kindName(kind));
    std::string text;
    for (std::size_t i = 0; i < names.size(); ++i) text += (i == 0 ? "" : " or ") + names[i];
    return text;
}

// The warning about the name `value` set over the template's `was`, found
// as `template_`, or "" when the name is fine.
std::string problemWith(std::string_view was, std::string_view value, const Named& template_,
                        const ResourceIndex& index, const std::vector<Brought>& brought) {
    static_assert(kResourceNameBytes == 16, "the warning below says 16");
    if (value.size() > kResourceNameBytes)
        return "the game can never load a name longer than 16 characters";
    if (lookUp(value, template_.kinds, index, brought).kinds != 0) return {};
    std::string text = "the game has no ";
    text += kindsText(template_.kinds);
    text += " of that name (the template's ";
    text += quoted(was, kWhole);
    text += " is ";
    text += template_.shown;
    text += ")";
    text += suggestion(value, template_.kinds, index, brought);
    return text;
}

}  // namespace

std::vector<Warning> unloadableNames(const std::array<Table, kTableCount>& tables,
                                        const std::vector<CellMark>& marks, const ResourceIndex& index,
                                        const std::vector<HeadInputs>& heads, const LinkColumns& links,
                                        std::vector<std::string>* notes) {
    const std::vector<Brought> brought = broughtBy(heads);
    // A cell set again: the value a mark set is what the next mark on that
    // cell found there (the table's own for the last). One script setting
    // a cell twice sets it once, over the value before the first.
    const auto sameScript = [](const CellMark& a, const CellMark& b) { return a.head == b.head && a.script == b.script; };
    constexpr std::size_t kNone = static_cast<std::size_t>(-1);
    std::vector<std::size_t> first(marks.size()), next(marks.size(), kNone);
    std::map<std::tuple<std::size_t, int32_t, int32_t>, std::size_t> last;  // by cell
    for (std::size_t i = 0; i < marks.size(); ++i) {
        const CellMark& mark = marks[i];
        first[i] = i;
        const auto [at, added] =
            last.try_emplace(std::make_tuple(static_cast<std::size_t>(mark.table), mark.row, mark.column), i);
        if (added) continue;
        next[at->second] = i;
        if (sameScript(marks[at->second], mark)) first[i] = first[at->second];
        at->second = i;
    }
    std::vector<Warning> found;
    for (std::size_t i = 0; i < marks.size(); ++i) {
        const CellMark& mark = marks[i];
        if (mark.link || mark.script < 0 || links.linkAt(mark.table, mark.column) >= 0) continue;
        if (next[i] != kNone && sameScript(marks[next[i]], mark)) continue;
        const Table& table = tables[mark.table];
        const std::string_view value =
            next[i] != kNone ? std::string_view(marks[next[i]].was) : table.cellText(mark.row, mark.column);
        const std::string& was = marks[first[i]].was;  // the template's value
        const Named template_ = lookUp(was, kAnyKind, index, brought);
        if (template_.kinds == 0) continue;
        std::string problem = problemWith(was, value, template_, index, brought);
        // A name the game has only in a subfolder of its override folder is
        // fine; the report says where, as whether the game reads that
        // folder is the modder's to know.
        if (problem.empty() && notes != nullptr) {
            const Named found = lookUp(value, template_.kinds, index, brought);
            if (found.deep) problem = "found in " + found.shown + ", a subfolder of the override folder";
        }
        if (problem.empty()) continue;
        const bool note = problem.starts_with("found in ");
        const auto labels = table.columnLabels();
        const auto column = static_cast<std::size_t>(mark.column);
        std::string text = tableTitle(table);
        text += " row ";
        text += std::to_string(mark.row);
        text += ", column ";
        text += std::to_string(mark.column);
        text += ' ';
        text += quoted(column < labels.size() ? labels[column] : std::string_view(), kWhole);
        text += " = ";
        text += cellSpelling(value);
        text += ": ";
        text += problem;
        std::string script = kScriptFiles[static_cast<std::size_t>(mark.script)];
        if (mark.head < heads.size() && !heads[mark.head].name.empty()) script.insert(0, heads[mark.head].name + '/');
        if (note) notes->push_back(script + ": " + text);
        else found.push_back({std::move(script), mark.line, std::move(text), static_cast<int>(mark.head), mark.script});
    }
    return found;
}

}  // namespace headlink
