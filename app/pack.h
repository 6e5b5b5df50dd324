// A head pack: a folder holding one folder per head, each with the five
// scripts and, optionally, an `override` folder of files the head brings
// for the game. The heads run in byte order of their folders' names, each
// on the tables as the heads before it left them.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "app/files.h"
#include "fileio/fileio.h"

namespace headlink {

// A file a head brings: its name in the game's override folder, where it
// came from ("moonveil/override/hd_moon.mdl") and its bytes.
struct BroughtFile {
    std::string name;
    std::string from;
    std::vector<uint8_t> bytes;
};

// One head: its folder's name, its five scripts (in kScriptFiles order) and
// its files.
struct HeadInputs {
    std::string name;
    std::array<FileBytes, kScriptCount> scripts;
    std::vector<BroughtFile> files;
};

// What reading a pack found: the heads, the folders skipped for holding
// none of the five scripts, and every failure (a folder holding some of
// them, an unreadable script, a link, device or folder among a head's
// files, a file named like a table, two heads bringing one name with
// different bytes).
struct PackInputs {
    std::vector<HeadInputs> heads;
    std::vector<std::string> skipped;
    std::vector<Result> errors;
};

// Reads the pack in folder `pack` (named `shown` in messages, as the user
// gave it). A head's folder may be a link to a folder deeper in the pack;
// one leading out of the pack, nowhere, or to another head is refused.
// Nothing a head names is followed out of its folder: links among its
// files are refused, never opened.
PackInputs readPack(const std::string& pack, const std::string& shown);

// A checksum of what `heads` install, by which a pack is known again
// wherever it lies: each head's name, its five scripts and the files it
// brings, names and bytes.
std::string packChecksum(const std::vector<HeadInputs>& heads);
// The folder `folder` as a pack is known by: absolute, its links resolved
// where they can be, '/' between steps.
std::string packPlace(const std::string& folder);

// The checks a file a head brings must pass, for a pack given another way
// (a page): a name of one of the three tables is refused, and so are two
// heads bringing one name (in any letter case) with different bytes.
// Each adds its failure to *errors.
bool broughtNameTaken(const std::string& name, const std::string& from, std::vector<Result>* errors);
void checkBroughtNames(const std::vector<HeadInputs>& heads, std::vector<Result>* errors);
// The line a folder of the pack holding none of the five scripts gives.
std::string skippedNote(const std::string& folder);

}  // namespace headlink
