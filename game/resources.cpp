#include "game/resources.h"

#include <algorithm>
#include <numeric>

#include "fileio/names.h"

namespace headlink {

const ResourceType* typeOfNumber(uint16_t number) {
    for (const ResourceType& type : kResourceTypes)
        if (type.number == number) return &type;
    return nullptr;
}

const ResourceType* typeOfExtension(std::string_view extension) {
    const std::string folded = foldedCase(extension);
    for (const ResourceType& type : kResourceTypes)
        if (type.extension == folded) return &type;
    return nullptr;
}

ResourceKind kindOf(uint16_t number) {
    const ResourceType* type = typeOfNumber(number);
    return type == nullptr ? ResourceKind::none : type->kind;
}

std::string_view kindName(ResourceKind kind) {
    switch (kind) {
        case ResourceKind::texture: return "texture";
        case ResourceKind::model: return "model";
        case ResourceKind::sound: return "sound";
        case ResourceKind::script: return "script";
        case ResourceKind::none: break;
    }
    return "";
}

std::string extensionOf(uint16_t number) {
    const ResourceType* type = typeOfNumber(number);
    return type == nullptr ? std::to_string(number) : std::string(type->extension);
}

namespace {

// How many edits (a character added, dropped or changed) turn `a` into
// `b`, ignoring letter case, or 3 for three or more: only near names are
// of interest, so the count stops there.
int editsApart(std::string_view a, std::string_view b) {
    if (a.size() > b.size()) std::swap(a, b);
    if (b.size() - a.size() > 2) return 3;
    std::vector<int> row(a.size() + 1);
    std::iota(row.begin(), row.end(), 0);
    for (std::size_t j = 1; j <= b.size(); ++j) {
        int diagonal = row[0];
        row[0] = static_cast<int>(j);
        int least = row[0];
        for (std::size_t i = 1; i <= a.size(); ++i) {
            const int above = row[i];
            const bool same = foldAscii(a[i - 1]) == foldAscii(b[j - 1]);
            row[i] = std::min({row[i] + 1, row[i - 1] + 1, diagonal + (same ? 0 : 1)});
            diagonal = above;
            least = std::min(least, row[i]);
        }
        if (least > 2) return 3;
    }
    return std::min(row[a.size()], 3);
}

bool foldedLess(std::string_view a, std::string_view b) {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                        [](char x, char y) { return foldAscii(x) < foldAscii(y); });
}

}  // namespace

uint32_t ResourceIndex::addPlace(std::string path, bool folder) {
    places_.push_back({std::move(path), folder});
    return static_cast<uint32_t>(places_.size() - 1);
}

void ResourceIndex::add(std::string_view name, uint16_t type, uint32_t place) {
    if (name.empty() || name.size() > kResourceNameBytes || place >= places_.size()) return;
    Entry entry;
    std::copy(name.begin(), name.end(), entry.name.begin());
    entry.length = static_cast<uint8_t>(name.size());
    entry.type = type;
    entry.place = place;
    entries_.push_back(entry);
    byName_.clear();
}

ResourceIndex::Found ResourceIndex::found(const Entry& entry) const {
    Found out;
    out.file = std::string(entry.named()) + "." + extensionOf(entry.type);
    const Place& place = places_[entry.place];
    out.where = place.folder ? place.path + "/" + out.file : place.path;
    out.type = entry.type;
    return out;
}

// The entries by name, whatever the case; among one name, in the order added.
void ResourceIndex::sort() const {
    if (byName_.size() == entries_.size()) return;
    byName_.resize(entries_.size());
    std::iota(byName_.begin(), byName_.end(), 0u);
    std::stable_sort(byName_.begin(), byName_.end(),
                     [&](uint32_t a, uint32_t b) { return foldedLess(entries_[a].named(), entries_[b].named()); });
}

std::vector<ResourceIndex::Found> ResourceIndex::find(std::string_view name) const {
    std::vector<Found> out;
    if (name.empty() || name.size() > kResourceNameBytes) return out;
    sort();
    auto at = std::lower_bound(byName_.begin(), byName_.end(), name,
                               [&](uint32_t i, std::string_view n) { return foldedLess(entries_[i].named(), n); });
    for (; at != byName_.end() && foldedCase(entries_[*at].named()) == foldedCase(name); ++at)
        out.push_back(found(entries_[*at]));
    return out;
}

std::vector<std::string> ResourceIndex::near(std::string_view name, ResourceKind kind) const {
    std::vector<std::pair<int, std::string>> near;
    for (const Entry& entry : entries_) {
        if (kindOf(entry.type) != kind) continue;
        const int edits = editsApart(name, entry.named());
        if (edits == 0 || edits > 2) continue;
        const std::string named(entry.named());
        if (std::none_of(near.begin(), near.end(), [&](const auto& n) { return foldedCase(n.second) == foldedCase(named); }))
            near.emplace_back(edits, named);
    }
    std::stable_sort(near.begin(), near.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<std::string> names;
    for (auto& [edits, named] : near) names.push_back(std::move(named));
    return names;
}

std::vector<ResourceIndex::Found> ResourceIndex::all() const {
    std::vector<Found> out;
    out.reserve(entries_.size());
    for (const Entry& entry : entries_) out.push_back(found(entry));
    return out;
}

}  // namespace headlink
