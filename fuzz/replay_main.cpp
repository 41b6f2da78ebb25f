// Runs a fuzz target over the files of its corpus, once each, outside
// libFuzzer: the inputs the fuzzer kept become an ordinary test.
//
// Arguments: files or folders (every regular file in a folder, not recursed).
// Exit status 0 when every input ran; a fault in the target crashes or aborts.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

bool RunFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "cannot read %s\n", path.c_str());
        return false;
    }
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                               std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    return true;
}

} // namespace

int main(int argc, char** argv) {
    int nRun = 0;
    for (int i = 1; i < argc; ++i) {
        std::error_code error;
        std::filesystem::path arg(argv[i]);
        if (std::filesystem::is_directory(arg, error)) {
            for (const auto& item : std::filesystem::directory_iterator(arg, error))
                if (item.is_regular_file() && RunFile(item.path()))
                    ++nRun;
        } else if (RunFile(arg)) {
            ++nRun;
        }
        if (error) {
            std::fprintf(stderr, "cannot list %s: %s\n", argv[i], error.message().c_str());
            return 1;
        }
    }
    std::printf("%d inputs ran\n", nRun);
    return nRun > 0 ? 0 : 1;
}
