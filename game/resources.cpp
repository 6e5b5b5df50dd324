#include "game/resources.h"

#include <algorithm>

#include "fileio/names.h"

// Header-only, as fileio uses it.
#define XXH_INLINE_ALL
#include <xxhash.h>

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

// Only near names are of interest, so the count stops at 3.
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

namespace {

bool sameFolded(std::string_view a, std::string_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return foldAscii(x) == foldAscii(y); });
}

// A name as a fixed array, NULs after it.
std::array<char, kResourceNameBytes> asName(std::string_view name) {
    std::array<char, kResourceNameBytes> out{};
    std::copy(name.begin(), name.end(), out.begin());
    return out;
}

// The same in lower case, whatever the case of A-Z (all 16 at once, which
// the compiler does as one vector).
std::array<char, kResourceNameBytes> folded(std::array<char, kResourceNameBytes> name) {
    for (char& c : name) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c | 0x20 : c);
    return name;
}

}  // namespace

uint32_t ResourceIndex::hashOf(const Name& folded) {
    return static_cast<uint32_t>(XXH3_64bits(folded.data(), folded.size()));
}

std::string_view ResourceIndex::Resource::shown() const {
    const std::string_view all(name.data(), name.size());
    return all.substr(0, all.find('\0'));
}

uint32_t ResourceIndex::addPlace(std::string path, bool folder) {
    places_.push_back({std::move(path), folder});
    return static_cast<uint32_t>(places_.size() - 1);
}

void ResourceIndex::reserve(std::size_t count) {
    resources_.reserve(resources_.size() + count);
    byHash_.max_load_factor(0.9f);
    byHash_.reserve(byHash_.size() + count);
}

void ResourceIndex::add(std::string_view name, uint16_t type, uint32_t place) {
    if (name.empty() || name.size() > kResourceNameBytes || name.find('\0') != std::string_view::npos) return;
    const auto n = static_cast<uint32_t>(resources_.size());
    const Name listed = asName(name);
    resources_.push_back({listed, type, place});
    const auto [last, added] = byHash_.try_emplace(hashOf(folded(listed)), n);
    if (added) return;
    resources_.back().next = last->second;
    last.value() = n;
}

ResourceIndex::Found ResourceIndex::found(const Resource& resource) const {
    Found out;
    out.type = resource.type;
    out.file = std::string(resource.shown()) + "." + extensionOf(resource.type);
    if (resource.place < places_.size()) {
        const Place& place = places_[resource.place];
        out.where = place.folder ? place.path + "/" + out.file : place.path;
        out.folder = place.folder;
    }
    return out;
}

std::vector<ResourceIndex::Found> ResourceIndex::find(std::string_view name) const {
    if (name.empty() || name.size() > kResourceNameBytes) return {};
    const Name wanted = folded(asName(name));
    const auto first = byHash_.find(hashOf(wanted));
    if (first == byHash_.end()) return {};
    std::vector<Found> out;
    for (uint32_t n = first->second; n != kNoMore; n = resources_[n].next)
        if (folded(resources_[n].name) == wanted) out.push_back(found(resources_[n]));
    std::reverse(out.begin(), out.end());  // in the order added
    // Those in a folder first; the sort keeps the order added within each.
    std::stable_sort(out.begin(), out.end(), [](const Found& a, const Found& b) { return a.folder && !b.folder; });
    return out;
}

std::vector<std::string> ResourceIndex::near(std::string_view name, ResourceKind kind) const {
    std::vector<std::pair<int, std::string>> near;
    for (const Resource& resource : resources_) {
        const std::string_view listed = resource.shown();
        if (kindOf(resource.type) != kind || listed.size() + 2 < name.size() || name.size() + 2 < listed.size())
            continue;
        const int edits = editsApart(name, listed);
        if (edits == 0 || edits > 2) continue;
        if (std::none_of(near.begin(), near.end(), [&](const auto& n) { return sameFolded(n.second, listed); }))
            near.emplace_back(edits, std::string(listed));
    }
    std::stable_sort(near.begin(), near.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<std::string> names;
    for (auto& [edits, named] : near) names.push_back(std::move(named));
    return names;
}

std::vector<ResourceIndex::Found> ResourceIndex::all() const {
    std::vector<Found> out;
    out.reserve(resources_.size());
    for (const Resource& resource : resources_) out.push_back(found(resource));
    return out;
}

}  // namespace headlink
