// The main of a fuzz target built without libFuzzer: runs the target once on
// every file named, or in a folder named, so that an ordinary test checks the
// corpus. Like libFuzzer's -rss_limit_mb, it stops at the first input after
// which the process's peak memory passed its limit.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include <sys/resource.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv)
{
    namespace fs = std::filesystem;
    constexpr long kPeakLimitKb = 512 * 1024;
    std::vector<fs::path> inputs;
    for (int i = 1; i < argc; ++i) {
        if (!fs::is_directory(argv[i])) inputs.emplace_back(argv[i]);
        else
            for (const fs::directory_entry& entry : fs::directory_iterator(argv[i]))
                if (entry.is_regular_file()) inputs.push_back(entry.path());
    }
    std::sort(inputs.begin(), inputs.end());
    for (const fs::path& path : inputs) {
        std::ifstream file(path, std::ios::binary);
        const std::vector<char> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        std::fprintf(stderr, "%s\n", path.c_str());  // names the input that aborts
        if (!file.good() && !file.eof()) return std::fprintf(stderr, "cannot read it\n"), 1;
        (void)LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
        rusage usage{};
        if (getrusage(RUSAGE_SELF, &usage) == 0 && usage.ru_maxrss > kPeakLimitKb)
            return std::fprintf(stderr, "peak memory %ld MB, more than %ld MB\n", usage.ru_maxrss / 1024,
                                kPeakLimitKb / 1024), 1;
    }
    std::printf("replayed %zu inputs\n", inputs.size());
    return inputs.empty() ? 1 : 0;
}
