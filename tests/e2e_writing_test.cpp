// End to end: what is left on disk when writing fails or is cut short. The
// three outputs are written together or not at all, keep the earlier ones
// otherwise, and leave no temporary: blocked or read-only outputs, a full
// disk, an unwritable folder, signals, leftovers of earlier runs, and too
// little memory.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#ifndef _WIN32
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#endif

#include "tests/support/end_to_end.h"
#include "tests/support/game_folder.h"

namespace headlink::testing {
namespace {

// The outputs are one linked set: one that cannot be written leaves all
// three earlier outputs as they were, and no temporary.
TEST_F(EndToEnd, ABlockedOutputLeavesAllThreeEarlierOutputs) {
    const std::string none = "headlink: none of the three outputs was written (they are written together or not at all)\n";
    const std::string readOnly = ": cannot write: the existing file is read-only\n";
    const struct {
        std::vector<std::string> folders, readOnly;
        std::string err;
    } cases[] = {
        {{"heads_updated.2da"}, {}, "headlink: heads_updated.2da: cannot write: a folder of this name is in the way\n" + none},
        {{}, {"portraits_updated.2da"}, "headlink: portraits_updated.2da" + readOnly + none},
        {{"appearance_updated.2da"}, {"heads_updated.2da", "portraits_updated.2da"},
         "headlink: appearance_updated.2da: cannot write: a folder of this name is in the way\n"
         "headlink: heads_updated.2da" + readOnly + "headlink: portraits_updated.2da" + readOnly + none},
    };
    const char* outputs[] = {"appearance_updated.2da", "heads_updated.2da", "portraits_updated.2da"};
    for (const auto& c : cases) {
        putAll(smallKit());
        for (const char* name : outputs) put(name, std::string("earlier ") + name);
        for (const std::string& name : c.folders) {
            fs::remove(dir_ / name);
            fs::create_directory(dir_ / name);
        }
        for (const std::string& name : c.readOnly) fs::permissions(dir_ / name, fs::perms::owner_read | fs::perms::group_read);
        RunResult r = run();
        EXPECT_EQ(r.status, 1) << c.err;
        EXPECT_EQ(r.err, c.err);
        for (const char* name : outputs) {
            if (fs::is_directory(dir_ / name)) continue;
            const std::string earlier = std::string("earlier ") + name;
            EXPECT_EQ(get(name), Bytes(earlier.begin(), earlier.end())) << c.err;
        }
        EXPECT_TRUE(temporaries().empty()) << c.err;
        for (const char* name : outputs) {
            fs::permissions(dir_ / name, fs::perms::owner_write, fs::perm_options::add);
            fs::remove_all(dir_ / name);
        }
    }
}

#ifndef _WIN32
// A write that fails half-way keeps every earlier output and leaves no
// temporary. It fails in two ways: past a file
// size limit (natively: under a runner the limit would apply to the runner
// too), and on a full disk, a small file system mounted on the test folder
// (as root, under every runner).
TEST_F(EndToEnd, FailedWriteLeavesEarlierOutputAndNoTemporary) {
    auto kit = smallKit();
    // An appearance table of about 80 KB: past the 1-block (512-byte) limit,
    // and more than the small file system holds beside the inputs.
    kit["appearance.2da"] = gridTable(names("ac", 11), std::vector<std::vector<std::string>>(3000, names("v", 11)));
    const std::vector<std::string> expectedFiles = {
        "appearance.2da", "appearance_updated.2da", "apphead1.txt", "apphead2.txt", "apphead3.txt", "head.txt",
        "heads.2da", "heads_updated.2da", "portraits.2da", "portraits.txt", "portraits_updated.2da"};
    auto check = [&](const std::string& prefix, const std::string& reason) {
        putAll(kit);
        for (const char* name : {"appearance_updated.2da", "heads_updated.2da", "portraits_updated.2da"})
            put(name, std::string("earlier"));
        RunResult r = run("", prefix);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, "headlink: appearance_updated.2da: cannot write: " + reason + "\n" + "headlink: none of the three outputs was written (they are written together or not at all)\n");
        for (const char* name : {"appearance_updated.2da", "heads_updated.2da", "portraits_updated.2da"})
            EXPECT_EQ(get(name), Bytes({'e', 'a', 'r', 'l', 'i', 'e', 'r'})) << name;
        EXPECT_EQ(listing(), expectedFiles);  // no temporary among them
    };
    if (runner_.empty()) check("ulimit -f 1 &&", "File too large");
    if (::geteuid() != 0) GTEST_SKIP() << "mounting a small file system needs root";
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    const std::string mount = "mount -t tmpfs -o size=128k tmpfs '" + dir_.string() + "' 2>/dev/null";
    if (std::system(mount.c_str()) != 0) GTEST_SKIP() << "cannot mount a file system here";
    struct Unmount {
        std::string command;
        ~Unmount() { EXPECT_EQ(std::system(command.c_str()), 0) << command; }
    } unmount{"umount '" + dir_.string() + "'"};
    check("", "No space left on device");
}

TEST_F(EndToEnd, OutputsGetThePermissionsOfAPlainCreate) {
    if (!runner_.empty()) GTEST_SKIP() << "file modes are the runner's business";
    putAll(smallKit());
    RunResult r = run("", "umask 027 &&");
    EXPECT_EQ(r.status, 0);
    auto perms = fs::status(dir_ / "heads_updated.2da").permissions();
    EXPECT_EQ(perms, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

TEST_F(EndToEnd, UnwritableFolderOrOutputIsReported) {
    if (!runner_.empty() && runner_.find("valgrind") == std::string::npos)
        GTEST_SKIP() << "needs a native run";
    putAll(smallKit());
    put("heads_updated.2da", std::string("earlier"));
    const std::string prefix = asNobody();
    const auto readable = fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                          fs::perms::others_read | fs::perms::others_exec;
    fs::permissions(dir_, prefix.empty() ? fs::perms::owner_read | fs::perms::owner_exec : readable);
    RunResult r = run("", prefix);
    fs::permissions(dir_, fs::perms::owner_all);
    EXPECT_EQ(r.status, 1);
    // The earlier output is someone else's (or ours, read-only by folder).
    const std::string none = "headlink: none of the three outputs was written (they are written together or not at all)\n";
    const std::string notYours = "headlink: heads_updated.2da: cannot write: the existing file is not writable by you\n";
    EXPECT_EQ(r.err, (prefix.empty() ? "headlink: appearance_updated.2da: cannot create: Permission denied\n" : notYours) + none);
    EXPECT_EQ(get("heads_updated.2da"), Bytes({'e', 'a', 'r', 'l', 'i', 'e', 'r'}));
    EXPECT_EQ(listing().size(), 9u);

    // In a folder anyone may write to, a rename would replace another
    // user's file; a plain create could not, and neither may we.
    if (prefix.empty()) return;
    fs::permissions(dir_, fs::perms::all);
    r = run("", prefix);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, notYours + none);
    EXPECT_EQ(get("heads_updated.2da"), Bytes({'e', 'a', 'r', 'l', 'i', 'e', 'r'}));
    struct stat info {};
    ASSERT_EQ(::stat((dir_ / "heads_updated.2da").c_str(), &info), 0);
    EXPECT_EQ(info.st_uid, 0u);
    EXPECT_FALSE(has("appearance_updated.2da"));
    EXPECT_TRUE(temporaries().empty());
}

TEST_F(EndToEnd, InterruptedWriteLeavesNoTemporary) {
    // An appearance table of 65,000 rows x 100 columns: a 13 MB output, long
    // enough to be caught while it is being written.
    testing::TableLayout big;
    big.columns = names("ac", 100);
    big.rowLabels = testing::numberedLabels(65000);
    big.rawPool = Bytes{'v', 0, 'w', 0};
    big.rawGrid.assign(65000 * 100, 2);
    auto kit = smallKit();
    kit["appearance.2da"] = testing::buildTable(big);
    putAll(kit);
    // An emulated Windows program hears only Ctrl-C, through its terminal.
    const std::vector<int> signals = underWine() ? std::vector<int>{SIGINT}
                                                 : std::vector<int>{SIGINT, SIGTERM, SIGHUP};
    for (int sig : signals) {
        bool caught = false;
        for (int attempt = 0; attempt < 20 && !caught; ++attempt) {
            for (const char* out : {"appearance_updated.2da", "heads_updated.2da", "portraits_updated.2da"})
                fs::remove(dir_ / out);
            const pid_t pid = start(-1, true);
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
            while (temporaries().empty() && ::waitpid(pid, nullptr, WNOHANG) == 0 &&
                   std::chrono::steady_clock::now() < deadline) {
            }
            caught = !temporaries().empty();
            if (caught) ::kill(pid, sig);
            const int status = finish(pid);
            if (!caught) continue;
            EXPECT_TRUE(temporaries().empty()) << "signal " << sig;
            if (!underWine()) {
                EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << "signal " << sig;
            }
        }
        EXPECT_TRUE(caught) << "no run was caught writing, for signal " << sig;
    }
    EXPECT_EQ(get("appearance.2da"), kit["appearance.2da"]);
}

// An install interrupted while it saves its backups, and while it writes
// into the game: each says on its way out what it left and what to run,
// ends by the signal, and an undo gives the game as it was.
TEST_F(EndToEnd, InterruptedInstallSaysWhatToRun) {
    testing::TableLayout big;  // 13 MB, as above: long enough to be caught
    big.columns = names("ac", 100);
    big.rowLabels = testing::numberedLabels(65000);
    big.rawPool = Bytes{'v', 0, 'w', 0};
    big.rawGrid.assign(65000 * 100, 2);
    auto kit = smallKit();
    GameLayout game;
    game.overridden = {{"appearance.2da", testing::buildTable(big)}, {"heads.2da", kit["heads.2da"]},
                       {"portraits.2da", kit["portraits.2da"]}};
    for (const char* script : {"head.txt", "apphead1.txt", "apphead2.txt", "apphead3.txt", "portraits.txt"})
        put(script, kit[script]);
    // A temporary below the game folder whose path begins with `where`.
    auto writing = [&](const std::string& where) {
        std::error_code ec;
        for (fs::recursive_directory_iterator it(dir_ / "game", ec), end; !ec && it != end; it.increment(ec))
            if (it->path().lexically_relative(dir_ / "game").generic_string().starts_with(where) &&
                it->path().filename().string().find(".headlink-") != std::string::npos && it->is_regular_file(ec))
                return true;
        return false;
    };
    const struct {
        const char* folder;
        const char* says;
    } moments[] = {
        // (The first install's backups folder is built under a temporary name.)
        {".headlink-", "headlink: interrupted: nothing was installed\n"},
        {"Override/", "headlink: interrupted: run headlink --game game --uninstall to put the game folder back as it was\n"},
    };
    for (const auto& moment : moments) {
        bool caught = false;
        for (int attempt = 0; attempt < 20 && !caught; ++attempt) {
            fs::remove_all(dir_ / "game");
            fs::create_directory(dir_ / "game");
            ASSERT_TRUE(writeGameFolder(path("game"), game));
            const auto before = tree("game");
            const pid_t pid = start(-1, true, "--game game");
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
            while (!writing(moment.folder) && ::waitpid(pid, nullptr, WNOHANG) == 0 &&
                   std::chrono::steady_clock::now() < deadline) {
            }
            const bool seen = writing(moment.folder);
            if (seen) ::kill(pid, SIGINT);
            const int status = finish(pid);
            if (!seen) continue;
            const Bytes bytes = readBytes(log("err"));
            std::string err(bytes.begin(), bytes.end());
            std::erase(err, '\r');
            // Under an emulator the signal may arrive a step later; whatever
            // the run says must then be true of what it left.
            caught = underWine() ? !err.empty() : err == moment.says;
            if (!underWine()) {
                EXPECT_EQ(err, moment.says);
                EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT);
            } else if (!err.empty()) {  // (else it had finished)
                EXPECT_TRUE(err == moments[0].says || err == moments[1].says) << err;
            }
            auto game = tree("game");
            // (What the install keeps of its own, and the first one's folder under a temporary's name.)
            std::erase_if(game, [](const auto& entry) {
                return entry.first.find("headlink-backups") != std::string::npos || entry.first.starts_with(".headlink-");
            });
            if (err == moments[0].says) {
                EXPECT_TRUE(game == before) << "nothing was installed, but the game's files changed";
            }
            if (tree("game") != before) {
                EXPECT_EQ(run("--game game --uninstall").status, 0);
            }
            EXPECT_TRUE(tree("game") == before) << "an undo did not give back the game as it was";
        }
        EXPECT_TRUE(caught) << "no install was caught writing in " << moment.folder;
    }
}

TEST_F(EndToEnd, LeftoverTemporariesDoNotBlockTheRun) {
    // A hundred leftovers under each name a guessable scheme could pick: the
    // process id of this run (which the shell passes on through exec), 1
    // (every run in a container) and 32 (every run under an emulator).
    putAll(smallKit());
    for (int i = 0; i < 100; ++i) put(".heads_updated.2da.headlink-" + std::to_string(i) + ".tmp", std::string("x"));
    const std::string leftovers =
        "for i in $(seq 0 99); do for p in $$ 1 32; do : >\"heads_updated.2da.$p-$i.tmp\"; done; done; exec";
    RunResult r = run("", leftovers);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(loadTable(get("heads_updated.2da")).rowCount(), 4);
    EXPECT_EQ(listing().size(), 11u + 400u);  // every leftover is still there, and only those
}

TEST_F(EndToEnd, RunningOutOfMemoryIsReported) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the address sanitizer needs more address space than the limit gives";
#endif
    if (!runner_.empty()) GTEST_SKIP() << "the limit would apply to the runner too";
    auto kit = smallKit();
    putAll(kit);
    // A sparse 1.5 GB table: no disk used, but far more than 200 MB of memory to read.
    fs::resize_file(dir_ / "appearance.2da", 1500u << 20);
    RunResult r = run("", "ulimit -v 200000 &&");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "headlink: appearance.2da: not enough memory\n");
    EXPECT_FALSE(has("heads_updated.2da"));
}
#endif

}  // namespace
}  // namespace headlink::testing
