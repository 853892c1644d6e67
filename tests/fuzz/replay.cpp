// Replays inputs through a fuzz target, as an ordinary test: every file in each folder named on
// the command line, in name order. A folder that does not exist holds no inputs. A fault shows
// as the target's own abort or a sanitizer report, which fail the run.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size);

int main(int argc, char **argv)
{
    std::size_t replayed = 0;
    for (int i = 1; i < argc; i++) {
        std::error_code error;
        if (!std::filesystem::is_directory(argv[i], error))
            continue;
        std::vector<std::filesystem::path> inputs;
        for (const auto &entry : std::filesystem::directory_iterator(argv[i]))
            if (entry.is_regular_file())
                inputs.push_back(entry.path());
        std::sort(inputs.begin(), inputs.end());
        for (const auto &path : inputs) {
            std::ifstream file(path, std::ios::binary);
            const std::string bytes((std::istreambuf_iterator<char>(file)), {});
            LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t *>(bytes.data()), bytes.size());
            replayed++;
        }
    }
    printf("replayed %zu inputs\n", replayed);
    return replayed > 0 ? 0 : 1;
}
