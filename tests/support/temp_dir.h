// A test fixture that gives each test a fresh folder of its own and removes
// it afterwards, with the few file helpers the tests that work on files share.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "tests/support/fixtures.h"

namespace headlink::testing {

class TempDir : public ::testing::Test {
protected:
    // The folder is named after the test, with a random part so that runs
    // in parallel (and leftovers of a killed run) never meet.
    void SetUp() override;
    // Removal is best effort: a test may have left something that cannot go.
    void TearDown() override;

    std::string path(const std::string& name) const { return (dir_ / name).string(); }
    // Writes `bytes` as the file `name` in the folder (making the folders
    // it names) and returns its path.
    std::string put(const std::string& name, const Bytes& bytes) const;
    std::string put(const std::string& name, const std::string& text) const {
        return put(name, Bytes(text.begin(), text.end()));
    }
    Bytes get(const std::string& name) const { return readBytes(dir_ / name); }
    bool has(const std::string& name) const { return std::filesystem::exists(dir_ / name); }
    // The names in the folder, sorted.
    std::vector<std::string> listing() const;
    // Everything under folder `name`: each file's path and bytes (as text,
    // for readable failures), and each folder's path with a '/' and no
    // bytes, and each symbolic link's target (never followed); for
    // comparing whole folders.
    std::map<std::string, std::string> tree(const std::string& name) const;

    std::filesystem::path dir_;
};

}  // namespace headlink::testing
