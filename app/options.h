// The command line: options are read in one place, before anything touches
// the disk. Arguments that do not start with '-' are ignored, because files
// dropped onto the program arrive as arguments.
#pragma once

#include <span>
#include <string>

#include "fileio/result.h"

namespace headlink {

struct Options {
    std::string directory;  // -C: work there instead of the current folder
    std::string game;       // --game: take the tables from this game folder
    std::string heads;      // --heads: run every head of this pack
    bool dryRun = false;    // -n: do everything but write; print the report
    bool verbose = false;   // -v: print the report
    bool quiet = false;     // -q: no warnings
    bool strict = false;    // --strict: every warning fails the run
    bool checkLinks = false;  // --check-links: only check the link cells
    bool outputs = false;     // --outputs: ... of the *_updated.2da tables
    bool uninstall = false;   // --uninstall: undo the newest install into the game folder
    bool force = false;       // --force: with --uninstall, move changed files aside and undo
    bool findGames = false;   // --find-games: print the game folders found on this computer
    bool help = false;
    bool version = false;
};

// The options in `args` (the arguments after the program name), or a
// usage error ("unknown option '--frob'").
Result parseOptions(std::span<const std::string> args, Options* options);

// The text --help prints.
std::string usage();

}  // namespace headlink
