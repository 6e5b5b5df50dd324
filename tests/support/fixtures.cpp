#include "tests/support/fixtures.h"

#include <fstream>
#include <iterator>
#include <stdexcept>

#include "tests/support/table_builder.h"

namespace headlink::testing {

namespace fs = std::filesystem;

Bytes bytesOf(std::string_view text) { return Bytes(text.begin(), text.end()); }

Bytes readBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

bool writeBytes(const fs::path& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out.flush());
}

std::vector<std::string> names(const char* prefix, int n) {
    std::vector<std::string> out;
    for (int i = 0; i < n; ++i) out.push_back(prefix + std::to_string(i));
    return out;
}

const Bytes kFormatExample = {
    '2', 'D', 'A', ' ', 'B', 'I', 'N', '1', '\n',  // signature line
    'a', '\t', 'b', '\t',                          // column labels
    0x00,                                          // terminator, labelEnd 13
    0x02, 0x00,                                    // row count 2
    0x00, 0x00,                                    // upper half of the count
    '0', '\t', '1', '\t',                          // row labels; gridStart 22
    0x00, 0x00, 0x02, 0x00,                        // row 0: x y
    0x04, 0x00, 0x02, 0x00,                        // row 1: z y
    0x06, 0x00,                                    // pool-size field
    'x', 0, 'y', 0, 'z', 0};                       // pool, poolStart 32

Bytes exampleFile(const std::string& name) {
    Bytes bytes = readBytes(fs::path(HEADLINK_EXAMPLES_DIR) / name);
    if (bytes.empty()) throw std::runtime_error("cannot read example " + name);
    return bytes;
}

Kit exampleKit() {
    Kit kit;
    for (const char* name : kKitFiles) kit[name] = exampleFile(name);
    return kit;
}

Kit smallKit() {
    return {
        {"appearance.2da", gridTable(names("ac", 11), {names("a", 11), names("b", 11)})},
        {"heads.2da", gridTable({"label", "model"}, {{"h0", "m0"}, {"h1", "m1"}, {"h2", "m1"}})},
        {"portraits.2da", gridTable(names("pc", 9), {names("p", 9)})},
        {"head.txt", bytesOf("0 0 newhead 1 mnew")},
        {"apphead1.txt", bytesOf("0 0 app1")},
        {"apphead2.txt", bytesOf("1 0 app2")},
        {"apphead3.txt", bytesOf("0 0 app3")},
        {"portraits.txt", bytesOf("0 0 newportrait")},
    };
}

}  // namespace headlink::testing
