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
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <tsl/robin_map.h>

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

// Every resource of a game folder, by name whatever its letter case.
class ResourceIndex {
public:
    // A place resources are in: a folder ("Override", shown as
    // "Override/NAME.EXT") or an archive ("data/models.bif"); its number.
    uint32_t addPlace(std::string path, bool folder);
    // A resource in place `place`. A name longer than 16 characters is not
    // one the game can load, and is not added.
    void add(std::string_view name, uint16_t type, uint32_t place);

    struct Found {
        std::string file;   // "hd_el_f01.mdl": the name as listed and the type's extension
        std::string where;  // "data/models.bif", or "Override/hd_el_f01.mdl" for a folder
        uint16_t type = 0;
        bool folder = false;  // in a folder (the override folder or one inside it), not an archive
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
    std::size_t size() const { return resources_.size(); }
    // Room for `count` more, as a reader knows how many a list holds.
    void reserve(std::size_t count);

private:
    struct Place {
        std::string path;
        bool folder = false;
    };
    // A name of up to 16 characters in place: a game lists tens of
    // thousands, and a string of its own for each would cost more than
    // the rest of a run.
    using Name = std::array<char, kResourceNameBytes>;
    static uint32_t hashOf(const Name& folded);
    static constexpr uint32_t kNoMore = UINT32_MAX;
    struct Resource {
        Name name{};  // as listed, NULs after it
        uint16_t type = 0;
        uint32_t place = 0;
        uint32_t next = kNoMore;  // the one added before it whose name has the same hash
        std::string_view shown() const;
    };
    Found found(const Resource& resource) const;

    std::vector<Place> places_;
    std::vector<Resource> resources_;  // in the order added
    // The last resource added whose name in lower case has the hash, the
    // others before it. A map of small entries: looking up
    // tens of thousands in one bigger than the processor's cache would
    // cost more than the rest of a run.
    tsl::robin_map<uint32_t, uint32_t> byHash_;
};

}  // namespace headlink
