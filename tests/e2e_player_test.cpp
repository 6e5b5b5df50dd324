// End to end: a player's start in a pack, and the game folders players
// really have: a store's layout with the game's files in a subfolder, a
// folder this user cannot write in, two packs whose heads share a name,
// head folders that are links.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#ifndef _WIN32
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "tests/support/end_to_end.h"
#include "tests/support/game_folder.h"

namespace headlink::testing {
namespace {

#ifndef _WIN32  // a player at a terminal, through a pseudo-terminal
// A player at a terminal: headlink started bare in `folder`, under a
// pseudo-terminal of its own, after `env` (as for env(1)). Each step of
// `answers` waits until the screen shows its question, then types its
// answer and Enter (or, for "\x04", ends the input). The screen is all the
// program wrote; the status its exit status.
struct Played {
    std::string screen;
    int status = -1;
};
Played playAt(const fs::path& folder, const std::string& env, const std::string& runner, const std::string& exe,
              const std::vector<std::pair<std::string, std::string>>& answers) {
    Played played;
    int master = -1;
    const pid_t pid = ::forkpty(&master, nullptr, nullptr, nullptr);
    if (pid == 0) {
        if (::chdir(folder.c_str()) != 0) ::_exit(126);
        const std::string command = "exec env " + env + " " + runner + " '" + exe + "'";
        ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    std::size_t step = 0, seen = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    for (char chunk[4096]; std::chrono::steady_clock::now() < deadline;) {
        pollfd ready{master, POLLIN, 0};
        if (::poll(&ready, 1, 100) > 0) {
            const ssize_t n = ::read(master, chunk, sizeof chunk);
            if (n <= 0) break;  // the program has ended
            played.screen.append(chunk, static_cast<std::size_t>(n));
        }
        if (step < answers.size()) {
            const std::size_t at = played.screen.find(answers[step].first, seen);
            if (at == std::string::npos) continue;
            seen = at + answers[step].first.size();
            const std::string typed = answers[step].second == "\x04" ? "\x04" : answers[step].second + "\r";
            if (::write(master, typed.data(), typed.size()) < 0) break;
            ++step;
        }
    }
    ::close(master);
    int status = 0;
    if (::waitpid(pid, &status, WNOHANG) == 0) ::kill(pid, SIGKILL);
    ::waitpid(pid, &status, 0);
    played.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (step < answers.size()) ADD_FAILURE() << "never asked \"" << answers[step].first << "\":\n" << played.screen;
    return played;
}

// The same on the emulator's console, which draws a screen of its own on a
// terminal: run in tmux, each question read off the screen, each answer
// typed with Enter. The window waits for Enter at the end, as a double-click's does.
Played playInTmux(const fs::path& folder, const std::string& runner, const std::string& exe,
                  const std::vector<std::pair<std::string, std::string>>& answers) {
    Played played;
    const std::string tmux = "tmux -L headlink-test-" + std::to_string(::getpid());
    const std::string ended = folder.string() + ".status";
    fs::remove(ended);
    const std::string command = "cd '" + folder.string() + "' && env WINEPREFIX='" + env("WINEPREFIX") +
                                "' WINEDEBUG=-all " + runner + " '" + exe + "'; echo $? >'" + ended + "'";
    if (std::system((tmux + " new-session -d -x 230 -y 60 \"" + command + "\"").c_str()) != 0) {
        ADD_FAILURE() << "tmux did not start";
        return played;
    }
    auto screen = [&] {
        std::string text;
        if (FILE* pipe = ::popen((tmux + " capture-pane -p -J -S -300 2>/dev/null").c_str(), "r")) {
            char chunk[4096];
            for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;) text.append(chunk, n);
            ::pclose(pipe);
        }
        return text;
    };
    std::size_t step = 0, seen = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (!fs::exists(ended) && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        if (std::string now = screen(); !now.empty()) played.screen = std::move(now);
        std::string question = step < answers.size() ? answers[step].first : "Press Enter to close this window.";
        while (question.ends_with(' ')) question.pop_back();  // the screen keeps no spaces at a line's end
        const std::size_t at = played.screen.find(question, step < answers.size() ? seen : 0);
        if (at == std::string::npos) continue;
        const std::string typed = step < answers.size() ? answers[step].second : "";
        // Typed a key at a time, as send-keys does, then Enter.
        (void)std::system((tmux + " send-keys -l '" + typed + "' \\; send-keys Enter 2>/dev/null").c_str());
        seen = at + question.size();
        if (step < answers.size()) ++step;
    }
    if (std::string now = screen(); !now.empty()) played.screen = std::move(now);
    (void)std::system((tmux + " kill-server 2>/dev/null").c_str());
    const Bytes status = readBytes(ended);
    played.status = status.empty() ? -1 : std::stoi(std::string(status.begin(), status.end()));
    if (step < answers.size()) ADD_FAILURE() << "never asked \"" << answers[step].first << "\":\n" << played.screen;
    return played;
}

// Under the emulator: Steam's folder and a GOG game named in the registry,
// found, numbered, a dragged folder that is no game refused, then one
// chosen, installed, and undone on the next start.
void playerOnWindows(const std::function<std::map<std::string, std::string>()>& gameTree, const fs::path& dir,
                     const fs::path& game, const fs::path& other, const std::string& runner, const std::string& exe) {
    const auto windows = [](const fs::path& path) {
        std::string text = "Z:" + path.string();
        std::replace(text.begin(), text.end(), '/', '\\');
        return text;
    };
    const std::string reg = runner + " reg ";
    ASSERT_EQ(std::system((reg + "add 'HKCU\\Software\\Valve\\Steam' /v SteamPath /t REG_SZ /d '" +
                           windows(dir / "home/.local/share/Steam") + "' /f >/dev/null 2>&1").c_str()), 0);
    ASSERT_EQ(std::system((reg + "add 'HKLM\\SOFTWARE\\GOG.com\\Games\\1207' /v path /t REG_SZ /d '" +
                           windows(dir / "gog") + "' /f /reg:32 >/dev/null 2>&1").c_str()), 0);
    const auto before = gameTree();
    Played played = playInTmux(dir / "pack", runner, exe,
                               {{"Type the number of the game folder, or another folder: ", '"' + windows(other) + '"'},
                                {"Not a game folder headlink can install into", "1"},
                                {"? [y/N] ", "y"}});
    EXPECT_EQ(played.status, 0) << played.screen;
    EXPECT_NE(played.screen.find("  2. " + windows(dir / "gog")), std::string::npos) << played.screen;
    EXPECT_NE(played.screen.find("To undo it, double-click headlink in this folder again."), std::string::npos)
        << played.screen;
    EXPECT_TRUE(fs::exists(game / "override" / "hd_el_m_ash.mdl"));
    played = playInTmux(dir / "pack", runner, exe, {{"Undo it? [y/N] ", "y"}});
    EXPECT_EQ(played.status, 0) << played.screen;
    EXPECT_EQ(gameTree(), before);
    (void)std::system((reg + "delete 'HKCU\\Software\\Valve\\Steam' /f >/dev/null 2>&1").c_str());
    (void)std::system((reg + "delete 'HKLM\\SOFTWARE\\GOG.com' /f /reg:32 >/dev/null 2>&1").c_str());
}

// A player's double-click in a pack (here a bare start in a terminal): the
// game found through Steam's library file only, a folder typed that is no
// game, a yes: the game as `--game --heads` leaves it; again: the undo
// offered, and the game as it was. Nobody at the terminal: nothing asked.
TEST_F(GameFolders, APlayersStartInAPackFindsTheGameAndInstalls) {
    Kit kit = exampleKit();
    const fs::path home = dir_ / "home", steam = home / ".local/share/Steam", library = dir_ / "library";
    const fs::path game = library / "steamapps/common/TheGame", other = library / "steamapps/common/Other";
    fs::create_directories(steam / "steamapps");
    fs::create_directories(other);
    fs::create_directories(game);
    GameLayout layout;
    layout.archived = {{"appearance.2da", kit["appearance.2da"]}, {"portraits.2da", kit["portraits.2da"]},
                       {"heads.2da", kit["heads.2da"]}};
    ASSERT_TRUE(writeGameFolder(game.string(), layout));
    ASSERT_TRUE(writeGameFolder(path("expected"), layout));
    put("home/.local/share/Steam/steamapps/libraryfolders.vdf",
        "\"libraryfolders\"\n{\n\t\"0\"\n\t{\n\t\t\"path\"\t\t\"" + steam.string() + "\"\n\t}\n\t\"1\"\n\t{\n\t\t\"path\"\t\t\"" +
            library.string() + "\"\n\t\t\"apps\" { \"1\" \"2\" }\n\t}\n}\n");
    fs::copy(fs::path(HEADLINK_EXPECTED_DIR).parent_path().parent_path() / "examples/pack", dir_ / "pack",
             fs::copy_options::recursive);
    const std::string env = "-u XDG_DATA_HOME HOME='" + home.string() + "'";
    const std::string where = fs::relative(game, dir_).string();
    const auto before = tree(where);
    auto gameFiles = [&](const std::string& folder) {
        auto files = tree(folder);
        std::erase_if(files, [](const auto& entry) { return entry.first.starts_with("headlink-backups"); });
        return files;
    };
    ASSERT_EQ(run("--game expected --heads pack").status, 0);
    if (underWine()) {
        fs::create_directories(dir_ / "gog");
        ASSERT_TRUE(writeGameFolder(path("gog"), layout));
        playerOnWindows([&] { return tree(where); }, dir_, game, other, runner_, exe_);
        return;
    }

    const std::string question = "Install into " + game.string() + "? [y/N] ";
    Played played = playAt(dir_ / "pack", env, runner_, exe_, {{question, other.string()}, {question, "y"}});
    EXPECT_EQ(played.status, 0) << played.screen;
    for (const char* said : {"This pack holds 3 heads: ashgrove, moonveil and stormcrest.",
                                    "They bring hd_el_m_ash.mdl (ashgrove) for the game's override folder.",
                                    "  would write override/hd_el_m_ash.mdl (new)",
                                    "Not a game folder headlink can install into: appearance.2da: not in the game folder",
                                    "To undo it, double-click headlink in this folder again."})
        EXPECT_NE(played.screen.find(said), std::string::npos) << said << "\n" << played.screen;
    EXPECT_EQ(gameFiles(where), gameFiles("expected"));

    played = playAt(dir_ / "pack", env, runner_, exe_, {{"? [y/N] ", "\x04"}});
    EXPECT_EQ(played.status, 1);
    EXPECT_NE(played.screen.find("This pack was installed into " + game.string() + " on "), std::string::npos)
        << played.screen;
    EXPECT_NE(played.screen.find("headlink: no answer: nothing was installed"), std::string::npos) << played.screen;
    played = playAt(dir_ / "pack", env, runner_, exe_, {{"Undo it? [y/N] ", "y"}});
    EXPECT_EQ(played.status, 0) << played.screen;
    EXPECT_EQ(tree(where), before);

    // The library file's older shape leads there too; --find-games says so.
    put("home/.local/share/Steam/steamapps/libraryfolders.vdf",
        "\"LibraryFolders\"\n{\n\t\"TimeNextStatsReport\"\t\t\"1\"\n\t\"1\"\t\t\"" + library.string() + "\"\n}\n");
    RunResult r = run("--find-games", "env " + env);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, game.string() + "\n");
    played = playAt(dir_ / "pack", env, runner_, exe_, {{question, "\x04"}});
    EXPECT_EQ(played.status, 1);
    EXPECT_NE(played.screen.find("headlink: no answer: nothing was installed"), std::string::npos) << played.screen;
    played = playAt(dir_ / "pack", env, runner_, exe_, {{question, "maybe"}});
    EXPECT_EQ(played.status, 0);
    EXPECT_NE(played.screen.find("Nothing was installed."), std::string::npos) << played.screen;
    EXPECT_EQ(tree(where), before);

    // Nobody at the terminal: nothing asked, one line saying what to run.
    r = run("", "cd pack && env " + env);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "headlink: this folder holds a pack of heads and none of the three tables: to install it, run "
                     "headlink --game DIR --heads PACK (DIR the game folder, PACK this folder)\n");
    EXPECT_EQ(run("--find-games", "env -u XDG_DATA_HOME HOME=/nonexistent").status, 1);
}

// The example pack, and Steam's library file naming `library` in its newer
// shape or its older.
const fs::path kExamplePack = fs::path(HEADLINK_EXPECTED_DIR).parent_path().parent_path() / "examples/pack";
std::string libraryFile(const fs::path& library, bool older) {
    if (older) return "\"LibraryFolders\"\n{\n\t\"TimeNextStatsReport\"\t\t\"1\"\n\t\"1\"\t\t\"" + library.string() + "\"\n}\n";
    return "\"libraryfolders\"\n{\n\t\"1\"\n\t{\n\t\t\"path\"\t\t\"" + library.string() + "\"\n\t}\n}\n";
}
const char* kNoSteam = "-u XDG_DATA_HOME HOME=/nonexistent";

GameLayout tablesOf(Kit& kit) {
    GameLayout layout;
    layout.archived = {{"appearance.2da", kit["appearance.2da"]}, {"portraits.2da", kit["portraits.2da"]},
                       {"heads.2da", kit["heads.2da"]}};
    return layout;
}

// One store's Linux layout: the key file, data and override folder in
// GAME/steamassets (in any case), the library file naming GAME's library.
// Found, taken by --game either way (and by twoda), typed by a player,
// reached from a pack inside GAME, and the next start there offered the undo.
TEST_F(GameFolders, AGameWhoseFilesAreInItsSteamassetsFolder) {
    if (underWine()) GTEST_SKIP() << "a Linux layout";
    Kit kit = exampleKit();
    const fs::path home = dir_ / "home", game = dir_ / "library/steamapps/common/TheGame", data = game / "SteamAssets";
    fs::create_directories(home / ".local/share/Steam/steamapps");
    fs::create_directories(data);
    ASSERT_TRUE(writeGameFolder(data.string(), tablesOf(kit)));
    fs::copy(kExamplePack, dir_ / "pack", fs::copy_options::recursive);
    for (bool older : {false, true}) {
        put("home/.local/share/Steam/steamapps/libraryfolders.vdf", libraryFile(dir_ / "library", older));
        const RunResult r = run("--find-games", "env -u XDG_DATA_HOME HOME='" + home.string() + "'");
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, data.string() + "\n") << older;
    }
    const std::string shown = "library/steamapps/common/TheGame";
    RunResult r = run("--game " + shown + " --heads pack -n");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(r.out.starts_with("the game's files are in " + shown + "/SteamAssets: headlink uses that folder\n"))
        << r.out;
    EXPECT_NE(r.out.find("would write override/hd_el_m_ash.mdl (new)"), std::string::npos) << r.out;
    r = run("--game " + shown + "/SteamAssets --heads pack -n");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.find("headlink uses that folder"), std::string::npos) << r.out;
    r = twoda("list --game " + shown);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("heads.2da"), std::string::npos) << r.out;

    const std::string question = "Install into " + data.string() + "? [y/N] ";
    Played played = playAt(dir_ / "pack", kNoSteam, runner_, exe_,
                           {{"Type the game folder (or drag it here): ", game.string()}, {question, "\x04"}});
    EXPECT_EQ(played.status, 1);
    EXPECT_NE(played.screen.find("The pack's heads go into " + data.string() + ":"), std::string::npos) << played.screen;

    fs::create_directories(game / "mods");
    fs::copy(kExamplePack, game / "mods/pack", fs::copy_options::recursive);
    const auto before = tree(shown);
    played = playAt(game / "mods/pack", kNoSteam, runner_, exe_, {{question, "y"}});
    EXPECT_EQ(played.status, 0) << played.screen;
    EXPECT_TRUE(fs::exists(data / "override/hd_el_m_ash.mdl"));
    played = playAt(game / "mods/pack", kNoSteam, runner_, exe_, {{"Undo it? [y/N] ", "y"}});
    EXPECT_EQ(played.status, 0) << played.screen;
    EXPECT_NE(played.screen.find("This pack was installed into " + data.string() + " on "), std::string::npos)
        << played.screen;
    EXPECT_EQ(tree(shown), before);
}

// Two packs whose only head folder has one name but other scripts: the
// second is not offered the first's undo; the first edited since, and a
// copy of it kept elsewhere, are. An install recorded before records named
// their pack is known by its heads' names, as it always was.
TEST_F(GameFolders, TheUndoOfferedIsThePackInstalled) {
    if (underWine()) GTEST_SKIP() << "the emulator's player is the start test's";
    Kit kit = exampleKit();
    const fs::path home = dir_ / "home", game = dir_ / "library/steamapps/common/TheGame";
    fs::create_directories(home / ".local/share/Steam/steamapps");
    fs::create_directories(game);
    ASSERT_TRUE(writeGameFolder(game.string(), tablesOf(kit)));
    put("home/.local/share/Steam/steamapps/libraryfolders.vdf", libraryFile(dir_ / "library", false));
    for (const auto& [pack, head] : {std::pair{"first", "ashgrove"}, {"second", "moonveil"}, {"copy", "ashgrove"}}) {
        fs::create_directories(dir_ / pack);
        fs::copy(kExamplePack / head, dir_ / pack / "ashgrove", fs::copy_options::recursive);
    }
    const std::string env = "-u XDG_DATA_HOME HOME='" + home.string() + "'";
    const std::string where = fs::relative(game, dir_).string(), question = "Install into " + game.string() + "? [y/N] ";
    const auto before = tree(where);
    Played played = playAt(dir_ / "first", env, runner_, exe_, {{question, "y"}});
    ASSERT_EQ(played.status, 0) << played.screen;
    const auto installed = tree(where);
    played = playAt(dir_ / "second", env, runner_, exe_, {{question, "\x04"}});
    EXPECT_EQ(played.screen.find("Undo it?"), std::string::npos) << played.screen;
    EXPECT_EQ(tree(where), installed);

    // The record without its pack line, as older ones are.
    std::string record;
    for (const auto& [name, bytes] : installed)
        if (name.ends_with("/record.txt")) record = name;
    ASSERT_FALSE(record.empty());
    std::string text = installed.at(record);
    const std::size_t line = text.find("\npack ");
    ASSERT_NE(line, std::string::npos) << text;
    put(where + "/" + record, text.substr(0, line) + text.substr(text.find('\n', line + 1)));
    played = playAt(dir_ / "second", env, runner_, exe_, {{"Undo it? [y/N] ", "n"}, {question, "\x04"}});
    EXPECT_EQ(played.status, 1) << played.screen;
    put(where + "/" + record, text);

    // The pack installed, one of its scripts edited since: known by its folder.
    const Bytes script = get("first/ashgrove/head.txt");
    put("first/ashgrove/head.txt", std::string(script.begin(), script.end()) + "\n");
    played = playAt(dir_ / "first", env, runner_, exe_, {{"Undo it? [y/N] ", "\x04"}});
    EXPECT_EQ(played.status, 1) << played.screen;
    put("first/ashgrove/head.txt", script);

    played = playAt(dir_ / "copy", env, runner_, exe_, {{"Undo it? [y/N] ", "y"}});
    EXPECT_EQ(played.status, 0) << played.screen;
    EXPECT_EQ(tree(where), before);
}

// A game folder, or its override folder, this user cannot write in: said
// before the plan and the question, by -n as what would fail, naming the
// folder and what to do; the game left as it was.
TEST_F(GameFolders, AFolderThisUserCannotWriteInIsSaidFirst) {
    if (!runner_.empty() && runner_.find("valgrind") == std::string::npos) GTEST_SKIP() << "needs a native run";
    Kit kit = exampleKit();
    ASSERT_TRUE(kitAndGame(kit));
    fs::create_directories(dir_ / "game/Override");
    fs::copy(kExamplePack, dir_ / "pack", fs::copy_options::recursive);
    const std::string prefix = asNobody();
    fs::permissions(dir_, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                              fs::perms::others_read | fs::perms::others_exec);
    const std::string what = prefix.empty() ? "it is read-only: change its permissions (chmod u+w)"
                                            : "it belongs to root, so run headlink as root or change its permissions";
    for (const std::string folder : {"game", "game/Override"}) {
        if (prefix.empty()) {
            fs::permissions(path(folder), fs::perms::owner_read | fs::perms::owner_exec);
        } else {
            ASSERT_EQ(std::system(("chown -R 65534:65534 '" + path("game") + "'").c_str()), 0);
            ASSERT_EQ(std::system(("chown 0:0 '" + path(folder) + "'").c_str()), 0);
        }
        const auto before = tree("game");
        RunResult r = run("--game game --heads pack -n", prefix);
        EXPECT_EQ(r.status, 1) << folder;
        EXPECT_NE(r.err.find("headlink: would fail: " + folder + ": headlink cannot write in this folder: " + what + "\n"),
                  std::string::npos)
            << r.err;
        r = run("--game game --heads pack", prefix);
        EXPECT_EQ(r.status, 1) << folder;
        EXPECT_EQ(r.err, "headlink: " + folder + ": headlink cannot write in this folder: " + what +
                             "; nothing was installed\n");
        EXPECT_EQ(r.out, "");
        const Played played = playAt(dir_ / "pack", std::string(kNoSteam) + " " + prefix, runner_, exe_,
                                     {{"Type the game folder (or drag it here): ", path("game")}});
        EXPECT_EQ(played.status, 1);
        EXPECT_NE(played.screen.find(path(folder) + ": headlink cannot write in this folder: " + what +
                                     "; nothing was installed"),
                  std::string::npos)
            << played.screen;
        EXPECT_EQ(played.screen.find("would write"), std::string::npos) << played.screen;
        EXPECT_EQ(played.screen.find("[y/N]"), std::string::npos) << played.screen;
        EXPECT_EQ(tree("game"), before);
        fs::permissions(path(folder), fs::perms::owner_all);
    }
}

// A dry run into a game says each warning once, on stderr; -q, none.
TEST_F(GameFolders, ADryRunSaysEachWarningOnce) {
    Kit kit = exampleKit();
    GameLayout layout = tablesOf(kit);
    layout.models = {{"hd_el_f01", 2002}};
    fs::create_directories(dir_ / "game");
    ASSERT_TRUE(writeGameFolder(path("game"), layout));
    fs::copy(kExamplePack, dir_ / "pack", fs::copy_options::recursive);
    RunResult r = run("--game game --heads pack -n");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find(": warning: "), std::string::npos) << r.err;
    EXPECT_EQ(r.out.find("warning"), std::string::npos) << r.out;
    for (std::size_t at = 0, end; (end = r.err.find('\n', at)) != std::string::npos; at = end + 1)
        EXPECT_EQ(r.err.find(r.err.substr(at, end + 1 - at), end), std::string::npos) << r.err;
    r = run("--game game --heads pack -n -q");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out.find("warning"), std::string::npos) << r.out;
}

// Head folders that are links: one to a folder deeper in the pack is a
// head of the link's name; one out of the pack, to nowhere or to another
// of its heads is refused, naming it, and nothing is installed.
TEST_F(GameFolders, HeadFoldersThatAreLinks) {
    if (underWine()) GTEST_SKIP() << "the emulator shows a link as what it leads to";
    Kit kit = exampleKit();
    ASSERT_TRUE(kitAndGame(kit));
    fs::copy(kExamplePack, dir_ / "pack", fs::copy_options::recursive);
    fs::create_directories(dir_ / "pack/kept");
    fs::copy(kExamplePack / "moonveil", dir_ / "pack/kept/moon", fs::copy_options::recursive);
    fs::copy(kExamplePack / "moonveil", dir_ / "elsewhere", fs::copy_options::recursive);
    const auto before = tree("game");
    const struct {
        const char* name;
        fs::path target;
        std::string why;  // "" for a head
    } cases[] = {
        {"linked", "kept/moon", ""},
        {"outside", dir_ / "elsewhere",
         "is a link to a folder outside the pack (" + fs::canonical(dir_ / "elsewhere").string() +
             "): copy the head's folder into the pack"},
        {"gone", "nowhere", "is a link that leads nowhere (No such file or directory): copy the head's folder into the pack"},
        {"twice", "moonveil", "is a link to its head moonveil, which would install it twice: remove the link"},
    };
    for (const auto& c : cases) {
        fs::create_directory_symlink(c.target, dir_ / "pack" / c.name);
        const RunResult r = run("--game game --heads pack");
        if (c.why.empty()) {
            EXPECT_EQ(r.status, 0) << r.err;
            std::string record;
            for (const auto& [name, bytes] : tree("game"))
                if (name.ends_with("/record.txt")) record = bytes;
            EXPECT_NE(record.find("\nheads ashgrove linked moonveil stormcrest\n"), std::string::npos) << record;
            EXPECT_EQ(run("--game game --uninstall").status, 0);
        } else {
            EXPECT_EQ(r.status, 1) << c.name;
            EXPECT_NE(r.err.find("headlink: " + std::string(c.name) + ": " + c.why + "\n"), std::string::npos) << r.err;
        }
        EXPECT_EQ(tree("game"), before) << c.name;
        fs::remove(dir_ / "pack" / c.name);
    }
}

#endif

}  // namespace
}  // namespace headlink::testing
