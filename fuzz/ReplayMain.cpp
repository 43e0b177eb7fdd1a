// Runs a fuzz target over files instead of generated inputs: each argument is
// a file, or a folder whose files are all run (a missing folder is no input).
// Used where libFuzzer is not linked, so that seeds and saved regressions are
// replayed by the ordinary tests, sanitizers included.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

bool Replay(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "cannot read %s\n", file.c_str());
        return false;
    }
    const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    int replayed = 0;
    bool ok = true;
    for (int i = 1; i < argc; ++i) {
        const std::filesystem::path path = argv[i];
        std::error_code error;
        if (std::filesystem::is_directory(path, error)) {
            for (const auto& entry : std::filesystem::directory_iterator(path))
                if (entry.is_regular_file()) {
                    ok &= Replay(entry.path());
                    ++replayed;
                }
        } else if (std::filesystem::exists(path, error)) {
            ok &= Replay(path);
            ++replayed;
        } else if (path.parent_path().filename() != "regressions" &&
                   path.parent_path().parent_path().filename() != "regressions") {
            std::fprintf(stderr, "no such input: %s\n", path.c_str());
            ok = false;
        }
    }
    std::printf("replayed %d inputs\n", replayed);
    return ok && replayed > 0 ? 0 : 1;
}
