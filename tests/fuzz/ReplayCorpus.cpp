// Runs every fuzz target over its saved corpus (tests/corpus/<target>/), so inputs that once
// crashed a parser are checked on every build, fuzzer or not.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "FuzzTargets.h"

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s CORPUS_DIR\n", argv[0]);
        return 2;
    }
    int files = 0;
    for (const fuzz::Target& target : fuzz::kTargets) {
        const std::filesystem::path folder = std::filesystem::path(argv[1]) / target.name;
        if (!std::filesystem::is_directory(folder)) continue;
        for (const auto& entry : std::filesystem::directory_iterator(folder)) {
            std::ifstream in(entry.path(), std::ios::binary);
            const std::vector<char> bytes(std::istreambuf_iterator<char>(in), {});
            target.run(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
            ++files;
        }
    }
    std::printf("replayed %d corpus files without a failure\n", files);
    return files > 0 ? 0 : 1;
}
