#include "game/resources.h"

#include <algorithm>
#include <bit>
#include <cstring>

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

// A rough key of a name padded with NULs to 16 bytes: its first eight
// bytes, cut at the first NUL, with each byte's 0x20 bit set. Two names
// that are the same whatever their letter case have the same key (a few
// others do too, and the full comparison tells them apart), and it costs
// a handful of instructions, so the tens of thousands of names a key
// lists are passed over on it.
uint64_t roughKey(const uint8_t* padded) {
    uint64_t v = 0;
    if constexpr (std::endian::native == std::endian::little) std::memcpy(&v, padded, sizeof v);
    else
        for (int i = 7; i >= 0; --i) v = v << 8 | padded[i];
    // The lowest byte this marks is the first NUL.
    const uint64_t zero = (v - 0x0101010101010101u) & ~v & 0x8080808080808080u;
    const int kept = zero == 0 ? 8 : std::countr_zero(zero) / 8;
    const uint64_t mask = kept == 0 ? 0 : ~uint64_t{0} >> (64 - 8 * kept);
    return (v | 0x2020202020202020u) & mask;
}

// Which of 4096 bits a rough key sets in a filter.
std::size_t filterBit(uint64_t key) { return static_cast<std::size_t>((key * 0x9E3779B97F4A7C15u) >> 52); }

}  // namespace

namespace {

// The records add(name, ...) makes: the name, its place, its type.
constexpr std::size_t kOwnStride = 22;
constexpr std::size_t kOwnPlaceAt = 16;
constexpr std::size_t kOwnTypeAt = 20;

uint32_t u32At(const uint8_t* at) {
    return uint32_t{at[0]} | uint32_t{at[1]} << 8 | uint32_t{at[2]} << 16 | uint32_t{at[3]} << 24;
}

}  // namespace

uint32_t ResourceIndex::addPlace(std::string path, bool folder) {
    places_.push_back({std::move(path), folder});
    return static_cast<uint32_t>(places_.size() - 1);
}

void ResourceIndex::add(std::string_view name, uint16_t type, uint32_t place) {
    if (name.empty() || name.size() > kResourceNameBytes) return;
    if (own_ < 0) {
        own_ = static_cast<int>(lists_.size());
        lists_.push_back({{}, {}, 0, 0, kOwnStride, kOwnTypeAt, -1, 0});
    }
    const std::size_t at = ownBytes_.size();
    ownBytes_.resize(at + kOwnStride);
    std::copy(name.begin(), name.end(), ownBytes_.begin() + static_cast<std::ptrdiff_t>(at));
    for (std::size_t i = 0; i < 4; ++i) ownBytes_[at + kOwnPlaceAt + i] = static_cast<uint8_t>(place >> (8 * i));
    ownBytes_[at + kOwnTypeAt] = static_cast<uint8_t>(type & 0xFF);
    ownBytes_[at + kOwnTypeAt + 1] = static_cast<uint8_t>(type >> 8);
    ++lists_[static_cast<std::size_t>(own_)].count;
    forget();
}

void ResourceIndex::add(Records records) {
    if (records.count == 0) return;
    lists_.push_back(std::move(records));
    forget();
}

void ResourceIndex::forget() const {
    fetched_.clear();
    table_.clear();
}

// List n's first record: its own records are kept apart, so that a copy
// of the index looks at its own.
const uint8_t* ResourceIndex::firstOf(std::size_t n) const {
    return (static_cast<int>(n) == own_ ? ownBytes_.data() : lists_[n].bytes.data()) + lists_[n].at;
}

const uint8_t* ResourceIndex::recordOf(Ref ref) const {
    const auto n = static_cast<std::size_t>(ref >> 32);
    return firstOf(n) + (ref & 0xFFFFFFFF) * lists_[n].stride;
}

std::string_view ResourceIndex::nameOf(Ref ref) const {
    const auto* at = reinterpret_cast<const char*>(recordOf(ref));
    const std::string_view name(at, kResourceNameBytes);
    return name.substr(0, name.find('\0'));
}

uint16_t ResourceIndex::typeOf(Ref ref) const {
    const uint8_t* at = recordOf(ref) + lists_[static_cast<std::size_t>(ref >> 32)].typeAt;
    return static_cast<uint16_t>(at[0] | at[1] << 8);
}

uint32_t ResourceIndex::placeOf(Ref ref) const {
    const std::size_t n = static_cast<std::size_t>(ref >> 32);
    const Records& list = lists_[n];
    const uint8_t* record = recordOf(ref);
    if (static_cast<int>(n) == own_) return u32At(record + kOwnPlaceAt);
    return list.archiveAt < 0 ? list.place : list.place + (u32At(record + list.archiveAt) >> 20);
}

// Calls visit(ref) for every record, in the order added.
template <class Visit>
void ResourceIndex::each(Visit visit) const {
    for (std::size_t n = 0; n < lists_.size(); ++n)
        for (uint32_t i = 0; i < lists_[n].count; ++i) visit((Ref{n} << 32) | i);
}

std::size_t ResourceIndex::size() const {
    std::size_t count = 0;
    for (const Records& list : lists_) count += list.count;
    return count;
}

ResourceIndex::Found ResourceIndex::found(Ref ref) const {
    Found out;
    out.type = typeOf(ref);
    out.file = std::string(nameOf(ref)) + "." + extensionOf(out.type);
    if (const uint32_t place = placeOf(ref); place < places_.size()) {
        out.where = places_[place].folder ? places_[place].path + "/" + out.file : places_[place].path;
        out.folder = places_[place].folder;
    }
    return out;
}

void ResourceIndex::prefetch(const std::vector<std::string_view>& names) const {
    // The names asked, by their hash, in a small table of their own.
    std::vector<std::string> asked;
    for (const std::string_view name : names)
        if (!name.empty() && name.size() <= kResourceNameBytes && !fetched_.count(foldedCase(name)))
            asked.push_back(foldedCase(name));
    std::sort(asked.begin(), asked.end());
    asked.erase(std::unique(asked.begin(), asked.end()), asked.end());
    if (asked.empty()) return;
    std::size_t slots = 16;
    while (slots < 2 * asked.size()) slots *= 2;
    std::vector<int> slot(slots, -1);
    for (std::size_t q = 0; q < asked.size(); ++q) {
        std::size_t at = foldedHash(asked[q]) & (slots - 1);
        while (slot[at] >= 0) at = (at + 1) & (slots - 1);
        slot[at] = static_cast<int>(q);
    }
    std::array<uint64_t, 64> filter{};
    for (const std::string& name : asked) {
        std::array<uint8_t, kResourceNameBytes> padded{};
        std::copy(name.begin(), name.end(), padded.begin());
        const std::size_t bit = filterBit(roughKey(padded.data()));
        filter[bit / 64] |= uint64_t{1} << (bit % 64);
    }
    std::vector<std::vector<Ref>> hits(asked.size());
    for (std::size_t n = 0; n < lists_.size(); ++n) {
        const uint8_t* record = firstOf(n);
        for (uint32_t i = 0; i < lists_[n].count; ++i, record += lists_[n].stride) {
            const std::size_t bit = filterBit(roughKey(record));
            if ((filter[bit / 64] >> (bit % 64) & 1) == 0) continue;
            const Ref ref = (Ref{n} << 32) | i;
            const std::string_view name = nameOf(ref);
            for (std::size_t at = foldedHash(name) & (slots - 1); slot[at] >= 0; at = (at + 1) & (slots - 1))
                if (sameFolded(name, asked[static_cast<std::size_t>(slot[at])]))
                    hits[static_cast<std::size_t>(slot[at])].push_back(ref);
        }
    }
    for (std::size_t q = 0; q < asked.size(); ++q) fetched_[asked[q]] = std::move(hits[q]);
}

// The table: half as many slots again as records or more, a power of two;
// a record sits at its hash's slot or the first free one after it.
void ResourceIndex::makeTable() const {
    if (!table_.empty() || size() == 0) return;
    std::size_t slots = 16;
    while (slots < size() + size() / 2) slots *= 2;
    table_.assign(slots, ~Ref{0});
    each([&](Ref ref) {
        std::size_t at = foldedHash(nameOf(ref)) & (slots - 1);
        while (table_[at] != ~Ref{0}) at = (at + 1) & (slots - 1);
        table_[at] = ref;
    });
}

// Those in a folder first, then in the order added.
std::vector<ResourceIndex::Found> ResourceIndex::answer(std::vector<Ref> refs) const {
    const auto inFolder = [&](Ref ref) { return placeOf(ref) < places_.size() && places_[placeOf(ref)].folder; };
    std::sort(refs.begin(), refs.end(), [&](Ref a, Ref b) { return inFolder(a) != inFolder(b) ? inFolder(a) : a < b; });
    std::vector<Found> out;
    for (const Ref ref : refs) out.push_back(found(ref));
    return out;
}

std::vector<ResourceIndex::Found> ResourceIndex::find(std::string_view name) const {
    if (name.empty() || name.size() > kResourceNameBytes) return {};
    if (const auto fetched = fetched_.find(foldedCase(name)); fetched != fetched_.end()) return answer(fetched->second);
    makeTable();
    std::vector<Ref> refs;
    if (table_.empty()) return {};
    for (std::size_t at = foldedHash(name) & (table_.size() - 1); table_[at] != ~Ref{0}; at = (at + 1) & (table_.size() - 1))
        if (sameFolded(nameOf(table_[at]), name)) refs.push_back(table_[at]);
    return answer(std::move(refs));
}

std::vector<std::string> ResourceIndex::near(std::string_view name, ResourceKind kind) const {
    std::vector<std::pair<int, std::string>> near;
    each([&](Ref ref) {
        const std::string_view listed = nameOf(ref);
        if (kindOf(typeOf(ref)) != kind || listed.size() + 2 < name.size() || name.size() + 2 < listed.size()) return;
        const int edits = editsApart(name, listed);
        if (edits == 0 || edits > 2) return;
        if (std::none_of(near.begin(), near.end(), [&](const auto& n) { return sameFolded(n.second, listed); }))
            near.emplace_back(edits, std::string(listed));
    });
    std::stable_sort(near.begin(), near.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<std::string> names;
    for (auto& [edits, named] : near) names.push_back(std::move(named));
    return names;
}

std::vector<ResourceIndex::Found> ResourceIndex::all() const {
    std::vector<Found> out;
    out.reserve(size());
    each([&](Ref ref) { out.push_back(found(ref)); });
    return out;
}

}  // namespace headlink
