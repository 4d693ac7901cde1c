// Runs the fuzz target without libFuzzer: over the files named on the
// command line (a corpus or crash reproducers), or else over a fixed
// sequence of pseudo-random inputs, so that ordinary builds exercise it.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
    if (argc > 1) {
        for (int i = 1; i < argc; ++i) {
            FILE* f = std::fopen(argv[i], "rb");
            if (!f) { std::perror(argv[i]); return 2; }
            std::vector<uint8_t> bytes;
            for (int c; (c = std::fgetc(f)) != EOF;) bytes.push_back(uint8_t(c));
            std::fclose(f);
            LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
        }
        std::printf("replayed %d inputs\n", argc - 1);
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
