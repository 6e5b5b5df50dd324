// The files the tests, the fuzz seeds and the benchmarks start from: the
// example kit as shipped, the small kit, the table of the file-format
// example, and plain file and byte helpers. No test framework: make_seeds
// and the benchmarks use them too.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace headlink::testing {

using Bytes = std::vector<uint8_t>;

Bytes bytesOf(std::string_view text);

// The whole file, or nothing when it cannot be read.
Bytes readBytes(const std::filesystem::path& path);
// False when the file cannot be written whole.
bool writeBytes(const std::filesystem::path& path, const Bytes& bytes);

// prefix0, prefix1, ... n names in all.
std::vector<std::string> names(const char* prefix, int n);

// Columns a and b, rows 0 and 1 holding x y and z y, pool strings x, y, z:
// 38 bytes, laid out byte by byte.
extern const Bytes kFormatExample;

// A run's eight files by name.
using Kit = std::map<std::string, Bytes>;
// Their names in run order: the three tables, then the five scripts.
inline constexpr const char* kKitFiles[] = {"appearance.2da", "heads.2da",    "portraits.2da", "head.txt",
                                            "apphead1.txt",   "apphead2.txt", "apphead3.txt",  "portraits.txt"};

// A file of examples/ (such as "heads.2da" or "text/heads.2da"); throws
// std::runtime_error when it cannot be read.
Bytes exampleFile(const std::string& name);
// The eight files of the example kit in examples/.
Kit exampleKit();

// Three small tables with the columns the linking needs (appearance: 11
// columns ac0.., rows a0.. and b0..; heads: label, model with h0 m0, h1 m1,
// h2 m1; portraits: 9 columns pc0.., one row p0..), and five scripts that
// each append a row.
Kit smallKit();

}  // namespace headlink::testing
