// What the game can load: every resource its folder offers, by name and
// type. The application finds a resource by its name (up to 16 characters,
// whatever their letter case) and type, in its override folder (the files
// directly in it, the type from the extension), in the archives its key
// file lists, and in the texture packs (TexturePacks/*.erf). Types are
// numbers in archives and extensions in folders; the few that matter here
// are in one table, grouped in the kinds the game treats as one (a texture
// is a tga, a tpc or a dds: whichever it finds).
#pragma once

#include <array>
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

// Every resource of a game folder. Names are kept in place, without an
// allocation each: a game's key file lists tens of thousands.
class ResourceIndex {
public:
    // A place resources are in: a folder ("Override", shown as
    // "Override/NAME.EXT") or an archive ("data/models.bif"); its number.
    uint32_t addPlace(std::string path, bool folder);
    // A resource in place `place` (a number addPlace gave, or will give
    // before the index is looked in: a key's entries come before the
    // archives they name are known). A name longer than 16 characters is
    // not one the game can load, and is not added.
    void add(std::string_view name, uint16_t type, uint32_t place);

    struct Found {
        std::string file;   // "hd_el_f01.mdl": the name as listed and the type's extension
        std::string where;  // "data/models.bif", or "Override/hd_el_f01.mdl" for a folder
        uint16_t type = 0;
    };
    // Every resource named `name`, whatever its letter case: those in a
    // folder first (the game takes a loose file before any other), then in
    // the order added.
    std::vector<Found> find(std::string_view name) const;
    // The names of kind `kind` one or two edits (a character added, dropped
    // or changed) from `name`, whatever the case, each once, nearest first.
    std::vector<std::string> near(std::string_view name, ResourceKind kind) const;
    // Every resource, in the order added.
    std::vector<Found> all() const;
    std::size_t size() const { return entries_.size(); }
    void reserve(std::size_t resources) {
        entries_.reserve(resources);
        names_.reserve(resources * 10);
    }

private:
    // A resource: its name in names_, its type and its place. Twelve bytes
    // each, and the names one after another: a game's key file lists tens
    // of thousands, read at every run.
    struct Entry {
        uint32_t at = 0;
        uint32_t place = 0;
        uint16_t type = 0;
        uint8_t length = 0;
    };
    struct Place {
        std::string path;
        bool folder = false;
    };
    std::string_view named(const Entry& entry) const { return {names_.data() + entry.at, entry.length}; }
    Found found(const Entry& entry) const;
    void makeTable() const;

    std::string names_;
    std::vector<Entry> entries_;
    std::vector<Place> places_;
    // An open-addressing table of entries_ by their names' hash, made when
    // first looked in: a run looks up a few dozen names among tens of
    // thousands, and sorting them all would cost more than the run.
    mutable std::vector<uint32_t> table_;
};

}  // namespace headlink
