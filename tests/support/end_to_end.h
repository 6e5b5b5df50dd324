// The fixture of the end-to-end tests: the real headlink executable run in
// temporary folders. HEADLINK_EXE names the executable and HEADLINK_RUNNER an
// optional command prefix to run it with, so the same tests check every
// build (natively, under an emulator, under valgrind).
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#ifndef _WIN32
#include <sys/types.h>
#endif

#include "tests/support/fixtures.h"
#include "tests/support/game_folder.h"
#include "tests/support/table_builder.h"
#include "tests/support/table_checks.h"
#include "tests/support/temp_dir.h"

namespace headlink::testing {

namespace fs = std::filesystem;

// The variable's value, or "" when it is not set.
std::string env(const char* name);

struct RunResult {
    int status;
    std::string err;
    std::string out;
};

class EndToEnd : public TempDir {
protected:
    void SetUp() override;
    void TearDown() override;

    void putAll(const std::map<std::string, Bytes>& files) const {
        for (const auto& [name, bytes] : files) put(name, bytes);
    }

    // Runs `exe` in the test folder; `shellPrefix` runs first in the same
    // shell. Both streams are kept as written.
    RunResult runProgram(const std::string& exe, const std::string& args, const std::string& shellPrefix) const;
    // Runs headlink in the test folder; `shellPrefix` runs first in the same shell.
    RunResult run(const std::string& args = "", const std::string& shellPrefix = "") const;
    // Runs twoda (TWODA_EXE, or else the one built beside these tests, with
    // the same runner) in the test folder. Its stdout is compared as
    // written: twoda writes the same bytes on every system, CSV's CR LF
    // included.
    RunResult twoda(const std::string& args) const;

    // headlink's output streams are caught beside the test folder, not in it.
    std::string log(const char* stream) const { return dir_.string() + "." + stream; }

    bool underWine() const { return runner_.find("wine") != std::string::npos; }
    // Temporary outputs headlink left in the folder.
    std::vector<std::string> temporaries() const;

#ifndef _WIN32
    // Starts headlink in the test folder without waiting for it. Its stderr
    // goes to `errFd` (or the err log); `pty` gives it a terminal of its own,
    // through which an emulator turns SIGINT into a console Ctrl-C. `args`
    // go on its command line.
    pid_t start(int errFd = -1, bool pty = false, const std::string& args = "") const;
    // Waits at most `seconds`; a run still going then has hung, and is killed.
    int finish(pid_t pid, int seconds = 60) const;

    // As root, permissions do not stop us: such tests run headlink as an
    // unprivileged user instead, from a copy it can reach (the build tree may
    // lie in a private folder). Returns the command prefix for run(), or
    // nothing when we are not root.
    std::string asNobody();
#endif

    std::string exe_, runner_;
    mutable int ptyMaster_ = -1;
};

// A game folder ("game") whose tables are the kit's, in its archive, and
// the kit's five scripts in the test folder.
class GameFolders : public EndToEnd {
protected:
    bool kitAndGame(Kit& kit) const {
        for (const char* script : {"head.txt", "apphead1.txt", "apphead2.txt", "apphead3.txt", "portraits.txt"})
            put(script, kit[script]);
        GameLayout game;
        game.archived = {{"appearance.2da", kit["appearance.2da"]}, {"portraits.2da", kit["portraits.2da"]},
                         {"heads.2da", kit["heads.2da"]}};
        return writeGameFolder(path("game"), game);
    }
};

}  // namespace headlink::testing
