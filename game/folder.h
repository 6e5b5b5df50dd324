// A game folder, read as the host application reads it: a table is taken
// from the override folder when it is there, else from the archive its key
// file names. The application reads the override folder's subfolders too:
// another copy there of a table headlink numbers rows in is warned, and
// their files are resources the game can load. Names are matched ignoring
// the letter case of A-Z, as on the systems the application was made for;
// two names that differ only in case are an error, as which one it reads
// is not ours to guess. A name read from the key file never leads outside
// the game folder.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "fileio/fileio.h"
#include "fileio/result.h"
#include "game/archive.h"
#include "game/resources.h"

namespace headlink {

// A table found in a game folder: its bytes as stored, where they came
// from ("Override/heads.2da", "data/tables.bif (the key file)"), and
// warnings about how it was found, each naming the table as it was asked for.
struct FoundTable {
    std::vector<uint8_t> bytes;
    std::string from;
    std::vector<Warning> warnings;
};

// Every 2DA table of a game folder by name, with where the application
// takes it from ("override/x.2da", or an archive with "(missing)" when the
// key file names one that is not there).
struct TableListing {
    std::string name;
    std::string from;
};

// The entry of folder `relative` (a path inside game folder `dir`, "" for
// the game folder itself) named `wanted` whatever its letter case: a file,
// or with `folder` a folder. *found is its name as it is on disk, or ""
// when there is none; two that differ only in case are an error.
Result findInGame(const std::string& dir, const std::string& relative, const std::string& wanted, bool folder,
                  std::string* found);

class FolderFiles;

// The same, looked up through `files` (`dir` names the folder in messages).
Result findInGame(FolderFiles& files, const std::string& dir, const std::string& relative, const std::string& wanted,
                  bool folder, std::string* found);

// What a game folder is read through: the folder on disk, or a list of its
// files whose bytes are handed in as they are asked for (a browser page,
// which reads a file only asynchronously and should read no more of a
// game's gigabytes than the few entries it needs). Paths are relative to
// the game folder, '/' between their steps.
class FolderFiles {
public:
    virtual ~FolderFiles() = default;
    struct Entry {
        std::string name;
        bool folder = false;
        bool file = false;
        bool link = false;      // a symbolic link: `folder` and `file` tell what it leads to
        std::string typeError;  // why its kind could not be told, or ""
    };
    // The entries of folder `relative` ("" for the game folder itself) whose
    // names `keep` takes; a failure's reason says why it cannot be listed.
    virtual Result list(const std::string& relative, const std::function<bool(const std::string&)>& keep,
                        std::vector<Entry>* entries) = 0;
    virtual FileBytes readAll(const std::string& relative) = 0;
    // Up to `size` bytes from `offset`, and the file's size.
    virtual FilePart readPart(const std::string& relative, uint64_t offset, std::size_t size) = 0;
};

// What a file of a game folder is, by its path there ('/' between steps,
// any letter case): for saying what is being read.
enum class GamePart { keyFile, overrideFolder, texturePacks, backups, archives };
GamePart partOf(std::string_view relative);

// Game folder `dir` on disk, each of its folders listed once, when first
// asked for: for one look at the folder (an override folder may hold tens
// of thousands of files, and a plan looks up each file it installs there).
std::unique_ptr<FolderFiles> gameFilesOnDisk(std::string dir);

// A game folder known by the list of its files: their paths, and their
// sizes when the caller knows them. A read of bytes not handed in yet
// fails and is noted as needed: the caller reads those slices, hands them
// in, and asks again from the start. A file of unknown size is asked for
// its size first, and for its bytes the time after: a page learns a
// file's size only by asking the system, file by file, which for a game's
// thousands of files takes seconds; only the few files read are asked.
class ListedFiles : public FolderFiles {
public:
    void add(std::string path);
    void add(std::string path, uint64_t size);
    // The size of a file listed without one, read for a need.
    void giveSize(const std::string& path, uint64_t size);
    // The bytes read for a need: fewer than it asked for mean the file
    // changed since it was listed, and reading it fails.
    void give(const std::string& path, uint64_t offset, std::size_t size, std::vector<uint8_t> bytes);
    struct Need {
        std::string path;
        uint64_t offset = 0;
        std::size_t size = 0;
        bool fileSize = false;  // the file's size is needed, not its bytes
        bool operator==(const Need&) const = default;
    };
    const std::vector<Need>& needs() const { return needs_; }
    void clearNeeds() { needs_.clear(); }

    Result list(const std::string& relative, const std::function<bool(const std::string&)>& keep,
                std::vector<Entry>* entries) override;
    FileBytes readAll(const std::string& relative) override;
    FilePart readPart(const std::string& relative, uint64_t offset, std::size_t size) override;

private:
    std::map<std::string, std::optional<uint64_t>> sizes_;
    std::map<std::tuple<std::string, uint64_t, std::size_t>, std::vector<uint8_t>> given_;
    std::vector<Need> needs_;
};

// A game folder, looked into as the application looks. Its key file is
// read once, for every table looked up in it, and only when a table is not
// in the override folder. `dir` names the folder in messages; without
// `files` it is read from disk.
class Game {
public:
    explicit Game(std::string dir);
    Game(std::string dir, FolderFiles& files);
    // Reads table `name` ("heads.2da"). Only the one entry of the archive is
    // read, never the whole archive. One of the three tables headlink
    // numbers rows in, lying in a subfolder of the override folder too, is
    // a warning for each such file.
    Result read(const std::string& name, FoundTable* table);
    // Every 2DA table, in name order.
    Result list(std::vector<TableListing>* tables);
    // Every resource the game can load, for checking the names a table
    // gives: the files in its override folder and in its subfolders (each
    // subfolder a place of its own, after the override folder itself), every
    // entry of its key file, and the key lists of the texture packs directly
    // in its TexturePacks folder (their headers and key lists alone are
    // read). A texture pack that cannot be read is a warning naming it, and
    // left out. No file of a folder is read, only its listing.
    Result resources(ResourceIndex* index, std::vector<Warning>* warnings);

private:
    Result readKeyTables();
    const std::vector<std::string>& overrideSubfolders(const std::string& override);

    std::string dir_;
    // What the Game reads through: the files, each folder listed once (its
    // tables, key and archives are looked for in the same few folders).
    std::unique_ptr<FolderFiles> files_;
    bool keyRead_ = false;
    Result keyResult_;
    std::string keyName_;
    KeyFile key_;
    std::vector<uint8_t> keyBytes_;
    std::map<std::string, std::size_t> byName_;  // lower-case name -> index into key_.entries; the later wins
    std::vector<std::string> repeated_;          // names the key gives more than once
    // The override folder's subfolders, down to 8 levels, in path order; walked once.
    bool walked_ = false;
    std::vector<std::string> subfolders_;
};

}  // namespace headlink
