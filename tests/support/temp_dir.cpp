#include "tests/support/temp_dir.h"

#include <algorithm>
#include <random>

namespace headlink::testing {

namespace fs = std::filesystem;

void TempDir::SetUp() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir_ = fs::temp_directory_path() / (std::string("headlink-") + info->test_suite_name() + "-" + info->name() +
                                        "-" + std::to_string(std::random_device{}()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
}

void TempDir::TearDown() {
    std::error_code ec;
    fs::remove_all(dir_, ec);
}

std::string TempDir::put(const std::string& name, const Bytes& bytes) const {
    fs::create_directories((dir_ / name).parent_path());
    writeBytes(dir_ / name, bytes);
    return path(name);
}

std::vector<std::string> TempDir::listing() const {
    std::vector<std::string> out;
    for (const auto& entry : fs::directory_iterator(dir_)) out.push_back(entry.path().filename().string());
    std::sort(out.begin(), out.end());
    return out;
}

std::map<std::string, std::string> TempDir::tree(const std::string& name) const {
    std::map<std::string, std::string> out;
    for (const auto& entry : fs::recursive_directory_iterator(dir_ / name)) {
        const std::string relative = fs::relative(entry.path(), dir_ / name).generic_string();
        // A symbolic link as itself: one turned into a copy must show.
        if (entry.is_symlink()) out[relative] = "symbolic link to " + fs::read_symlink(entry.path()).string();
        else if (entry.is_directory()) out[relative + "/"] = {};
        else {
            const Bytes bytes = readBytes(entry.path());
            out[relative].assign(bytes.begin(), bytes.end());
        }
    }
    return out;
}

}  // namespace headlink::testing
