// End-to-end tests: the real headlink executable run in temporary folders.
// HEADLINK_EXE names the executable and HEADLINK_RUNNER an optional command
// prefix to run it with, so the same tests check every build.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>

#include "table/table.h"
#include "tests/support/table_builder.h"

#ifndef _WIN32
#include <sys/wait.h>
#endif

namespace headlink {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

std::string env(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

Bytes table(std::vector<std::string> columns, std::vector<std::vector<std::string>> cells) {
    testing::TableSpec spec;
    spec.columns = std::move(columns);
    spec.rowLabels = testing::numberedLabels(cells.size());
    spec.cells = std::move(cells);
    return testing::buildTable(spec);
}

std::vector<std::string> names(const char* prefix, int n) {
    std::vector<std::string> out;
    for (int i = 0; i < n; ++i) out.push_back(prefix + std::to_string(i));
    return out;
}

// Three small tables with the columns the linking needs.
std::map<std::string, Bytes> smallKit() {
    return {
        {"appearance.2da", table(names("ac", 11), {names("a", 11), names("b", 11)})},
        {"heads.2da", table({"label", "model"}, {{"h0", "m0"}, {"h1", "m1"}, {"h2", "m1"}})},
        {"portraits.2da", table(names("pc", 9), {names("p", 9)})},
    };
}

struct RunResult {
    int status;
    std::string err;
};

class EndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        exe_ = env("HEADLINK_EXE");
        ASSERT_FALSE(exe_.empty()) << "HEADLINK_EXE is not set";
        runner_ = env("HEADLINK_RUNNER");
        auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        dir_ = fs::temp_directory_path() /
               (std::string("headlink-e2e-") + info->test_suite_name() + "-" + info->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }

    void put(const std::string& name, const Bytes& bytes) const {
        std::ofstream out(dir_ / name, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    void put(const std::string& name, const std::string& text) const { put(name, Bytes(text.begin(), text.end())); }
    void putAll(const std::map<std::string, Bytes>& files) const {
        for (const auto& [name, bytes] : files) put(name, bytes);
    }
    Bytes get(const std::string& name) const {
        std::ifstream in(dir_ / name, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }
    bool has(const std::string& name) const { return fs::exists(dir_ / name); }
    std::vector<std::string> listing() const {
        std::vector<std::string> out;
        for (const auto& entry : fs::directory_iterator(dir_)) out.push_back(entry.path().filename().string());
        std::sort(out.begin(), out.end());
        return out;
    }

    // Runs headlink in the test folder; `shellPrefix` runs first in the same shell.
    RunResult run(const std::string& args = "", const std::string& shellPrefix = "") const {
        std::string command = "cd '" + dir_.string() + "' && " + shellPrefix + " " + runner_ + " '" + exe_ +
                              "' " + args + " >stdout.log 2>stderr.log";
        int raw = std::system(command.c_str());
        RunResult r;
#ifdef _WIN32
        r.status = raw;
#else
        r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
#endif
        Bytes err = get("stderr.log");
        Bytes out = get("stdout.log");
        r.err.assign(err.begin(), err.end());
        EXPECT_TRUE(out.empty()) << "headlink printed on stdout";
        fs::remove(dir_ / "stdout.log");
        fs::remove(dir_ / "stderr.log");
        return r;
    }

    std::string exe_, runner_;
    fs::path dir_;
};

TEST_F(EndToEnd, WritesCopiesAndLeavesInputsUntouched) {
    auto kit = smallKit();
    putAll(kit);
    RunResult r = run();
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    for (const auto& [name, bytes] : kit) EXPECT_EQ(get(name), bytes) << name;
    EXPECT_EQ(get("appearance_updated.2da"), kit["appearance.2da"]);
    EXPECT_EQ(get("heads_updated.2da"), kit["heads.2da"]);
    EXPECT_EQ(get("portraits_updated.2da"), kit["portraits.2da"]);
}

TEST_F(EndToEnd, ArgumentsMakeNoDifference) {
    auto kit = smallKit();
    putAll(kit);
    RunResult r = run("heads.2da --help /nonexistent");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(get("heads_updated.2da"), kit["heads.2da"]);
}

TEST_F(EndToEnd, MissingInputWritesNothing) {
    auto kit = smallKit();
    kit.erase("heads.2da");
    kit.erase("portraits.2da");
    putAll(kit);
    RunResult r = run();
    EXPECT_EQ(r.status, 1);
    // Only the first failure is reported: loading stops there.
    EXPECT_EQ(r.err, "headlink: heads.2da: cannot open: No such file or directory\n");
    EXPECT_EQ(listing(), (std::vector<std::string>{"appearance.2da"}));
}

TEST_F(EndToEnd, MalformedInputWritesNothing) {
    auto kit = smallKit();
    Bytes& portraits = kit["portraits.2da"];
    portraits.resize(portraits.size() - 40);  // cut into the grid
    putAll(kit);
    put("portraits_updated.2da", std::string("earlier output"));
    RunResult r = run();
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "headlink: portraits.2da: malformed: the cell grid of 1 rows x 9 columns "
                     "runs past the end of the file\n");
    EXPECT_FALSE(has("appearance_updated.2da"));
    EXPECT_FALSE(has("heads_updated.2da"));
    EXPECT_EQ(get("portraits_updated.2da"), Bytes({'e', 'a', 'r', 'l', 'i', 'e', 'r', ' ', 'o', 'u', 't', 'p', 'u', 't'}));
}

TEST_F(EndToEnd, OutputBlockedByAFolderDoesNotStopTheOthers) {
    auto kit = smallKit();
    putAll(kit);
    fs::create_directory(dir_ / "heads_updated.2da");
    RunResult r = run();
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "headlink: heads_updated.2da: cannot write: a folder of this name is in the way\n");
    EXPECT_TRUE(fs::is_directory(dir_ / "heads_updated.2da"));
    EXPECT_EQ(get("appearance_updated.2da"), kit["appearance.2da"]);
    EXPECT_EQ(get("portraits_updated.2da"), kit["portraits.2da"]);
}

#ifndef _WIN32
TEST_F(EndToEnd, FileSizeLimitLeavesEarlierOutputIntact) {
    if (!runner_.empty()) GTEST_SKIP() << "the limit would apply to the runner too";
    auto kit = smallKit();
    // An appearance table well past the 1-block (512-byte) limit below.
    std::vector<std::vector<std::string>> rows;
    for (int r = 0; r < 40; ++r) rows.push_back(names(("v" + std::to_string(r) + "_").c_str(), 11));
    kit["appearance.2da"] = table(names("ac", 11), rows);
    putAll(kit);
    put("appearance_updated.2da", std::string("earlier output"));
    RunResult r = run("", "ulimit -f 1 &&");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "headlink: appearance_updated.2da: cannot write: File too large\n");
    EXPECT_EQ(get("appearance_updated.2da"), Bytes({'e', 'a', 'r', 'l', 'i', 'e', 'r', ' ', 'o', 'u', 't', 'p', 'u', 't'}));
    // The small tables fit under the limit and are written.
    EXPECT_EQ(get("heads_updated.2da"), kit["heads.2da"]);
    EXPECT_EQ(listing(), (std::vector<std::string>{"appearance.2da", "appearance_updated.2da", "heads.2da",
                                                   "heads_updated.2da", "portraits.2da",
                                                   "portraits_updated.2da"}));
}

TEST_F(EndToEnd, OutputsGetThePermissionsOfAPlainCreate) {
    putAll(smallKit());
    RunResult r = run("", "umask 027 &&");
    EXPECT_EQ(r.status, 0);
    auto perms = fs::status(dir_ / "heads_updated.2da").permissions();
    EXPECT_EQ(perms, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}
#endif

}  // namespace
}  // namespace headlink
