// Runs a libFuzzer target's entry point once on every file of its committed
// corpus, so that the ordinary tests (and the sanitized tree) replay every
// seed: a seed that once crashed a reader stays a test.
//
//   replay_fuzz_npy tests/fuzz/corpus_npy
#include <dirent.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s CORPUS-FOLDER\n", argv[0]);
        return 2;
    }
    const std::string folder = argv[1];
    std::vector<std::string> names;
    if (DIR *d = opendir(folder.c_str())) {
        while (const dirent *e = readdir(d))
            if (e->d_name[0] != '.') names.push_back(e->d_name);
        closedir(d);
    }
    if (names.empty()) {
        std::fprintf(stderr, "%s: no seeds in %s\n", argv[0], folder.c_str());
        return 1;
    }
    std::sort(names.begin(), names.end());
    for (const std::string &name : names) {
        std::ifstream in(folder + "/" + name, std::ios::binary);
        if (!in) {
            std::fprintf(stderr, "%s: cannot read %s\n", argv[0], name.c_str());
            return 1;
        }
        const std::vector<char> bytes{std::istreambuf_iterator<char>(in), {}};
        // A seed that crashes ends the program here; its name is the last line.
        std::fprintf(stderr, "seed %s\n", name.c_str());
        std::vector<uint8_t> copy(bytes.begin(), bytes.end());
        LLVMFuzzerTestOneInput(copy.data(), copy.size());
    }
    std::fprintf(stderr, "%zu seeds replayed\n", names.size());
    return 0;
}
