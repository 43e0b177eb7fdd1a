#pragma once
// Helpers for the gloxen-convert tests: each test runs the real program as a
// child process in a scratch folder of its own, with small BMP pictures the
// test writes itself, and compares what lands on disk with what the
// conversion core gives for the same settings.

#include "Graphics.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace clitest {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

// What one run of the program left behind.
struct TRun {
    int Status = -1;  // the exit status; -1 when the program did not exit normally
    std::string Out;
    std::string Err;
};

// Runs gloxen-convert with `args` in the folder `cwd`; stdout and stderr are
// captured apart (neither is a terminal, so no progress line is drawn).
TRun RunConvert(const fs::path& cwd, const std::vector<std::string>& args);

// Runs gloxen-convert in `cwd` on a pseudo-terminal 120 columns wide and
// gives everything it wrote there (stdout and stderr together) and its
// exit status.
TRun RunOnTerminal(const fs::path& cwd, const std::vector<std::string>& args);

// A 24-bit bottom-up BMP of width x height whose pixel (x, y), counted from
// the top left, is pixel(x, y).
Bytes Bmp24(int width, int height, const std::function<TColor(int, int)>& pixel);

void WriteFile(const fs::path& path, const Bytes& bytes);
Bytes ReadFile(const fs::path& path);

// Every file and folder under `root`, relative to it, with each file's size
// (-1 for a folder): a run that must write nothing leaves this unchanged.
std::map<std::string, std::intmax_t> Listing(const fs::path& root);

// A fresh scratch folder under /tmp for each test, removed afterwards.
class ScratchTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    fs::path Path(const std::string& relative) const { return root_ / relative; }
    const fs::path& Root() const { return root_; }
    // Writes `bytes` at `relative`, making its folders.
    fs::path Put(const std::string& relative, const Bytes& bytes);

private:
    fs::path root_;
};

}  // namespace clitest
