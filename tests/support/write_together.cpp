// Writes COUNT small files into FOLDER together, through the same writer as
// the programs, so that the fault sweep can interrupt a write of more files
// than a run of headlink makes:
//   write_together FOLDER COUNT
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>
#include <vector>

#include "fileio/fileio.h"

int main(int argc, char** argv) {
    headlink::startProgram("write_together: not enough memory\n", 1, false);
    if (argc != 3) return 2;
    const auto count = static_cast<std::size_t>(std::strtoul(argv[2], nullptr, 10));
    std::vector<std::vector<uint8_t>> bytes;
    std::vector<std::span<const uint8_t>> parts;
    std::vector<headlink::FileToWrite> files;
    bytes.reserve(count);
    parts.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        const std::string text = "file " + std::to_string(i) + "\n";
        bytes.emplace_back(text.begin(), text.end());
        parts.emplace_back(bytes.back());
    }
    for (std::size_t i = 0; i < count; ++i)
        files.push_back({std::string(argv[1]) + "/file" + std::to_string(i), std::span(&parts[i], 1)});
    return headlink::writeFilesTogether(files).ok() ? 0 : 1;
}
