#include "game/find.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "fileio/fileio.h"
#include "fileio/names.h"
#include "game/folder.h"
#include "table/text.h"

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#endif

namespace headlink {

namespace fs = std::filesystem;

namespace {

// Steam's small text format: "key" "value" pairs and "key" { ... } blocks,
// strings in quotes with \\ and \" escapes, // comments. Read as a tree,
// nested no deeper than any real file is.
struct VdfNode {
    std::string key;
    std::string value;
    bool block = false;
    std::vector<VdfNode> children;
};

class VdfReader {
public:
    explicit VdfReader(std::string_view text) : text_(text) {}

    // The entries up to a '}' or the end.
    std::vector<VdfNode> entries(int depth) {
        std::vector<VdfNode> found;
        std::string key;
        while (next(&key) == Token::word) {
            VdfNode node;
            node.key = std::move(key);
            std::string value;
            const Token after = next(&value);
            if (after == Token::word) {
                node.value = std::move(value);
            } else if (after == Token::open && depth < 16) {
                node.block = true;
                node.children = entries(depth + 1);
            } else {
                break;  // a key with nothing after it, or nested too deep: the rest is not read
            }
            found.push_back(std::move(node));
        }
        return found;
    }

private:
    enum class Token { word, open, close, end };

    Token next(std::string* word) {
        word->clear();
        for (;;) {
            while (at_ < text_.size() && std::string_view(" \t\r\n").find(text_[at_]) != std::string_view::npos) ++at_;
            if (text_.substr(at_, 2) != "//") break;
            while (at_ < text_.size() && text_[at_] != '\n') ++at_;
        }
        if (at_ >= text_.size()) return Token::end;
        const char c = text_[at_++];
        if (c == '{') return Token::open;
        if (c == '}') return Token::close;
        if (c != '"') {  // a bare word
            --at_;
            while (at_ < text_.size() && std::string_view(" \t\r\n{}\"").find(text_[at_]) == std::string_view::npos)
                *word += text_[at_++];
            return Token::word;
        }
        while (at_ < text_.size() && text_[at_] != '"') {
            char ch = text_[at_++];
            if (ch == '\\' && at_ < text_.size()) {
                const char escaped = text_[at_++];
                ch = escaped == 'n' ? '\n' : escaped == 't' ? '\t' : escaped;
            }
            *word += ch;
        }
        if (at_ < text_.size()) ++at_;  // the closing quote, when the text was not cut off before it
        return Token::word;
    }

    std::string_view text_;
    std::size_t at_ = 0;
};

bool allDigits(const std::string& text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

#ifndef _WIN32
std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value == nullptr ? std::string() : std::string(value);
}
#endif

// The folders in `dir`, in name order.
std::vector<std::string> foldersIn(const fs::path& dir) {
    std::vector<std::string> found;
    std::error_code ec;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec))
        if (it->is_directory(ec)) found.push_back(it->path().string());
    std::sort(found.begin(), found.end());
    return found;
}

#ifdef _WIN32
// A string value of the registry, "" when there is none.
std::string registryText(HKEY root, const wchar_t* key, const wchar_t* name, REGSAM view) {
    HKEY opened = nullptr;
    if (RegOpenKeyExW(root, key, 0, KEY_READ | view, &opened) != ERROR_SUCCESS) return {};
    wchar_t value[1024];
    DWORD size = sizeof value;
    DWORD type = 0;
    const LONG got = RegQueryValueExW(opened, name, nullptr, &type, reinterpret_cast<BYTE*>(value), &size);
    RegCloseKey(opened);
    if (got != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ) || size < sizeof(wchar_t)) return {};
    const std::wstring wide(value, size / sizeof(wchar_t));
    return narrowed(wide.substr(0, wide.find(L'\0')), CP_ACP);
}

// GOG Galaxy names each game's folder under its key, in the 32-bit view.
std::vector<std::string> gogGames() {
    std::vector<std::string> found;
    HKEY games = nullptr;
    const REGSAM view = KEY_WOW64_32KEY;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\GOG.com\\Games", 0, KEY_READ | view, &games) != ERROR_SUCCESS)
        return found;
    wchar_t name[256];
    for (DWORD i = 0;; ++i) {
        DWORD size = 256;
        if (RegEnumKeyExW(games, i, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        const std::wstring key = std::wstring(L"SOFTWARE\\GOG.com\\Games\\") + name;
        const std::string path = registryText(HKEY_LOCAL_MACHINE, key.c_str(), L"path", view);
        if (!path.empty()) found.push_back(path);
    }
    RegCloseKey(games);
    return found;
}
#endif

// A path from Steam's library file, which is UTF-8, as a file name here.
std::string fromUtf8(const std::string& path) {
#ifdef _WIN32
    return narrowed(widened(path, CP_UTF8), CP_ACP);
#else
    return path;
#endif
}

bool holdsKeyFile(const std::string& dir) {
    std::error_code ec;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec))
        if (foldedCase(it->path().extension().string()) == ".key") return true;
    return false;
}

}  // namespace

std::string gameDataFolder(const std::string& dir) {
    if (holdsKeyFile(dir)) return dir;
    std::string inside;
    if (!findInGame(dir, "", "steamassets", true, &inside) || inside.empty()) return dir;
    inside = (fs::path(dir) / inside).string();
    return holdsKeyFile(inside) ? inside : dir;
}

std::vector<std::string> steamLibraries(std::string_view vdf) {
    std::vector<std::string> libraries;
    for (const VdfNode& top : VdfReader(vdf).entries(0)) {
        if (!top.block || !sameText(top.key, "libraryfolders")) continue;
        for (const VdfNode& entry : top.children) {
            if (!allDigits(entry.key)) continue;
            if (!entry.block && !entry.value.empty()) libraries.push_back(entry.value);
            for (const VdfNode& field : entry.children)
                if (!field.block && sameText(field.key, "path") && !field.value.empty()) libraries.push_back(field.value);
        }
    }
    return libraries;
}

SearchPlaces gamePlaces(const std::string& pack) {
    SearchPlaces places;
    places.pack = pack;
#ifdef _WIN32
    const std::string steam = registryText(HKEY_CURRENT_USER, L"Software\\Valve\\Steam", L"SteamPath", 0);
    if (!steam.empty()) places.steamRoots.push_back(steam);
    places.others = gogGames();
#else
    const std::string home = environment("HOME");
    const std::string data = environment("XDG_DATA_HOME");
    if (!data.empty()) places.steamRoots.push_back(data + "/Steam");
    else if (!home.empty()) places.steamRoots.push_back(home + "/.local/share/Steam");
    if (!home.empty()) {
        places.steamRoots.push_back(home + "/.steam/steam");
        places.steamRoots.push_back(home + "/.var/app/com.valvesoftware.Steam/.local/share/Steam");
    }
#endif
    return places;
}

std::vector<std::string> candidateGameFolders(const SearchPlaces& places) {
    std::vector<std::string> candidates, seen;
    // Each folder once, by what it really is: a game folder and its
    // steamassets subfolder count once, as the latter.
    auto add = [&](const std::string& given) {
        const std::string folder = gameDataFolder(given);
        std::error_code ec;
        const fs::path real = fs::canonical(folder, ec);
        if (ec || !fs::is_directory(real, ec)) return;
        if (std::find(seen.begin(), seen.end(), real.string()) != seen.end()) return;
        seen.push_back(real.string());
        candidates.push_back(folder);
    };
    std::error_code ec;
    const fs::path pack = fs::absolute(places.pack, ec);
    for (fs::path up = pack.parent_path(); !ec && !up.empty(); up = up.parent_path()) {
        add(up.string());
        if (up == up.parent_path()) break;
    }
    std::vector<std::string> roots;
    for (const std::string& root : places.steamRoots) {
        const fs::path real = fs::canonical(root, ec);
        if (!ec && std::find(roots.begin(), roots.end(), real.string()) == roots.end()) roots.push_back(real.string());
    }
    for (const std::string& root : roots) {
        std::vector<std::string> libraries = {root};
        const FileBytes vdf = readFile((fs::path(root) / "steamapps" / "libraryfolders.vdf").string());
        if (vdf.ok())
            for (const std::string& library : steamLibraries(std::string_view(
                     reinterpret_cast<const char*>(vdf.bytes.data()), vdf.bytes.size())))
                libraries.push_back(fromUtf8(library));
        for (const std::string& library : libraries)
            for (const std::string& game : foldersIn(fs::path(library) / "steamapps" / "common")) add(game);
    }
    for (const std::string& other : places.others) add(other);
    return candidates;
}

Result gameFolderFor(const std::string& dir, std::span<const char* const> tables) {
    std::error_code ec;
    if (!fs::is_directory(dir, ec)) return Result::failure(Status::notFound, "no folder of this name", dir);
    Game game(dir);
    for (const char* name : tables) {
        FoundTable table;
        if (Result found = game.read(name, &table); !found) {
            if (found.file.empty()) found.file = name;
            return found;
        }
    }
    return {};
}

std::vector<std::string> findGames(const SearchPlaces& places, std::span<const char* const> tables) {
    std::vector<std::string> games;
    for (const std::string& folder : candidateGameFolders(places))
        if (gameFolderFor(folder, tables)) games.push_back(folder);
    return games;
}

}  // namespace headlink
