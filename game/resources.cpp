#include "game/resources.h"

#include <algorithm>

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
// of interest, so the count stops there. Names are at most 16 bytes.
int editsApart(std::string_view a, std::string_view b) {
    if (a.size() > b.size()) std::swap(a, b);
    if (b.size() - a.size() > 2 || b.size() > kResourceNameBytes) return 3;
    std::array<int, kResourceNameBytes + 1> row{};
    for (std::size_t i = 0; i <= a.size(); ++i) row[i] = static_cast<int>(i);
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

// FNV-1a of the name in lower case.
uint32_t foldedHash(std::string_view name) {
    uint32_t hash = 2166136261u;
    for (const char c : name) hash = (hash ^ static_cast<uint8_t>(foldAscii(c))) * 16777619u;
    return hash;
}

bool sameFolded(std::string_view a, std::string_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return foldAscii(x) == foldAscii(y); });
}

constexpr uint32_t kEmptySlot = 0xFFFFFFFF;

}  // namespace

uint32_t ResourceIndex::addPlace(std::string path, bool folder) {
    places_.push_back({std::move(path), folder});
    return static_cast<uint32_t>(places_.size() - 1);
}

void ResourceIndex::add(std::string_view name, uint16_t type, uint32_t place) {
    if (name.empty() || name.size() > kResourceNameBytes || names_.size() > 0xFFFFFFF0u) return;
    entries_.push_back({static_cast<uint32_t>(names_.size()), place, type, static_cast<uint8_t>(name.size())});
    names_.append(name);
    table_.clear();
}

ResourceIndex::Found ResourceIndex::found(const Entry& entry) const {
    Found out;
    out.file = std::string(named(entry)) + "." + extensionOf(entry.type);
    if (entry.place < places_.size()) {
        const Place& place = places_[entry.place];
        out.where = place.folder ? place.path + "/" + out.file : place.path;
    }
    out.type = entry.type;
    return out;
}

// The table: half as many slots again as entries or more, a power of
// two; an entry sits at its hash's slot or the first free one after it.
void ResourceIndex::makeTable() const {
    if (!table_.empty() || entries_.empty()) return;
    std::size_t slots = 16;
    while (slots < entries_.size() + entries_.size() / 2) slots *= 2;
    table_.assign(slots, kEmptySlot);
    for (uint32_t i = 0; i < entries_.size(); ++i) {
        std::size_t at = foldedHash(named(entries_[i])) & (slots - 1);
        while (table_[at] != kEmptySlot) at = (at + 1) & (slots - 1);
        table_[at] = i;
    }
}

std::vector<ResourceIndex::Found> ResourceIndex::find(std::string_view name) const {
    std::vector<Found> out;
    if (name.empty() || name.size() > kResourceNameBytes) return out;
    makeTable();
    if (table_.empty()) return out;
    std::vector<uint32_t> named;
    const uint32_t hash = foldedHash(name);
    for (std::size_t at = hash & (table_.size() - 1); table_[at] != kEmptySlot; at = (at + 1) & (table_.size() - 1)) {
        if (sameFolded(this->named(entries_[table_[at]]), name)) named.push_back(table_[at]);
    }
    const auto inFolder = [&](uint32_t i) {
        return entries_[i].place < places_.size() && places_[entries_[i].place].folder;
    };
    std::sort(named.begin(), named.end(), [&](uint32_t a, uint32_t b) {
        return inFolder(a) != inFolder(b) ? inFolder(a) : a < b;
    });
    for (const uint32_t i : named) out.push_back(found(entries_[i]));
    return out;
}

std::vector<std::string> ResourceIndex::near(std::string_view name, ResourceKind kind) const {
    std::vector<std::pair<int, std::string>> near;
    for (const Entry& entry : entries_) {
        if (kindOf(entry.type) != kind || std::size_t{entry.length} + 2 < name.size() || name.size() + 2 < entry.length) continue;
        const int edits = editsApart(name, this->named(entry));
        if (edits == 0 || edits > 2) continue;
        const std::string named(this->named(entry));
        if (std::none_of(near.begin(), near.end(), [&](const auto& n) { return sameFolded(n.second, named); }))
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
