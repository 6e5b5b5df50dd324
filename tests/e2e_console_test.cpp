// End to end: the command line and the console streams: options, arguments
// that make no difference, --strict, --check-links, and streams that cannot
// be written.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#endif

#include "tests/support/end_to_end.h"

namespace headlink::testing {
namespace {

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

TEST_F(EndToEnd, CommandLine) {
    struct Case {
        std::string args;
        int status;
        std::string out;  // exact, or a prefix when it ends in "..."
        std::string err;
        bool writes;
    };
    auto kit = smallKit();
    kit["apphead1.txt"] = bytesOf("0 0 app1 011 v");  // one warning
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
    kit["portraits.txt"] = bytesOf("0 0 p 42 x");
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

// --strict fails a run on any warning, with or without -q, and writes
// nothing; a kit without warnings runs as usual.
TEST_F(EndToEnd, StrictFailsOnAWarningAndOnlyThen) {
    auto kit = smallKit();
    kit["apphead3.txt"] = bytesOf("0 0 app3 5 ****");
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
    kit["appearance.2da"] = gridTable(names("ac", 11), appearance);
    auto portrait = names("p", 9);
    portrait[2] = "4";
    portrait[7] = "0";
    portrait[8] = "-1";
    kit["portraits.2da"] = gridTable(names("pc", 9), {portrait});
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
    putAll(exampleKit());
    ASSERT_EQ(run().status, 0);
    r = run("--check-links --outputs");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
}

#ifndef _WIN32
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
#endif

}  // namespace
}  // namespace headlink::testing
