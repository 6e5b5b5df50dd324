// End to end: a game folder kept whole against what runs beside headlink
// and what its file system does: other runs holding its lock (native runs
// and Windows runs under the emulator alike), a lock left by a crash, files
// the undo cannot move, names at the file system's limits, and names that
// Windows takes for other files.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "tests/support/end_to_end.h"

namespace headlink::testing {
namespace {

#ifndef _WIN32
// A native run holding the game folder's lock until the test lets it go:
// it says "held" once it has the lock, and ends when its input closes.
struct Holder {
    pid_t pid = -1;
    int input = -1;
    std::string said;
};

Holder hold(const fs::path& folder, const char* mode) {
    int in[2], out[2];
    Holder holder;
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0) return holder;
    holder.pid = ::fork();
    if (holder.pid == 0) {
        ::dup2(in[0], 0);
        ::dup2(out[1], 1);
        ::execl(HOLD_LOCK_EXE, "hold_lock", folder.c_str(), mode, static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(in[0]);
    ::close(out[1]);
    holder.input = in[1];
    for (char c = 0; ::read(out[0], &c, 1) == 1 && c != '\n';) holder.said += c;
    ::close(out[0]);
    return holder;
}

int letGo(Holder& holder) {
    ::close(holder.input);
    int status = -1;
    ::waitpid(holder.pid, &status, 0);
    return status;
}

// One run at a time in a game folder. While a writer holds its lock, an
// install or an undo fails at once and a reader waits a while, then says
// so; while only readers hold it, an install says that, and readers go on
// together. The holder is a native run: under the emulator this is the
// Windows build seeing the native build's lock.
TEST_F(GameFolders, OneRunAtATimeInAGameFolder) {
    Kit kit = exampleKit();
    ASSERT_TRUE(kitAndGame(kit));
    const auto before = tree("game");
    const std::string busy = "game: another headlink is installing into or undoing in this game folder: "
                             "try again when it has finished\n";
    const std::string reading = "headlink: game: another headlink or twoda is reading this game folder: "
                                "try again once it has finished\n";
    Holder writer = hold(dir_ / "game", "exclusive");
    ASSERT_EQ(writer.said, "held");
    for (const char* args : {"--game game", "--game game --uninstall"}) {
        const RunResult r = run(args);
        EXPECT_EQ(r.status, 1) << args;
        EXPECT_EQ(r.err, "headlink: " + busy) << args;
    }
    const RunResult dry = run("--game game -n");
    EXPECT_EQ(dry.status, 1);
    EXPECT_EQ(dry.err, "headlink: " + busy);
    const RunResult links = run("--check-links --game game");
    EXPECT_EQ(links.status, 2);
    EXPECT_EQ(links.err, "headlink: " + busy);
    const RunResult listing = twoda("list --game game");
    EXPECT_EQ(listing.status, 2);
    EXPECT_EQ(listing.err, "twoda: " + busy);
    EXPECT_EQ(letGo(writer), 0);
    EXPECT_TRUE(tree("game") == before) << "the lock file outlived its holder";

    Holder reader = hold(dir_ / "game", "shared");
    ASSERT_EQ(reader.said, "held");
    const RunResult install = run("--game game");
    EXPECT_EQ(install.status, 1);
    EXPECT_EQ(install.err, reading);
    EXPECT_EQ(run("--game game -n").status, 0);
    Holder second = hold(dir_ / "game", "exclusive");
    EXPECT_EQ(second.said, "reading");
    EXPECT_EQ(letGo(second), 0);
    EXPECT_EQ(letGo(reader), 0);
    EXPECT_TRUE(tree("game") == before);
}

// A lock file that a crash or a power cut left behind is held by no one:
// readers go on at once, and a run takes it and removes it as it lets go. One that
// cannot be opened (a folder of that name) stops an install, changing
// nothing, and a reader goes on.
TEST_F(GameFolders, LeftLockFilesHoldNothingOff) {
    Kit kit = exampleKit();
    ASSERT_TRUE(kitAndGame(kit));
    const auto before = tree("game");
    put("game/.headlink.lock", std::string());
    const RunResult dry = run("--game game -n");
    EXPECT_EQ(dry.status, 0) << dry.err;
    EXPECT_TRUE(tree("game") == before) << "a reader left the lock file";
    put("game/.headlink.lock", std::string());
    RunResult r = run("--game game");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_FALSE(fs::exists(dir_ / "game" / ".headlink.lock"));
    ASSERT_EQ(run("--game game --uninstall").status, 0);
    EXPECT_TRUE(tree("game") == before);

    fs::create_directory(dir_ / "game" / ".headlink.lock");
    r = run("--game game");
    EXPECT_EQ(r.status, 1);
    const std::string says = "headlink: game: cannot take the lock .headlink.lock: ";
    EXPECT_EQ(r.err.substr(0, says.size()), says) << r.err;
    EXPECT_NE(r.err.find(": headlink changes a game folder only while it holds its lock, so nothing was changed; "
                         "if .headlink.lock there is a folder, move it away and try again\n"),
              std::string::npos)
        << r.err;
    EXPECT_FALSE(fs::exists(dir_ / "game" / "headlink-backups"));
    EXPECT_EQ(run("--game game -n").status, 0);
}

// An undo is all or none: when one of the files it would replace or remove
// cannot be moved (immutable here; the running game holding it open or the
// read-only attribute on Windows), it says which and what to do, and the
// game folder stays exactly as installed, its undo still to come.
TEST_F(GameFolders, AnUndoThatCannotMoveAFileChangesNothing) {
    Kit kit = exampleKit();
    ASSERT_TRUE(kitAndGame(kit));
    const auto before = tree("game");
    ASSERT_EQ(run("--game game").status, 0);
    const auto installed = tree("game");
    const std::string held = (dir_ / "game" / "override" / "portraits.2da").string();
    const std::string again = ": nothing was undone; ";
    const std::string then = " and run headlink --game game --uninstall again\n";
    if (underWine()) {
        fs::permissions(held, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                        fs::perm_options::remove);
        const RunResult r = run("--game game --uninstall");
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, "headlink: game: override/portraits.2da: it is read-only (clear Read-only in its Properties)" +
                             again + "change that" + then);
        fs::permissions(held, fs::perms::owner_write, fs::perm_options::add);
    } else if (std::system(("chattr +i '" + held + "' 2>/dev/null").c_str()) == 0) {
        const RunResult r = run("--game game --uninstall");
        ASSERT_EQ(std::system(("chattr -i '" + held + "'").c_str()), 0);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, "headlink: game: override/portraits.2da: it is marked immutable or append-only (lsattr shows "
                         "it; chattr -i -a clears it)" + again + "change that" + then);
    }
    EXPECT_TRUE(tree("game") == installed);
    // A move that fails once others have moved (the first rename writes
    // the record): each moved file goes back, and the record is as it was.
    if (!underWine()) {
        for (int n : {2, 3, 4}) {
            const RunResult r = run("--game game --uninstall",
                                    "strace -f -qq -o /dev/null -e trace=rename -e inject=rename:error=EBUSY:when=" +
                                        std::to_string(n));
            EXPECT_EQ(r.status, 1) << n;
            EXPECT_NE(r.err.find(": nothing was undone; run headlink --game game --uninstall again once that is "
                                 "mended\n"),
                      std::string::npos)
                << n << ": " << r.err;
            if (r.status != 1) break;
            EXPECT_TRUE(tree("game") == installed) << n;
        }
    }
    ASSERT_EQ(run("--game game --uninstall").status, 0);
    EXPECT_TRUE(tree("game") == before);
}
#endif

// Names at the file system's limits, and names Windows takes for others. A
// file a head brings whose name is as long as a name may be installs and is
// undone (its temporaries' names do not grow with it); a temporary whose
// name could never be made, in a record an older version left, is not in
// the undo's way. A name shaped like a Windows short name is refused.
TEST_F(GameFolders, NamesAtTheFileSystemsLimits) {
    Kit kit = exampleKit();
    ASSERT_TRUE(kitAndGame(kit));
    const auto before = tree("game");
    for (const char* script : {"head.txt", "apphead1.txt", "apphead2.txt", "apphead3.txt", "portraits.txt"})
        put(std::string("pack/moon/") + script, kit[script]);
    const std::string longest = std::string(251, 'm') + ".mdl";
    put("pack/moon/override/" + longest, std::string("a model"));
    RunResult r = run("--game game --heads pack");
    if (underWine()) {  // (Windows opens no path so long.)
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find("characters long, and Windows opens paths of at most 259: nothing was installed; shorten "
                             "its name, or move the game to a shorter path\n"),
                  std::string::npos)
            << r.err;
        EXPECT_TRUE(tree("game") == before);
    } else {
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(tree("game").at("override/" + longest), "a model");
        fs::path record;
        for (const auto& entry : fs::recursive_directory_iterator(dir_ / "game" / "headlink-backups"))
            if (entry.path().filename() == "record.txt") record = entry.path();
        const Bytes text = readBytes(record.string());
        std::string edited(text.begin(), text.end());
        const std::string tooLong = "temporary override/." + longest + ".headlink-0123456789abcdef.tmp\n";
        edited.insert(edited.find("complete\n"), tooLong);
        put(fs::relative(record, dir_).string(), edited);
        r = run("--game game --uninstall");
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_TRUE(tree("game") == before);
    }

    fs::remove_all(dir_ / "pack" / "moon" / "override");
    for (const char* alias : {"APPEAR~1.2DA", "appe~si4.2da", "HD~F.MDL"}) {
        put(std::string("pack/moon/override/") + alias, std::string("a table"));
        r = run("--game game --heads pack");
        EXPECT_EQ(r.status, 1) << alias;
        if (!underWine()) {
            EXPECT_EQ(r.err, "headlink: moon/override/" + std::string(alias) +
                                 ": its name could be the short name Windows gives another file (as APPEAR~1.2DA is "
                                 "appearance.2da's): rename it; nothing was installed\n");
        }
        EXPECT_TRUE(tree("game") == before) << alias;
        fs::remove(dir_ / "pack" / "moon" / "override" / alias);
    }
    put("pack/moon/override/hd~moon_x.mdl", std::string("a model"));
    EXPECT_EQ(run("--game game --heads pack").status, 0);
}

}  // namespace
}  // namespace headlink::testing
