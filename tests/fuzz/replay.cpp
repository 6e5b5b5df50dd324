// Runs inputs once each through a fuzz target's checks, without libFuzzer,
// so that a normal build is held to the same properties:
//   replay_<target> FILE_OR_FOLDER...
// A broken property aborts, naming the input last announced on stderr.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size);

int main(int argc, char** argv) {
    namespace fs = std::filesystem;
    std::vector<fs::path> inputs;
    for (int i = 1; i < argc; ++i) {
        if (fs::is_directory(argv[i])) {
            for (const auto& entry : fs::directory_iterator(argv[i])) inputs.push_back(entry.path());
        } else {
            inputs.emplace_back(argv[i]);
        }
    }
    std::sort(inputs.begin(), inputs.end());
    if (inputs.empty()) {
        std::fprintf(stderr, "replay: no inputs\n");
        return 2;
    }
    for (const fs::path& path : inputs) {
        std::ifstream in(path, std::ios::binary);
        std::vector<uint8_t> bytes(fs::file_size(path));
        if (!in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()))) {
            std::fprintf(stderr, "replay: cannot read %s\n", path.string().c_str());
            return 2;
        }
        std::fprintf(stderr, "replay: %s\n", path.string().c_str());
        // libFuzzer never passes a null pointer, even for an empty input.
        static const uint8_t none = 0;
        LLVMFuzzerTestOneInput(bytes.empty() ? &none : bytes.data(), bytes.size());
    }
    std::printf("replay: %zu inputs, every property held\n", inputs.size());
    return 0;
}
