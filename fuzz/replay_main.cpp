// Runs the fuzz target without libFuzzer: over the files named on the
// command line (crash reproducers, or directories such as the committed
// corpus, whose files are replayed in name order), or else over a fixed
// sequence of pseudo-random inputs, so that ordinary builds exercise it.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <filesystem>
#include <string>
#include <random>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
    if (argc > 1) {
        std::vector<std::string> files;
        for (int i = 1; i < argc; ++i) {
            std::error_code ec;
            if (std::filesystem::is_directory(argv[i], ec)) {
                std::vector<std::string> inDir;
                for (const auto& e : std::filesystem::directory_iterator(argv[i]))
                    if (e.is_regular_file()) inDir.push_back(e.path().string());
                std::sort(inDir.begin(), inDir.end());
                if (inDir.empty()) { std::fprintf(stderr, "%s: no inputs\n", argv[i]); return 2; }
                files.insert(files.end(), inDir.begin(), inDir.end());
            } else {
                files.push_back(argv[i]);
            }
        }
        for (const std::string& name : files) {
            FILE* f = std::fopen(name.c_str(), "rb");
            if (!f) { std::perror(name.c_str()); return 2; }
            std::vector<uint8_t> bytes;
            for (int c; (c = std::fgetc(f)) != EOF;) bytes.push_back(uint8_t(c));
            std::fclose(f);
            LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
        }
        std::printf("replayed %zu inputs\n", files.size());
        return 0;
    }
    std::mt19937 rng(20261207u);
    const int runs = 30000;
    std::vector<uint8_t> bytes;
    for (int r = 0; r < runs; ++r) {
        bytes.resize(rng() % 96);
        for (auto& b : bytes) b = uint8_t(rng());
        LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    }
    std::printf("ran %d generated inputs\n", runs);
    return 0;
}
