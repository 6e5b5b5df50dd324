// A game folder, read as the host application reads it: a table is taken
// from the override folder when it is there, else from the archive its key
// file names. Names are matched ignoring the letter case of A-Z, as on the
// systems the application was made for; two names that differ only in case
// are an error, as which one it reads is not ours to guess. A name read
// from the key file never leads outside the game folder.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "fileio/result.h"

namespace headlink {

// A table found in a game folder: its bytes as stored, where they came
// from ("Override/heads.2da", "data/tables.bif (the key file)"), and
// warnings about how it was found.
struct GameTable {
    std::vector<uint8_t> bytes;
    std::string from;
    std::vector<std::string> warnings;
};

// Reads table `name` ("heads.2da") from game folder `dir`. Only the key
// file and the one entry of the archive are read, never a whole archive.
Result readGameTable(const std::string& dir, const std::string& name, GameTable* table);

// Every 2DA table of a game folder by name, with where the application
// takes it from ("override/x.2da", or an archive with "(missing)" when the
// key file names one that is not there), in name order.
struct GameListing {
    std::string name;
    std::string from;
};
Result listGameTables(const std::string& dir, std::vector<GameListing>* tables);

}  // namespace headlink
