// Replays a target's corpus: every file of the folders (or the single files) named on the
// command line goes through the target once, in name order. Built with the ordinary compilers,
// so that every test run checks the corpus, findings kept as regression inputs included.

#include "tests/fuzz/fuzz_target.hpp"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace
{

namespace fs = std::filesystem;

/// The files to replay; false (reported) when an argument is neither a file nor a folder holding
/// files, so that a moved or emptied corpus fails instead of passing with nothing replayed.
bool collect_inputs(const std::string& argument, std::vector<fs::path>& inputs)
{
    std::error_code error;
    if (fs::is_regular_file(argument, error))
    {
        inputs.emplace_back(argument);
        return true;
    }
    if (!fs::is_directory(argument, error))
    {
        std::fprintf(stderr, "replay: %s is neither a file nor a folder\n", argument.c_str());
        return false;
    }
    std::vector<fs::path> found;
    for (const auto& entry : fs::directory_iterator(argument, error))
    {
        if (entry.is_regular_file())
        {
            found.push_back(entry.path());
        }
    }
    if (found.empty())
    {
        std::fprintf(stderr, "replay: no inputs in %s\n", argument.c_str());
        return false;
    }
    std::sort(found.begin(), found.end());
    inputs.insert(inputs.end(), found.begin(), found.end());
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2)
    {
        std::fprintf(stderr, "usage: %s <corpus folder or file>...\n", argv[0]);
        return 2;
    }
    std::vector<fs::path> inputs;
    for (int index = 1; index < argc; ++index)
    {
        if (!collect_inputs(argv[index], inputs))
        {
            return 1;
        }
    }
    LLVMFuzzerInitialize(&argc, &argv);
    for (const auto& path : inputs)
    {
        std::ifstream file(path, std::ios::binary);
        const std::vector<char> content{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
        if (!file.good() && !file.eof())
        {
            std::fprintf(stderr, "replay: cannot read %s\n", path.c_str());
            return 1;
        }
        // Named first, so that the input of a crash is known.
        std::fprintf(stderr, "replay: %s (%zu bytes)\n", path.c_str(), content.size());
        LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(content.data()), content.size());
    }
    std::fprintf(stderr, "replay: %zu inputs, no finding\n", inputs.size());
    return 0;
}
