// End-to-end tests: the real headlink executable run in temporary folders.
// HEADLINK_EXE names the executable and HEADLINK_RUNNER an optional command
// prefix to run it with, so the same tests check every build.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <atomic>
#include <tuple>

#include "table/table.h"
#include "tests/support/table_builder.h"
#include "tests/support/temp_dir.h"

#ifndef _WIN32
#include <fcntl.h>
#include <pty.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>
#endif

namespace headlink {
namespace {

namespace fs = std::filesystem;
using testing::Bytes;
using testing::readBytes;

std::string env(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

Bytes table(std::vector<std::string> columns, std::vector<std::vector<std::string>> cells) {
    testing::TableLayout layout;
    layout.columns = std::move(columns);
    layout.rowLabels = testing::numberedLabels(cells.size());
    layout.cells = std::move(cells);
    return testing::buildTable(layout);
}

std::vector<std::string> names(const char* prefix, int n) {
    std::vector<std::string> out;
    for (int i = 0; i < n; ++i) out.push_back(prefix + std::to_string(i));
    return out;
}

Bytes script(const std::string& text) { return Bytes(text.begin(), text.end()); }

// Three small tables with the columns the linking needs, and five scripts
// that each append a row.
std::map<std::string, Bytes> smallKit() {
    return {
        {"appearance.2da", table(names("ac", 11), {names("a", 11), names("b", 11)})},
        {"heads.2da", table({"label", "model"}, {{"h0", "m0"}, {"h1", "m1"}, {"h2", "m1"}})},
        {"portraits.2da", table(names("pc", 9), {names("p", 9)})},
        {"head.txt", script("0 0 newhead 1 mnew")},
        {"apphead1.txt", script("0 0 app1")},
        {"apphead2.txt", script("1 0 app2")},
        {"apphead3.txt", script("0 0 app3")},
        {"portraits.txt", script("0 0 newportrait")},
    };
}

Table loadTable(const Bytes& bytes) {
    Table t;
    std::string why;
    EXPECT_EQ(t.loadBytes(bytes, "t", &why), 0) << why;
    return t;
}

std::string cell(const Table& t, int32_t row, int32_t column) {
    std::string_view s;
    if (row >= t.rowCount() || column >= t.columnCount()) return "<no such cell>";
    if (!t.poolString(t.cellOffset(row, column), &s)) return "<bad offset>";
    return std::string(s);
}

struct RunResult {
    int status;
    std::string err;
    std::string out;
};

// A Windows build writes CR LF line ends on its console streams.
std::string withoutCr(const Bytes& bytes) {
    std::string text;
    for (std::size_t i = 0; i < bytes.size(); ++i)
        if (!(bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n')) text.push_back(static_cast<char>(bytes[i]));
    return text;
}

class EndToEnd : public testing::TempDir {
protected:
    void SetUp() override {
        TempDir::SetUp();
        exe_ = env("HEADLINK_EXE");
        ASSERT_FALSE(exe_.empty()) << "HEADLINK_EXE is not set";
        runner_ = env("HEADLINK_RUNNER");
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(dir_.string() + ".bin", ec);
        fs::remove(log("out"), ec);
        fs::remove(log("err"), ec);
        TempDir::TearDown();
    }

    void putAll(const std::map<std::string, Bytes>& files) const {
        for (const auto& [name, bytes] : files) put(name, bytes);
    }

    // Runs `exe` in the test folder; `shellPrefix` runs first in the same
    // shell. Both streams are kept as written.
    RunResult runProgram(const std::string& exe, const std::string& args, const std::string& shellPrefix) const {
        std::string command = "cd '" + dir_.string() + "' && " + shellPrefix + " " + runner_ + " '" + exe +
                              "' " + args + " </dev/null >'" + log("out") + "' 2>'" + log("err") + "'";
        int raw = std::system(command.c_str());
        RunResult r;
#ifdef _WIN32
        r.status = raw;
#else
        r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
#endif
        const Bytes err = readBytes(log("err")), out = readBytes(log("out"));
        r.err.assign(err.begin(), err.end());
        r.out.assign(out.begin(), out.end());
        fs::remove(log("out"));
        fs::remove(log("err"));
        return r;
    }

    // Runs headlink in the test folder; `shellPrefix` runs first in the same shell.
    RunResult run(const std::string& args = "", const std::string& shellPrefix = "") const {
        RunResult r = runProgram(exe_, args, shellPrefix);
        r.err = withoutCr(Bytes(r.err.begin(), r.err.end()));
        r.out = withoutCr(Bytes(r.out.begin(), r.out.end()));
        // Without -v or -n a run prints nothing on stdout, whatever happens.
        if (args.find("-") == std::string::npos) {
            EXPECT_EQ(r.out, "") << "headlink printed on stdout";
        }
        return r;
    }

    // Runs twoda (TWODA_EXE, or else the one built beside these tests, with
    // the same runner) in the test folder. Its stdout is compared as
    // written: twoda writes the same bytes on every system, CSV's CR LF
    // included.
    RunResult twoda(const std::string& args) const {
        RunResult r = runProgram(env("TWODA_EXE").empty() ? TWODA_BUILT_EXE : env("TWODA_EXE"), args, "");
        r.err = withoutCr(Bytes(r.err.begin(), r.err.end()));
        return r;
    }

    // headlink's output streams are caught beside the test folder, not in it.
    std::string log(const char* stream) const { return dir_.string() + "." + stream; }

    bool underWine() const { return runner_.find("wine") != std::string::npos; }
    std::vector<std::string> temporaries() const {
        std::vector<std::string> out;
        for (const std::string& name : listing())
            if (name.find(".headlink-") != std::string::npos) out.push_back(name);
        return out;
    }

#ifndef _WIN32
    // Starts headlink in the test folder without waiting for it. Its stderr
    // goes to `errFd` (or the err log); `pty` gives it a terminal of its own,
    // through which an emulator turns SIGINT into a console Ctrl-C.
    pid_t start(int errFd = -1, bool pty = false) const {
        const std::string command = "exec " + runner_ + " '" + exe_ + "'";
        int master = -1;
        pid_t pid = pty ? ::forkpty(&master, nullptr, nullptr, nullptr) : ::fork();
        if (pid == 0) {
            if (::chdir(dir_.c_str()) != 0) ::_exit(126);
            if (!pty) {
                int in = ::open("/dev/null", O_RDONLY);
                ::dup2(in, 0);
            }
            int out = ::open(log("out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            ::dup2(out, 1);
            if (errFd < 0) errFd = ::open(log("err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            ::dup2(errFd, 2);
            ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ptyMaster_ = master;
        return pid;
    }
    // Waits at most `seconds`; a run still going then has hung, and is killed.
    int finish(pid_t pid, int seconds = 60) const {
        int status = 0;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        while (::waitpid(pid, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline) {
                ::kill(pid, SIGKILL);
                ::waitpid(pid, &status, 0);
                ADD_FAILURE() << "headlink hung for " << seconds << " s";
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        if (ptyMaster_ >= 0) ::close(ptyMaster_);
        ptyMaster_ = -1;
        return status;
    }

    // As root, permissions do not stop us: such tests run headlink as an
    // unprivileged user instead, from a copy it can reach (the build tree may
    // lie in a private folder). Returns the command prefix for run(), or
    // nothing when we are not root.
    std::string asNobody() {
        if (::geteuid() != 0) return "";
        const fs::path bin = dir_.string() + ".bin";
        fs::create_directories(bin);
        fs::copy_file(exe_, bin / "headlink", fs::copy_options::overwrite_existing);
        fs::permissions(bin, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                 fs::perms::others_read | fs::perms::others_exec);
        exe_ = (bin / "headlink").string();
        return "setpriv --reuid=65534 --regid=65534 --clear-groups";
    }
#endif

    std::string exe_, runner_;
    mutable int ptyMaster_ = -1;
};

TEST_F(EndToEnd, LinksTheNewRowsAndLeavesInputsUntouched) {
    auto kit = smallKit();
    putAll(kit);
    RunResult r = run();
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    for (const auto& [name, bytes] : kit) EXPECT_EQ(get(name), bytes) << name;
    Table heads = loadTable(get("heads_updated.2da"));
    Table appearance = loadTable(get("appearance_updated.2da"));
    Table portraits = loadTable(get("portraits_updated.2da"));
    EXPECT_EQ(heads.rowCount(), 4);
    EXPECT_EQ(cell(heads, 3, 1), "mnew");
    ASSERT_EQ(appearance.rowCount(), 5);
    for (int32_t row = 2; row < 5; ++row) EXPECT_EQ(cell(appearance, row, 10), "3");
    EXPECT_EQ(cell(appearance, 3, 1), "b1");  // apphead2.txt copied row 1
    ASSERT_EQ(portraits.rowCount(), 2);
    EXPECT_EQ(cell(portraits, 1, 2), "3");
    EXPECT_EQ(cell(portraits, 1, 7), "2");
    EXPECT_EQ(cell(portraits, 1, 8), "4");
}

TEST_F(EndToEnd, ArgumentsMakeNoDifference) {
    auto kit = smallKit();
    putAll(kit);
    ASSERT_EQ(run().status, 0);
    Bytes first = get("portraits_updated.2da");
    fs::remove(dir_ / "portraits_updated.2da");
    RunResult r = run("heads.2da /nonexistent - -- --frob");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(get("portraits_updated.2da"), first);
}

TEST_F(EndToEnd, MissingInputWritesNothing) {
    auto kit = smallKit();
    kit.erase("heads.2da");
    kit.erase("portraits.2da");
    putAll(kit);
    RunResult r = run();
    EXPECT_EQ(r.status, 1);
    // Every table that cannot be read is reported, in order.
    EXPECT_EQ(r.err, "headlink: heads.2da: cannot open: No such file or directory\n"
                     "headlink: portraits.2da: cannot open: No such file or directory\n");
    EXPECT_EQ(listing(), (std::vector<std::string>{"appearance.2da", "apphead1.txt", "apphead2.txt",
                                                   "apphead3.txt", "head.txt", "portraits.txt"}));

    // Without the first table this is most likely the wrong folder: a hint
    // follows its error, and every missing script is listed too.
    fs::remove(dir_ / "appearance.2da");
    fs::remove(dir_ / "apphead2.txt");
    r = run();
    EXPECT_EQ(r.status, 1);
    const std::string hint = "headlink: hint: there is no appearance.2da in ";
    const std::string files = "; run headlink in the folder that holds appearance.2da, heads.2da, portraits.2da, "
                              "head.txt, apphead1.txt, apphead2.txt, apphead3.txt, and portraits.txt (or name that "
                              "folder with -C)\n";
    const std::string folder = underWine() ? r.err.substr(r.err.find(" in ") + 4, r.err.find("; run") - r.err.find(" in ") - 4)
                                           : fs::canonical(dir_).string();
    EXPECT_EQ(r.err, "headlink: appearance.2da: cannot open: No such file or directory\n" + hint + folder + files +
                         "headlink: heads.2da: cannot open: No such file or directory\n"
                         "headlink: portraits.2da: cannot open: No such file or directory\n"
                         "headlink: apphead2.txt: cannot open: No such file or directory\n");
}

TEST_F(EndToEnd, MalformedInputWritesNothing) {
    testing::TableLayout dangling;
    dangling.columns = {"label", "model"};
    dangling.rowLabels = testing::numberedLabels(2);
    dangling.rawPool = Bytes{'h', '0', 0, 'm', '0', 0};
    dangling.rawGrid = {0, 3, 0, 6};  // row 1's model points one past the pool
    testing::TableLayout upper;
    upper.columns = names("ac", 11);
    upper.rowLabels = testing::numberedLabels(1);
    upper.cells = {names("a", 11)};
    upper.upperRowCount = 1;  // 65,537 rows, which 16-bit offsets cannot hold
    Bytes cut = smallKit()["portraits.2da"];
    cut.resize(cut.size() - 40);  // into the grid
    const std::vector<std::tuple<std::string, Bytes, std::string>> cases = {
        {"portraits.2da", cut, "malformed: the cell grid of 1 rows x 9 columns runs past the end of the file"},
        {"heads.2da", testing::buildTable(dangling),
         "malformed: row 1, column 1 points outside the string pool (offset 6, pool of 6 bytes)"},
        {"appearance.2da", testing::buildTable(upper),
         "malformed: the row count's upper half is not zero (more than 65,535 rows, or a damaged file)"},
    };
    for (const auto& [name, bytes, reason] : cases) {
        auto kit = smallKit();
        kit[name] = bytes;
        putAll(kit);
        put("portraits_updated.2da", std::string("earlier output"));
        RunResult r = run();
        EXPECT_EQ(r.status, 1) << name;
        EXPECT_EQ(r.err, "headlink: " + name + ": " + reason + "\n");
        EXPECT_FALSE(has("appearance_updated.2da")) << name;
        EXPECT_FALSE(has("heads_updated.2da")) << name;
        EXPECT_EQ(get("portraits_updated.2da"), script("earlier output")) << name;
    }
}

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
    kit["appearance.2da"] = table(names("ac", 11), std::vector<std::vector<std::string>>(3000, names("v", 11)));
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
#endif

TEST_F(EndToEnd, DoesTheWholeJobOnTheExampleKit) {
    const fs::path kitDir = HEADLINK_EXAMPLES_DIR;
    std::map<std::string, Bytes> kit;
    for (const char* name : {"appearance.2da", "heads.2da", "portraits.2da", "head.txt", "apphead1.txt",
                             "apphead2.txt", "apphead3.txt", "portraits.txt"})
        kit[name] = readBytes(kitDir / name);
    putAll(kit);
    RunResult r = run();
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");  // not a warning on the example kit
    for (const auto& [name, bytes] : kit) EXPECT_EQ(get(name), bytes) << name;

    Table headsIn = loadTable(kit["heads.2da"]), heads = loadTable(get("heads_updated.2da"));
    Table appIn = loadTable(kit["appearance.2da"]), app = loadTable(get("appearance_updated.2da"));
    Table porIn = loadTable(kit["portraits.2da"]), por = loadTable(get("portraits_updated.2da"));

    // heads: one row appended from template row 1.
    ASSERT_EQ(heads.rowCount(), 31);
    EXPECT_EQ(cell(heads, 30, 0), "head_elf_f_moonveil");
    EXPECT_EQ(cell(heads, 30, 1), "hd_el_f_moon");
    EXPECT_EQ(cell(heads, 30, 3), cell(headsIn, 1, 3));  // unnamed cells follow the template
    // appearance: rows 40 and 41 appended; apphead3.txt found row 40 again.
    ASSERT_EQ(app.rowCount(), 42);
    EXPECT_EQ(cell(app, 40, 0), "ElfFemaleMoonveil");
    EXPECT_EQ(cell(app, 40, 11), "fast");
    EXPECT_EQ(cell(app, 41, 0), "ElfFemaleMoonveilCloaked");
    EXPECT_EQ(cell(app, 41, 4), "tex_el_moon");  // copied from row 40
    EXPECT_EQ(cell(app, 40, 10), "30");
    EXPECT_EQ(cell(app, 41, 10), "30");
    // portraits: row 32 linked to appearance rows 41 (main), 40 and 40.
    ASSERT_EQ(por.rowCount(), 33);
    EXPECT_EQ(cell(por, 32, 2), "41");
    EXPECT_EQ(cell(por, 32, 7), "40");
    EXPECT_EQ(cell(por, 32, 8), "40");
    // Existing rows are untouched, the pools only grew, and the pool-size
    // fields, the pools' lengths in the inputs, still are.
    for (int32_t c = 0; c < app.columnCount(); ++c) EXPECT_EQ(cell(app, 39, c), cell(appIn, 39, c));
    for (const auto& [in, out] : {std::pair{&headsIn, &heads}, {&appIn, &app}, {&porIn, &por}}) {
        EXPECT_GT(out->pool().size(), in->pool().size());
        EXPECT_TRUE(std::equal(in->pool().begin(), in->pool().end(), out->pool().begin()));
        EXPECT_EQ(in->poolSizeField(), in->pool().size());
        EXPECT_EQ(out->poolSizeField(), out->pool().size());
    }
    const Bytes out = get("heads_updated.2da");
    // New row labels are the rows' own indexes.
    const std::string headerOut(out.begin(), out.begin() + heads.gridStart());
    EXPECT_EQ(headerOut.substr(headerOut.size() - 7), "\t29\t30\t");
}

TEST_F(EndToEnd, HeadScriptMatchingAnExistingRowIsLinked) {
    auto kit = smallKit();
    kit["head.txt"] = script("0 1 M1");  // first row whose model is "m1": row 1
    putAll(kit);
    ASSERT_EQ(run().status, 0);
    EXPECT_EQ(get("heads_updated.2da"), kit["heads.2da"]);  // found, not added
    Table app = loadTable(get("appearance_updated.2da"));
    for (int32_t row = 2; row < 5; ++row) EXPECT_EQ(cell(app, row, 10), "1");
}

TEST_F(EndToEnd, AppearanceScriptsEndingOnOneRow) {
    auto kit = smallKit();
    kit["apphead1.txt"] = script("0 0 same");
    kit["apphead2.txt"] = script("1 0 SAME 3 x");
    kit["apphead3.txt"] = script("0 0 same\n");
    putAll(kit);
    ASSERT_EQ(run().status, 0);
    Table app = loadTable(get("appearance_updated.2da"));
    ASSERT_EQ(app.rowCount(), 3);
    EXPECT_EQ(cell(app, 2, 3), "x");
    EXPECT_EQ(cell(app, 2, 10), "3");
    Table por = loadTable(get("portraits_updated.2da"));
    for (int32_t column : {2, 7, 8}) EXPECT_EQ(cell(por, 1, column), "2");
}

TEST_F(EndToEnd, ScriptReportingRowZeroContinues) {
    auto kit = smallKit();
    kit["apphead1.txt"] = script("1 1 a1");  // row 0 holds "a1" in column 1
    kit["head.txt"] = script("0 1 m0");      // row 0 holds "m0" in column 1
    putAll(kit);
    RunResult r = run();
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(loadTable(get("heads_updated.2da")).rowCount(), 3);
    Table app = loadTable(get("appearance_updated.2da"));
    EXPECT_EQ(cell(app, 0, 10), "0");
    EXPECT_EQ(cell(loadTable(get("portraits_updated.2da")), 1, 7), "0");
}

// --strict fails a run on any warning, with or without -q, and writes
// nothing; a kit without warnings runs as usual.
TEST_F(EndToEnd, StrictFailsOnAWarningAndOnlyThen) {
    auto kit = smallKit();
    kit["apphead3.txt"] = script("0 0 app3 5 ****");
    putAll(kit);
    for (const char* args : {"--strict", "--strict -q"}) {
        RunResult r = run(args);
        EXPECT_EQ(r.status, 1) << args;
        EXPECT_EQ(r.err, "headlink: apphead3.txt: line 1: error: the value \"****\" is stored as those four "
                         "characters; in binary tables an empty cell is an empty text\n"
                         "headlink: nothing was written because of --strict: every warning above is an error\n");
        EXPECT_EQ(listing().size(), 8u) << args;
    }
    putAll(smallKit());
    RunResult r = run("--strict");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(loadTable(get("heads_updated.2da")).rowCount(), 4);
}

// --check-links lists link cells that name no row; a run's own rows pass.
TEST_F(EndToEnd, CheckLinksFindsLinksThatPointNowhere) {
    auto kit = smallKit();
    auto appearance = std::vector<std::vector<std::string>>(5, names("a", 11));
    const char* heads[] = {"1", "3", "01", "", "****"};  // heads has 3 rows
    for (std::size_t r = 0; r < 5; ++r) appearance[r][10] = heads[r];
    kit["appearance.2da"] = table(names("ac", 11), appearance);
    auto portrait = names("p", 9);
    portrait[2] = "4";
    portrait[7] = "0";
    portrait[8] = "-1";
    kit["portraits.2da"] = table(names("pc", 9), {portrait});
    putAll(kit);
    RunResult r = run("--check-links");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err,
              "headlink: appearance.2da: row 1 (label \"1\"): column 10 \"ac10\" = \"3\": no row 3 in heads.2da (3 rows)\n"
              "headlink: appearance.2da: row 2 (label \"2\"): column 10 \"ac10\" = \"01\": no row 01 in heads.2da (3 rows)\n"
              "headlink: portraits.2da: row 0 (label \"0\"): column 8 \"pc8\" = \"-1\": no row -1 in appearance.2da (5 rows)\n");
    EXPECT_EQ(listing().size(), 8u);  // read-only
    EXPECT_EQ(run("--check-links --outputs").status, 2);  // there are none yet

    fs::remove_all(dir_);
    fs::create_directories(dir_);
    for (const auto& entry : fs::directory_iterator(HEADLINK_EXAMPLES_DIR))
        if (entry.is_regular_file()) fs::copy_file(entry.path(), dir_ / entry.path().filename());
    ASSERT_EQ(run().status, 0);
    r = run("--check-links --outputs");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
}

// A name that differs by an extension a file browser hid is named in a hint.
TEST_F(EndToEnd, NearMissNamesGetAHint) {
    auto kit = smallKit();
    kit["appearance.2da.txt"] = kit["appearance.2da"];
    kit["head.txt.txt"] = kit["head.txt"];
    kit.erase("appearance.2da");
    kit.erase("head.txt");
    putAll(kit);
    RunResult r = run();
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "headlink: appearance.2da: cannot open: No such file or directory\n"
                     "headlink: appearance.2da: hint: the folder holds \"appearance.2da.txt\"; headlink opens exactly "
                     "\"appearance.2da\" (a file browser may hide an extension), so rename it\n"
                     "headlink: head.txt: cannot open: No such file or directory\n"
                     "headlink: head.txt: hint: the folder holds \"head.txt.txt\"; headlink opens exactly \"head.txt\" "
                     "(a file browser may hide an extension), so rename it\n");
}

TEST_F(EndToEnd, FailedOrMissingScriptWritesNothing) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"apphead3.txt", "headlink: apphead3.txt: cannot open: No such file or directory\n"},
        {"head.txt", "headlink: head.txt: cannot open: No such file or directory\n"},
    };
    for (const auto& [missing, message] : cases) {
        auto kit = smallKit();
        kit.erase(missing);
        putAll(kit);
        RunResult r = run();
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, message);
        for (const char* out : {"appearance_updated.2da", "heads_updated.2da", "portraits_updated.2da"})
            EXPECT_FALSE(has(out)) << out;
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    auto kit = smallKit();
    kit["portraits.txt"] = script("0 0 p\n42 x\n");
    putAll(kit);
    RunResult r = run();
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "headlink: portraits.txt: line 2: column 42 is out of range (portraits.2da has 9 columns)\n");
    EXPECT_FALSE(has("heads_updated.2da"));
}

TEST_F(EndToEnd, TooFewLinkColumnsWritesNothing) {
    auto kit = smallKit();
    kit["portraits.2da"] = table(names("pc", 8), {names("p", 8)});
    putAll(kit);
    RunResult r = run();
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "headlink: portraits.2da: has 8 columns, but linking writes into column 8 and so "
                     "needs at least 9\n");
    EXPECT_FALSE(has("heads_updated.2da"));

    kit = smallKit();
    kit["appearance.2da"] = table(names("ac", 10), {names("a", 10)});
    putAll(kit);
    r = run();
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "headlink: appearance.2da: has 10 columns, but linking writes into column 10 and so "
                     "needs at least 11\n");
    EXPECT_FALSE(has("heads_updated.2da"));
}

TEST_F(EndToEnd, SecondRunOnItsOwnOutputsAddsNothing) {
    putAll(smallKit());
    ASSERT_EQ(run().status, 0);
    std::map<std::string, Bytes> first;
    for (const char* name : {"appearance", "heads", "portraits"}) {
        first[name] = get(std::string(name) + "_updated.2da");
        fs::rename(dir_ / (std::string(name) + "_updated.2da"), dir_ / (std::string(name) + ".2da"));
    }
    RunResult r = run();
    ASSERT_EQ(r.status, 0) << r.err;
    // Every script finds the row it appended the first time, and the link
    // values are already in the pools: the outputs equal the inputs.
    for (const auto& [name, bytes] : first) EXPECT_EQ(get(name + "_updated.2da"), bytes) << name;
}

TEST_F(EndToEnd, ReportsWhatItDidOnTheExampleKit) {
    const fs::path kitDir = HEADLINK_EXAMPLES_DIR;
    fs::create_directory(dir_ / "kit");
    for (const auto& entry : fs::directory_iterator(kitDir)) {
        const std::string ext = entry.path().extension().string();
        if (ext == ".2da" || ext == ".txt") fs::copy_file(entry.path(), dir_ / "kit" / entry.path().filename());
    }
    const Bytes expected = readBytes(HEADLINK_EXPECTED_DIR "/example-report.txt");
    RunResult r = run("-v -C kit");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, std::string(expected.begin(), expected.end()));
    EXPECT_TRUE(fs::exists(dir_ / "kit" / "heads_updated.2da"));
}

// What twoda diff sees after a run on the example kit: exactly the rows
// headlink added and the cells it linked, as the README's worked example says.
TEST_F(EndToEnd, TwodaDiffShowsWhatHeadlinkDid) {
    for (const auto& entry : fs::directory_iterator(HEADLINK_EXAMPLES_DIR))
        if (entry.is_regular_file()) fs::copy_file(entry.path(), dir_ / entry.path().filename());
    ASSERT_EQ(run().status, 0);
    std::string seen;
    for (const char* name : {"heads", "appearance", "portraits"}) {
        const std::string table = name;
        RunResult r = twoda("diff " + table + ".2da " + table + "_updated.2da");
        EXPECT_EQ(r.status, 1) << name;
        EXPECT_EQ(r.err, "") << name;
        seen += "twoda diff " + table + ".2da " + table + "_updated.2da\n" + r.out;
    }
    const Bytes expected = readBytes(HEADLINK_EXPECTED_DIR "/example-diff.txt");
    EXPECT_EQ(seen, std::string(expected.begin(), expected.end()));
    RunResult same = twoda("diff heads.2da heads.2da");
    EXPECT_EQ(same.status, 0);
    EXPECT_EQ(same.out, "no differences in rows or cells\n");
}

// Every twoda command on one small table, and build writing safely.
TEST_F(EndToEnd, TwodaCommands) {
    testing::TableLayout layout;
    layout.columns = {"name", "note"};
    layout.rowLabels = {"0", "1"};
    layout.cells = {{"a", "two words"}, {"caf\xC3\xA9", ""}};
    const Bytes table = testing::buildTable(layout);
    put("t.2da", table);
    const std::string text = "2DA V2.0\n\n\tname\tnote\n0\ta\t\"two words\"\n1\tcaf\xC3\xA9\t****\n";
    put("t.txt", "2DA V2.0\n\nname note\n  0 a \"two words\"\n1 caf\xC3\xA9 ****\n");
    put("bad.txt", "2DA V2.0\n\nname note\n0 a b c\n");
    layout.rawPool = Bytes{'a', 0};
    layout.rawGrid = {0, 0, 0, 5};
    put("offsets.2da", testing::buildTable(layout));
    const struct {
        std::string args;
        int status;
        std::string out, err;
    } cases[] = {
        {"columns t.2da", 0, "0  name\n1  note\n", ""},
        {"show t.2da", 0, "row     name         note\n0    0  a            two words\n"
                          "1    1  caf\\xC3\\xA9  ****\n", ""},
        {"find t.2da name A", 1, "no row: a script keyed on column 0 (name) with \"A\" appends a new row, because "
         "its first copy in the pool is the pool's first string (offset 0), which lookups never match\n"
         "row 0 (0) holds it in that column through pool offset 0, which lookups do not see\n", ""},
        {"find t.2da note 'two words'", 2, "", "twoda: the key \"two words\" cannot be a script's key, which is "
         "one token: not empty, without white space\n"},
        {"csv t.2da", 0, ",name,note\r\n0,a,two words\r\n1,caf\xC3\xA9,\r\n", ""},
        {"text t.2da", 0, text, ""},
        {"build t.txt built.2da", 0, "", ""},
        {"build bad.txt nothing.2da", 1, "",
         "twoda: bad.txt: line 4: row \"0\": expected 2 values, one per column, found 3\n"},
        {"check t.2da", 0, "t.2da: valid: 2 rows, 2 columns, 19 pool bytes in 4 strings\n", ""},
        {"check offsets.2da", 1,
         "offsets.2da: malformed: row 1, column 1 points outside the string pool (offset 5, pool of 2 bytes)\n", ""},
        {"show offsets.2da", 1, "",
         "twoda: offsets.2da: malformed: row 1, column 1 points outside the string pool (offset 5, pool of 2 "
         "bytes)\n"},
        {"diff t.2da offsets.2da", 2, "",
         "twoda: offsets.2da: malformed: row 1, column 1 points outside the string pool (offset 5, pool of 2 "
         "bytes)\n"},
        {"--version", 0, "twoda " HEADLINK_VERSION "\n", ""},
        {"show", 2, "", "twoda: usage: twoda show FILE [ROWS]\nTry 'twoda --help'.\n"},
        {"frob t.2da", 2, "", "twoda: unknown command \"frob\"\nTry 'twoda --help'.\n"},
    };
    for (const auto& c : cases) {
        RunResult r = twoda(c.args);
        EXPECT_EQ(r.status, c.status) << c.args;
        EXPECT_EQ(r.out, c.out) << c.args;
        EXPECT_EQ(r.err, c.err) << c.args;
    }
    EXPECT_EQ(get("built.2da"), table);
    EXPECT_EQ(listing(), (std::vector<std::string>{"bad.txt", "built.2da", "offsets.2da", "t.2da", "t.txt"}));
}

TEST_F(EndToEnd, CommandLine) {
    struct Case {
        std::string args;
        int status;
        std::string out;  // exact, or a prefix when it ends in "..."
        std::string err;
        bool writes;
    };
    auto kit = smallKit();
    kit["apphead1.txt"] = script("0 0 app1 011 v");  // one warning
    const std::string dry = "appearance_updated.2da: 2 -> 5 rows, 5 new texts; not written (dry run)\n";
    const std::string warning = "headlink: apphead1.txt: line 1: warning: \"011\" is octal and reads as column 9 "
                                "(a leading 0 means octal)\n";
    const std::vector<Case> cases = {
        {"", 0, "", warning, true},
        {"-q", 0, "", "", true},
        {"--help", 0, "Usage: headlink [options] [ignored arguments...]\n...", "", false},
        {"-h -n", 0, "Usage: headlink...", "", false},
        {"--version", 0, "headlink " HEADLINK_VERSION "\n", "", false},
        {"--frob", 2, "", "headlink: unknown option '--frob'\nTry 'headlink --help'.\n", false},
        {"-v -C", 2, "", "headlink: option '-C' needs a folder\nTry 'headlink --help'.\n", false},
        {"-C nowhere", 2, "", "headlink: nowhere: cannot enter the folder: No such file or directory\n", false},
        {"-n -q", 0, "head.txt: heads row 3 (label \"3\") added...", "", false},
    };
    for (const auto& c : cases) {
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        putAll(kit);
        RunResult r = run(c.args);
        EXPECT_EQ(r.status, c.status) << c.args << ": " << r.err;
        const bool prefix = c.out.size() > 3 && c.out.compare(c.out.size() - 3, 3, "...") == 0;
        const std::size_t compared = prefix ? c.out.size() - 3 : std::string::npos;
        EXPECT_EQ(r.out.substr(0, compared), c.out.substr(0, compared)) << c.args;
        EXPECT_EQ(r.err, c.err) << c.args;
        EXPECT_EQ(has("heads_updated.2da"), c.writes) << c.args;
        if (c.writes) continue;
        // Nothing was written, not even a temporary, and the inputs are as they were.
        EXPECT_EQ(listing().size(), kit.size()) << c.args;
        for (const auto& [name, bytes] : kit) EXPECT_EQ(get(name), bytes) << c.args << ": " << name;
        if (c.args == "-n -q") {
            EXPECT_NE(r.out.find(dry), std::string::npos) << r.out;
            EXPECT_EQ(r.out.substr(r.out.size() - 29), "dry run: nothing was written\n");
        }
    }

    // A failed run still reports the steps that worked; the error follows on stderr.
    kit["portraits.txt"] = script("0 0 p 42 x");
    putAll(kit);
    RunResult r = run("-n -q");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "headlink: portraits.txt: line 1: column 42 is out of range (portraits.2da has 9 columns)\n");
    EXPECT_EQ(r.out.substr(0, 45), "head.txt: heads row 3 (label \"3\") added, a co");
    EXPECT_NE(r.out.find("\nlink: appearance row 3: 10 \"ac10\" = \"3\" (was \"b10\")\n"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("portraits.txt:"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.substr(r.out.size() - 29), "dry run: nothing was written\n");

#ifndef _WIN32
    // The report is all a dry run gives: losing it is a failure, not success.
    if (!runner_.empty()) return;
    putAll(smallKit());
    const std::string command = "cd '" + dir_.string() + "' && '" + exe_ + "' -n >/dev/full 2>'" + log("err") + "'";
    const int raw = std::system(command.c_str());
    EXPECT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 1) << raw;
    const Bytes err = readBytes(log("err"));
    EXPECT_EQ(std::string(err.begin(), err.end()), "headlink: standard output: cannot write the report\n");
    fs::remove(log("err"));
#endif
}

// With HEADLINK_REFERENCE_EXE set (the build of another platform), both
// builds must write identical bytes for the same inputs.
TEST_F(EndToEnd, OutputsMatchTheReferenceBuild) {
    const std::string reference = env("HEADLINK_REFERENCE_EXE");
    if (reference.empty()) GTEST_SKIP() << "HEADLINK_REFERENCE_EXE is not set";
    const fs::path kitDir = HEADLINK_EXAMPLES_DIR;
    auto example = smallKit();
    for (const auto& entry : fs::directory_iterator(kitDir)) {
        const std::string ext = entry.path().extension().string();
        if (ext == ".2da" || ext == ".txt") example[entry.path().filename().string()] = readBytes(entry.path());
    }
    // CR LF line ends, a NUL-cut value, and text after a 0x1A byte.
    auto crlf = smallKit();
    crlf["head.txt"] = script("0 0 newhead\r\n1 M0\r\n\x1A" "1 ignored\r\n");
    crlf["apphead1.txt"] = script(std::string("0 0 app1\r\n3 cut\0tail\r\n", 22));
    crlf["portraits.txt"] = script("0 0 p\r\n4 x\x1A");
    for (const auto& kit : {example, crlf}) {
        std::map<std::string, Bytes> outputs;
        for (const std::string& exe : {exe_, reference}) {
            fs::remove_all(dir_);
            fs::create_directories(dir_);
            putAll(kit);
            RunResult r;
            if (exe == reference) {
                std::string command = "cd '" + dir_.string() + "' && '" + reference + "' </dev/null";
                r.status = std::system(command.c_str());
            } else {
                r = run();
            }
            ASSERT_EQ(r.status, 0) << exe << ": " << r.err;
            for (const char* name : {"appearance_updated.2da", "heads_updated.2da", "portraits_updated.2da"}) {
                if (outputs.count(name)) EXPECT_EQ(get(name), outputs[name]) << name;
                else outputs[name] = get(name);
            }
        }
    }
}

TEST_F(EndToEnd, EmptyOrFolderInputsAreReported) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"heads.2da", "headlink: heads.2da: malformed: the file is empty\n"},
        {"apphead2.txt", "headlink: apphead2.txt: the script is empty\n"},
    };
    for (const auto& [name, message] : cases) {
        auto kit = smallKit();
        kit[name] = {};
        putAll(kit);
        RunResult r = run();
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, message);
        EXPECT_FALSE(has("heads_updated.2da"));
        EXPECT_FALSE(has("appearance_updated.2da"));
    }
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    auto kit = smallKit();
    kit.erase("appearance.2da");
    putAll(kit);
    fs::create_directory(dir_ / "appearance.2da");
    RunResult r = run();
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "headlink: appearance.2da: cannot open: it is a folder, not a file\n");
    EXPECT_EQ(listing().size(), 8u);
}

#ifndef _WIN32
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

TEST_F(EndToEnd, FifoSwappedInForAnInputDoesNotHang) {
    // While headlink runs, heads.2da keeps changing between a regular file
    // and a pipe; whichever it opens, it must not wait for a writer that
    // never comes.
    putAll(smallKit());
    const fs::path regular = dir_ / "regular", pipe = dir_ / "pipe", spare = dir_ / "spare";
    fs::rename(dir_ / "heads.2da", regular);
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0644), 0);
    const int tries = runner_.empty() ? 40 : 5;
    for (int i = 0; i < tries; ++i) {
        std::atomic<bool> done = false;
        std::thread swapper([&] {
            std::error_code ec;
            for (bool toPipe = false; !done; toPipe = !toPipe) {
                fs::remove(spare, ec);  // left when it was already heads.2da's file
                fs::create_hard_link(toPipe ? pipe : regular, spare, ec);
                fs::rename(spare, dir_ / "heads.2da", ec);
            }
        });
        const pid_t pid = start();
        const int status = finish(pid, 10);
        done = true;
        swapper.join();
        ASSERT_TRUE(WIFEXITED(status)) << "status " << status;
        EXPECT_LE(WEXITSTATUS(status), 1);
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

TEST_F(EndToEnd, ClosedStderrKeepsTheExitStatus) {
    auto kit = smallKit();
    kit.erase("heads.2da");
    putAll(kit);
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    ::close(fds[0]);  // nobody will read the message
    const pid_t pid = start(fds[1]);
    ::close(fds[1]);
    const int status = finish(pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << "status " << status;
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
}  // namespace headlink
