// What the game can load: every resource its folder offers, by name and
// type. The application finds a resource by its name (up to 16 characters,
// whatever their letter case) and type, in its override folder (the files
// in it and in its subfolders, the type from the extension), in the
// archives its key file lists, and in the texture packs (TexturePacks/*.erf). Types are
// numbers in archives and extensions in folders; the few that matter here
// are in one table, grouped in the kinds the game treats as one (a texture
// is a tga, a tpc or a dds: whichever it finds).
#pragma once

#include <array>
#include <cstddef>
#include <map>
#include <memory>
#include <span>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace headlink {

enum class ResourceKind : uint8_t { none, texture, model, sound, script };

struct ResourceType {
    std::string_view extension;  // lower case, without the dot
    uint16_t number;
    ResourceKind kind;
};
inline constexpr std::array<ResourceType, 9> kResourceTypes{{
    {"2da", 2017, ResourceKind::none},
    {"mdl", 2002, ResourceKind::model},
    {"mdx", 3008, ResourceKind::none},
    {"tga", 3, ResourceKind::texture},
    {"tpc", 3007, ResourceKind::texture},
    {"dds", 2033, ResourceKind::texture},
    {"txi", 2022, ResourceKind::none},
    {"wav", 4, ResourceKind::sound},
    {"ncs", 2010, ResourceKind::script},
}};
// The longest name the game can load.
inline constexpr std::size_t kResourceNameBytes = 16;

// The type of number `number`, or nullptr (known, but of no kind here).
const ResourceType* typeOfNumber(uint16_t number);
// The type of a file's extension ("TGA", without the dot), or nullptr.
const ResourceType* typeOfExtension(std::string_view extension);
ResourceKind kindOf(uint16_t number);
// "texture", "model", "sound", "script" ("" for none).
std::string_view kindName(ResourceKind kind);
// The extension to show for type `number`: the table's, else the number.
std::string extensionOf(uint16_t number);
// How many edits (a character added, dropped or changed) turn `a` into
// `b`, whatever the case of A-Z: 0, 1, 2, or 3 for three or more, and for
// a name longer than 16 characters, which no game resource has.
int editsApart(std::string_view a, std::string_view b);

// Every resource of a game folder. A key file or a texture pack's key list
// is kept as it was read, its records never copied one by one: a game's key
// lists tens of thousands of resources, and a run looks up a few dozen
// names among them, all found in one pass (prefetch) before they are asked
// for.
class ResourceIndex {
public:
    // A place resources are in: a folder ("Override", shown as
    // "Override/NAME.EXT") or an archive ("data/models.bif"); its number.
    uint32_t addPlace(std::string path, bool folder);
    // A resource in place `place`. A name longer than 16 characters is not
    // one the game can load, and is not added.
    void add(std::string_view name, uint16_t type, uint32_t place);
    // `count` records of `stride` bytes from `at` in `bytes`, as a file
    // lists resources: each a 16-byte name (NULs after it) at its start
    // and a 16-bit type at `typeAt`; in place `place`, or, with `archiveAt`
    // set, in place `place` plus the archive a key's 32-bit id at
    // `archiveAt` gives (its upper 12 bits). The records must lie in the
    // bytes, and their archives be places: the readers have checked them.
    struct Records {
        std::shared_ptr<const void> keep;  // what holds `bytes`
        std::span<const uint8_t> bytes;
        std::size_t at = 0;
        uint32_t count = 0;
        std::size_t stride = 0;
        std::size_t typeAt = 0;
        int archiveAt = -1;
        uint32_t place = 0;
    };
    void add(Records records);

    struct Found {
        std::string file;   // "hd_el_f01.mdl": the name as listed and the type's extension
        std::string where;  // "data/models.bif", or "Override/hd_el_f01.mdl" for a folder
        uint16_t type = 0;
        bool folder = false;  // in a folder (the override folder or one inside it), not an archive
    };
    // Finds every name of `names` in one pass, for find() to answer at once.
    void prefetch(const std::vector<std::string_view>& names) const;
    // Every resource named `name`, whatever its letter case: those in a
    // folder first (the game takes a loose file before any other), then in
    // the order added.
    std::vector<Found> find(std::string_view name) const;
    // The names of kind `kind` one or two edits (a character added, dropped
    // or changed) from `name`, whatever the case, each once, nearest first.
    std::vector<std::string> near(std::string_view name, ResourceKind kind) const;
    // Every resource, in the order added.
    std::vector<Found> all() const;
    std::size_t size() const;

private:
    struct Place {
        std::string path;
        bool folder = false;
    };
    using Ref = uint64_t;  // a list's number, then a record's
    const uint8_t* firstOf(std::size_t n) const;
    const uint8_t* recordOf(Ref ref) const;
    std::string_view nameOf(Ref ref) const;
    uint16_t typeOf(Ref ref) const;
    uint32_t placeOf(Ref ref) const;
    Found found(Ref ref) const;
    template <class Visit>
    void each(Visit visit) const;
    std::vector<Found> answer(std::vector<Ref> refs) const;
    void makeTable() const;
    void forget() const;

    std::vector<Records> lists_;
    int own_ = -1;  // the list add(name, ...) adds to, in records of its own
    std::vector<uint8_t> ownBytes_;  // its records
    std::vector<Place> places_;
    // What prefetch found, by name in lower case; then, for a name it was
    // not asked, an open-addressing table of every record by its name's
    // hash, made when first needed (a name a suggestion brings up).
    mutable std::map<std::string, std::vector<Ref>> fetched_;
    mutable std::vector<Ref> table_;
};

}  // namespace headlink
