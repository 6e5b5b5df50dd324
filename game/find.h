// Finding the game folders on this computer that a pack can go into: only
// where the stores players use put their games, never a search of the
// disk. A folder qualifies when the three tables are found in it as
// `--game` finds them.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "fileio/result.h"

namespace headlink {

// Where to look for game folders.
struct SearchPlaces {
    std::string pack;                     // the folders above it come first (a pack unpacked in the game)
    std::vector<std::string> steamRoots;  // Steam's own folders
    std::vector<std::string> others;      // game folders a store names (GOG Galaxy)
};

// The places of this computer: Steam's folders from the environment
// ($XDG_DATA_HOME or ~/.local/share, ~/.steam/steam, Flatpak's) or, on
// Windows, the registry, where GOG Galaxy's games are named too.
SearchPlaces gamePlaces(const std::string& pack);

// The library folders a Steam folder's steamapps/libraryfolders.vdf names,
// in either of its shapes: "libraryfolders" holding numbered blocks with a
// "path", or the older "LibraryFolders" holding numbered paths. What cannot
// be read is left out.
std::vector<std::string> steamLibraries(std::string_view vdf);

// Every folder to look at, in order, each once (two names of one folder,
// through a link, count once): the folders above the pack, then for each
// Steam folder each folder in steamapps/common of its libraries (the
// Steam folder itself, then those its library file names), then the others;
// each as gameDataFolder gives it.
std::vector<std::string> candidateGameFolders(const SearchPlaces& places);

// The folder of `dir` that holds the game's files: `dir` itself when its
// key file is there, else its subfolder steamassets (in any letter case)
// when that holds one, as one store lays out an edition of the game on
// Linux, key file, data and override folder inside it; else `dir`.
std::string gameDataFolder(const std::string& dir);

// Whether `dir` is a game folder the pack can go into: a failure naming the
// first of `tables` that cannot be found in it as `--game` finds them, and why.
Result gameFolderFor(const std::string& dir, std::span<const char* const> tables);

// The candidates that qualify, in order, each as gameDataFolder gives it.
std::vector<std::string> findGames(const SearchPlaces& places, std::span<const char* const> tables);

}  // namespace headlink
