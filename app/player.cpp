#include "app/player.h"

#include <algorithm>
#include <filesystem>
#include <iostream>
#include <optional>
#include <sstream>
#include <system_error>

#include "app/files.h"
#include "app/options.h"
#include "app/pack.h"
#include "app/run.h"
#include "fileio/fileio.h"
#include "game/find.h"
#include "game/install.h"
#include "table/text.h"

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace headlink {

namespace fs = std::filesystem;

namespace {

constexpr const char* kNoAnswer = "headlink: no answer: nothing was installed\n";

// An answer as typed: without the spaces around it, and without the quotes
// a dragged folder comes in (Windows puts "..." around it, a terminal '...').
std::string cleaned(std::string text) {
    const auto space = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!text.empty() && space(text.back())) text.pop_back();
    text.erase(text.begin(), std::find_if_not(text.begin(), text.end(), space));
    if (text.size() >= 2 && (text.front() == '"' || text.front() == '\'') && text.back() == text.front())
        text = text.substr(1, text.size() - 2);
    return text;
}

// A file dragged in (the game's program, say) stands for its folder.
std::string folderOf(const std::string& answer) {
    std::error_code ec;
    return fs::is_regular_file(answer, ec) ? fs::absolute(answer, ec).parent_path().string() : answer;
}

bool yes(const std::string& answer) { return sameText(answer, "y") || sameText(answer, "yes"); }
bool no(const std::string& answer) { return answer.empty() || sameText(answer, "n") || sameText(answer, "no"); }

// "20261209-141500" as "2026-12-09 14:15 UTC".
std::string whenOf(const std::string& folder) {
    if (folder.size() < 15) return folder;
    return folder.substr(0, 4) + "-" + folder.substr(4, 2) + "-" + folder.substr(6, 2) + " " + folder.substr(9, 2) +
           ":" + folder.substr(11, 2) + " UTC";
}

using Answer = std::function<bool(std::string*)>;

// Asks, and reads the answer, cleaned; none at the end of input.
std::optional<std::string> ask(std::ostream& out, const std::string& question, const Answer& answer) {
    out << question << std::flush;
    std::string said;
    if (!answer(&said)) {
        out << '\n';
        return std::nullopt;
    }
    return cleaned(said);
}

// What the install would do, as a player needs it: the lines of the dry run
// that say what is written, replaced and kept, and every warning. False
// when it cannot be done (its messages then said why).
bool showPlan(const std::string& game, std::ostream& out, std::ostream& err, bool* nothing) {
    Options options;
    options.game = game;
    options.heads.assign(1, '.');  // (assigned so: GCC 12 warns wrongly on = ".")
    options.dryRun = true;
    // A folder this user cannot write in is said before anything else.
    if (const Result why = writeAccess({game, game}); !why) {
        err << "headlink: " << why.description() << "; nothing was installed\n";
        return false;
    }
    std::ostringstream said, warned;
    const int status = runInDirectory(options, said, warned);
    err << warned.str();
    if (status != 0) return false;
    std::istringstream lines(said.str());
    *nothing = true;
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("would ", 0) == 0) {
            out << "  " << line << '\n';
            *nothing = false;
        } else if (line.rfind("nothing to install", 0) == 0) {
            out << line << '\n';
        }
    }
    return true;
}

}  // namespace

bool startedInPack(const std::vector<std::string>& args) {
    if (!args.empty()) return false;
    for (const char* table : kTableFiles)
        if (!readFile(table).missing()) return false;
    return !readPack(".", ".").heads.empty();
}

bool personAtConsole() {
#ifdef _WIN32
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) && GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode);
#else
    return ::isatty(0) == 1 && ::isatty(1) == 1;
#endif
}

bool readAnswer(std::string* line) {
    line->clear();
#ifdef _WIN32
    // The console's code page is not the file system's: read what was typed
    // as UTF-16, and spell it as the file system's names are spelled.
    HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    if (GetConsoleMode(in, &mode)) {
        std::wstring typed;
        for (;;) {
            wchar_t chunk[256];
            DWORD got = 0;
            if (!ReadConsoleW(in, chunk, 256, &got, nullptr) || got == 0) return false;
            typed.append(chunk, got);
            if (typed.find(L'\n') != std::wstring::npos) break;
        }
        typed.erase(typed.find(L'\n'));
        if (typed.starts_with(L'\x1A')) return false;  // Ctrl-Z and Enter: the end of input
        *line = narrowed(typed, CP_ACP);  // (a folder with a character the code page lacks is then not found)
        return true;
    }
#endif
    return static_cast<bool>(std::getline(std::cin, *line));
}

std::string packWithoutPerson() {
    return "headlink: this folder holds a pack of heads and none of the three tables: to install it, run headlink "
           "--game DIR --heads PACK (DIR the game folder, PACK this folder)\n";
}

int printGames(std::ostream& out) {
    std::error_code ec;
    const std::vector<std::string> games = findGames(gamePlaces(fs::current_path(ec).string()), kTableFiles);
    for (const std::string& game : games) out << game << '\n';
    return games.empty() ? 1 : 0;
}

namespace {

// A step of the trip that ends it with this status: the end of input is
// kEndOfInput, said once where the trip ends.
constexpr int kEndOfInput = -1;

// The pack's heads, and the files they bring, said; the heads' names.
std::vector<std::string> describePack(const PackInputs& pack, std::ostream& out) {
    std::vector<std::string> heads, files;
    for (const HeadInputs& head : pack.heads) {
        heads.push_back(head.name);
        for (const BroughtFile& file : head.files) files.push_back(file.name + " (" + head.name + ")");
    }
    out << "This pack holds " << heads.size() << (heads.size() == 1 ? " head: " : " heads: ") << listed(heads)
        << ".\n";
    if (!files.empty()) out << "They bring " << listed(files) << " for the game's override folder.\n";
    return heads;
}

// This pack, the newest install in a game: undoing it is offered first. It
// is known by what its heads hold, or by its folder with the same heads;
// an install recorded before records kept that, by its heads' names. The
// trip's status when it ends here.
std::optional<int> offerUndo(const PackInputs& pack, const std::vector<std::string>& heads,
                             const std::vector<std::string>& games, const Answer& answer, std::ostream& out,
                             std::ostream& err) {
    std::error_code ec;
    const std::string sum = packChecksum(pack.heads);
    const std::string here = packPlace(fs::current_path(ec).string());
    for (const std::string& game : games) {
        std::string folder;
        Record installed;
        if (!newestInstall(game, &folder, &installed)) continue;
        const bool samePlace = installed.pack.path == here && installed.heads == heads;
        const bool same = installed.pack.sum.empty() ? installed.heads == heads : installed.pack.sum == sum || samePlace;
        if (!same) continue;
        const auto said = ask(out, "This pack was installed into " + game + " on " + whenOf(folder) + ". Undo it? [y/N] ",
                              answer);
        if (!said) return kEndOfInput;
        if (!yes(*said)) return std::nullopt;
        Options options;
        options.game = game;
        options.uninstall = true;
        return runInDirectory(options, out, err);
    }
    return std::nullopt;
}

// Which game: the one found, a number among several, or a folder typed or
// dragged. *game is the one chosen; the trip's status when it ends here.
std::optional<int> chooseGame(const std::vector<std::string>& games, const Answer& answer, std::ostream& out,
                              std::string* game) {
    *game = games.size() == 1 ? games[0] : std::string();
    if (games.size() > 1) {
        out << "Game folders found:\n";
        for (std::size_t i = 0; i < games.size(); ++i) out << "  " << i + 1 << ". " << games[i] << '\n';
    } else if (games.empty()) {
        out << "No game folder was found.\n";
    }
    while (game->empty()) {
        const auto said = ask(out, games.empty() ? "Type the game folder (or drag it here): "
                                                 : "Type the number of the game folder, or another folder: ",
                              answer);
        if (!said) return kEndOfInput;
        std::size_t number = 0;
        const bool digits = !said->empty() && said->size() < 6 &&
                            std::all_of(said->begin(), said->end(), [](char c) { return c >= '0' && c <= '9'; });
        if (digits) number = std::stoul(*said);
        if (digits && number >= 1 && number <= games.size()) {
            *game = games[number - 1];
        } else if (digits) {
            out << "There is no game folder " << *said << " in the list.\n";
        } else if (!said->empty()) {
            const std::string folder = gameDataFolder(folderOf(*said));
            if (const Result why = gameFolderFor(folder, kTableFiles); why) *game = folder;
            else out << "Not a game folder headlink can install into: " << why.description() << '\n';
        }
    }
    return std::nullopt;
}

// The plan, and a yes before anything changes; another folder typed in
// place of the answer is planned for in its turn. The trip's status.
int confirm(std::string game, const std::vector<std::string>& games, const Answer& answer, std::ostream& out,
            std::ostream& err) {
    for (;;) {
        out << "The pack's heads go into " << game << ":\n";
        bool nothing = false;
        if (!showPlan(game, out, err, &nothing)) return 1;
        if (nothing) return 0;
        for (;;) {
            const auto said = ask(out, "Install into " + game + "? [y/N] ", answer);
            if (!said) return kEndOfInput;
            if (yes(*said)) {
                Options options;
                options.game = game;
                options.heads.assign(1, '.');  // (assigned so: GCC 12 warns wrongly on = ".")
                const int status = runInDirectory(options, out, err);
                // A game found is looked at again on the next start; one typed is not.
                const bool found = std::find(games.begin(), games.end(), game) != games.end();
                if (status == 0 && found) out << "To undo it, double-click headlink in this folder again.\n";
                else if (status == 0) out << "To undo it, run headlink --game \"" << game << "\" --uninstall\n";
                return status;
            }
            std::error_code ec;
            const bool folder = said->find_first_of("/\\") != std::string::npos || fs::is_directory(*said, ec);
            if (no(*said) || !folder) {
                out << "Nothing was installed.\n";
                return 0;
            }
            const std::string typed = gameDataFolder(folderOf(*said));
            const Result why = gameFolderFor(typed, kTableFiles);
            if (why) {
                game = typed;
                break;
            }
            out << "Not a game folder headlink can install into: " << why.description() << '\n';
        }
    }
}

}  // namespace

int playerTrip(std::ostream& out, std::ostream& err, const Answer& answer) {
    const PackInputs pack = readPack(".", "this folder");
    for (const Result& why : pack.errors) err << "headlink: " << why.description() << '\n';
    if (!pack.errors.empty()) return 1;
    const std::vector<std::string> heads = describePack(pack, out);
    out << "Looking for the game...\n";
    std::error_code ec;
    const std::vector<std::string> games = findGames(gamePlaces(fs::current_path(ec).string()), kTableFiles);
    std::string game;
    std::optional<int> ended = offerUndo(pack, heads, games, answer, out, err);
    if (!ended) ended = chooseGame(games, answer, out, &game);
    const int status = ended ? *ended : confirm(game, games, answer, out, err);
    if (status != kEndOfInput) return status;
    err << kNoAnswer;
    return 1;
}

}  // namespace headlink
