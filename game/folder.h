// A game folder, read as the host application reads it: a table is taken
// from the override folder when it is there, else from the archive its key
// file names. Names are matched ignoring the letter case of A-Z, as on the
// systems the application was made for; two names that differ only in case
// are an error, as which one it reads is not ours to guess. A name read
// from the key file never leads outside the game folder.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "fileio/result.h"
#include "game/archive.h"

namespace headlink {

// A table found in a game folder: its bytes as stored, where they came
// from ("Override/heads.2da", "data/tables.bif (the key file)"), and
// warnings about how it was found.
struct GameTable {
    std::vector<uint8_t> bytes;
    std::string from;
    std::vector<std::string> warnings;
};

// Every 2DA table of a game folder by name, with where the application
// takes it from ("override/x.2da", or an archive with "(missing)" when the
// key file names one that is not there).
struct GameListing {
    std::string name;
    std::string from;
};

// The entry of folder `relative` (a path inside game folder `dir`, "" for
// the game folder itself) named `wanted` whatever its letter case: a file,
// or with `folder` a folder. *found is its name as it is on disk, or ""
// when there is none; two that differ only in case are an error.
Result findInGame(const std::string& dir, const std::string& relative, const std::string& wanted, bool folder,
                  std::string* found);

// A game folder, looked into as the application looks. Its key file is
// read once, for every table looked up in it, and only when a table is not
// in the override folder.
class Game {
public:
    explicit Game(std::string dir) : dir_(std::move(dir)) {}
    // Reads table `name` ("heads.2da"). Only the one entry of the archive is
    // read, never the whole archive.
    Result read(const std::string& name, GameTable* table);
    // Every 2DA table, in name order.
    Result list(std::vector<GameListing>* tables);

private:
    Result readKeyTables();

    std::string dir_;
    bool keyRead_ = false;
    Result keyResult_;
    std::string keyName_;
    KeyFile key_;
    std::map<std::string, std::size_t> byName_;  // lower-case name -> index into key_.entries; the later wins
    std::vector<std::string> repeated_;          // names the key gives more than once
};

}  // namespace headlink
